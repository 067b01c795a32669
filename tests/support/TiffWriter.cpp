#include "support/TiffWriter.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace norvane::test {

namespace {
constexpr std::uint32_t kHeaderBytes = 8;
}

std::uint32_t TiffBuilder::AddData(const Bytes& bytes) {
  const auto offset = static_cast<std::uint32_t>(kHeaderBytes + data_.size());
  PutBytes(data_, bytes);
  return offset;
}

std::uint32_t TiffBuilder::AddShorts(const std::vector<std::uint16_t>& values) {
  Bytes bytes;
  for (std::uint16_t v : values) PutU16(bytes, v);
  return AddData(bytes);
}

std::uint32_t TiffBuilder::AddLongs(const std::vector<std::uint32_t>& values) {
  Bytes bytes;
  for (std::uint32_t v : values) PutU32(bytes, v);
  return AddData(bytes);
}

TiffBuilder& TiffBuilder::Add(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
  entries_.push_back(TiffEntry{tag, type, count, value});
  return *this;
}

TiffBuilder& TiffBuilder::Set(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
  bool found = false;
  for (TiffEntry& e : entries_) {
    if (e.tag == tag) {
      e = TiffEntry{tag, type, count, value};
      found = true;
    }
  }
  if (!found) Add(tag, type, count, value);
  return *this;
}

TiffBuilder& TiffBuilder::MoveToFront(std::uint16_t tag) {
  std::stable_partition(entries_.begin(), entries_.end(), [tag](const TiffEntry& e) { return e.tag == tag; });
  return *this;
}

Bytes TiffBuilder::Build() const {
  Bytes out = {order[0], order[1]};
  PutU16(out, version);
  // The directory starts on a word boundary.
  PutU32(out, static_cast<std::uint32_t>(kHeaderBytes + data_.size() + data_.size() % 2));
  PutBytes(out, data_);
  if (data_.size() % 2 != 0) out.push_back(0);
  PutU16(out, static_cast<std::uint16_t>(entries_.size()));
  for (const TiffEntry& e : entries_) {
    PutU16(out, e.tag);
    PutU16(out, e.type);
    PutU32(out, e.count);
    PutU32(out, e.value);
  }
  PutU32(out, nextDirectory);
  return out;
}

TiffBuilder GrayTiff(int width, int height, int bitsPerSample, const Bytes& samples) {
  const std::size_t bytesPerPixel = bitsPerSample > 8 ? 2 : 1;
  if (width < 0 || height < 0 ||
      samples.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * bytesPerPixel) {
    ADD_FAILURE() << "GrayTiff: sample bytes do not match " << width << " x " << height;
  }
  TiffBuilder b;
  const std::uint32_t strip = b.AddData(samples);
  b.Long(kTagWidth, static_cast<std::uint32_t>(width))
      .Long(kTagLength, static_cast<std::uint32_t>(height))
      .Short(kTagBits, static_cast<std::uint32_t>(bitsPerSample))
      .Short(kTagCompression, 1)
      .Short(kTagPhotometric, 1)
      .Long(kTagStripOffsets, strip)
      .Short(kTagSamplesPerPixel, 1)
      .Long(kTagRowsPerStrip, static_cast<std::uint32_t>(height))
      .Long(kTagStripByteCounts, static_cast<std::uint32_t>(samples.size()));
  return b;
}

TiffBuilder RgbTiff(int width, int height, const Bytes& rgbTopDown, int rowsPerStrip, int samplesPerPixel) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  if (width < 0 || height < 0 || rowsPerStrip <= 0 ||
      rgbTopDown.size() != rowBytes * static_cast<std::size_t>(height)) {
    ADD_FAILURE() << "RgbTiff: bad arguments for " << width << " x " << height;
    return TiffBuilder{};
  }
  TiffBuilder b;
  const std::uint32_t bits = b.AddShorts({8, 8, 8});
  std::vector<std::uint32_t> offsets;
  std::vector<std::uint32_t> counts;
  for (int row = 0; row < height || (row == 0 && height == 0); row += rowsPerStrip) {
    const int rows = std::min(rowsPerStrip, height - row);
    const auto first = rgbTopDown.begin() + static_cast<std::ptrdiff_t>(rowBytes * static_cast<std::size_t>(row));
    const Bytes strip(first, first + static_cast<std::ptrdiff_t>(rowBytes * static_cast<std::size_t>(rows)));
    offsets.push_back(b.AddData(strip));
    counts.push_back(static_cast<std::uint32_t>(strip.size()));
  }
  b.Long(kTagWidth, static_cast<std::uint32_t>(width))
      .Long(kTagLength, static_cast<std::uint32_t>(height))
      .Add(kTagBits, kTiffShort, 3, bits)
      .Short(kTagCompression, 1)
      .Short(kTagPhotometric, 2);
  const auto stripCount = static_cast<std::uint32_t>(offsets.size());
  if (stripCount == 1) {
    b.Long(kTagStripOffsets, offsets[0]);
  } else {
    b.Add(kTagStripOffsets, kTiffLong, stripCount, b.AddLongs(offsets));
  }
  b.Short(kTagSamplesPerPixel, static_cast<std::uint32_t>(samplesPerPixel))
      .Long(kTagRowsPerStrip, static_cast<std::uint32_t>(rowsPerStrip));
  if (stripCount == 1) {
    b.Long(kTagStripByteCounts, counts[0]);
  } else {
    b.Add(kTagStripByteCounts, kTiffLong, stripCount, b.AddLongs(counts));
  }
  return b;
}

}  // namespace norvane::test
