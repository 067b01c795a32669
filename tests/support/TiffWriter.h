// Writer for little-endian TIFF test files. A TiffBuilder collects data blocks
// (strips, value arrays) and directory entries exactly as given, so a test can
// make valid files as well as deliberately broken ones: wrong field types,
// entries in any order, offsets that point anywhere.
#pragma once

#include <cstdint>
#include <vector>

#include "support/TempDir.h"

namespace norvane::test {

inline constexpr std::uint16_t kTiffShort = 3;
inline constexpr std::uint16_t kTiffLong = 4;

struct TiffEntry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint32_t value = 0;  // the value field, written as a 32-bit number
};

// The file is laid out as: 8-byte header, the data blocks in the order they
// were added, the directory (entry count, entries, next-directory offset).
class TiffBuilder {
 public:
  // Appends a data block and returns its offset in the file.
  std::uint32_t AddData(const Bytes& bytes);
  std::uint32_t AddShorts(const std::vector<std::uint16_t>& values);
  std::uint32_t AddLongs(const std::vector<std::uint32_t>& values);

  // Appends an entry; entries are written in the order they were added.
  TiffBuilder& Add(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value);
  TiffBuilder& Short(std::uint16_t tag, std::uint32_t value) { return Add(tag, kTiffShort, 1, value); }
  TiffBuilder& Long(std::uint16_t tag, std::uint32_t value) { return Add(tag, kTiffLong, 1, value); }
  // Replaces every entry of `tag` by the given one, keeping its place, or
  // appends it when the tag is absent.
  TiffBuilder& Set(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value);
  // Moves the entry of `tag` to the front of the directory.
  TiffBuilder& MoveToFront(std::uint16_t tag);

  std::vector<TiffEntry>& entries() { return entries_; }

  // Header fields and the directory's tail.
  std::uint8_t order[2] = {'I', 'I'};
  std::uint16_t version = 42;
  std::uint32_t nextDirectory = 0;

  Bytes Build() const;

 private:
  Bytes data_;
  std::vector<TiffEntry> entries_;
};

// Tags the reader understands.
inline constexpr std::uint16_t kTagWidth = 256;
inline constexpr std::uint16_t kTagLength = 257;
inline constexpr std::uint16_t kTagBits = 258;
inline constexpr std::uint16_t kTagCompression = 259;
inline constexpr std::uint16_t kTagPhotometric = 262;
inline constexpr std::uint16_t kTagStripOffsets = 273;
inline constexpr std::uint16_t kTagSamplesPerPixel = 277;
inline constexpr std::uint16_t kTagRowsPerStrip = 278;
inline constexpr std::uint16_t kTagStripByteCounts = 279;

// An uncompressed grey picture in one strip, tags in ascending order.
// `samples` are the stored bytes: one per pixel up to 8 bits per sample, two
// (low byte first) above.
TiffBuilder GrayTiff(int width, int height, int bitsPerSample, const Bytes& samples);

// An uncompressed RGB picture (three 8-bit samples, red first) split into
// strips of `rowsPerStrip` rows; the last strip holds the remaining rows.
// With one strip the offsets and byte counts are inline, with several they
// are arrays. `samplesPerPixel` is only the tag's value: every pixel is stored
// with three bytes.
TiffBuilder RgbTiff(int width, int height, const Bytes& rgbTopDown, int rowsPerStrip, int samplesPerPixel = 3);

}  // namespace norvane::test
