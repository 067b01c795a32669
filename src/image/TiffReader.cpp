#include "image/TiffReader.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>

#include "image/ImageFile.h"

namespace norvane {
namespace {

constexpr std::uint16_t kTagImageWidth = 256;
constexpr std::uint16_t kTagImageLength = 257;
constexpr std::uint16_t kTagBitsPerSample = 258;
constexpr std::uint16_t kTagCompression = 259;
constexpr std::uint16_t kTagPhotometric = 262;
constexpr std::uint16_t kTagStripOffsets = 273;
constexpr std::uint16_t kTagSamplesPerPixel = 277;
constexpr std::uint16_t kTagRowsPerStrip = 278;
constexpr std::uint16_t kTagStripByteCounts = 279;

constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint32_t kNoCompression = 1;
constexpr std::uint32_t kBlackIsZero = 1;
constexpr std::uint32_t kRgb = 2;

// The open file, read only at absolute positions. Every read is exact: a read
// that would run past the end of the file fails before touching the file, so
// a header or directory cut short is never taken for values.
class TiffInput {
 public:
  // Opens `path` and learns its size. Fails for files that cannot be opened
  // and for anything but a regular file.
  bool Open(const std::string& path) {
    std::int64_t size = 0;
    if (OpenImageFile(path, file_, size) != LoadResult::LoadOk) return false;
    size_ = static_cast<std::uint64_t>(size);
    return true;
  }

  std::uint64_t size() const { return size_; }

  // True when `length` bytes from `offset` lie inside the file. Nothing at
  // all can be read anywhere, even past the end.
  bool Holds(std::uint64_t offset, std::uint64_t length) const {
    return length == 0 || (offset <= size_ && length <= size_ - offset);
  }

  bool ReadAt(std::uint64_t offset, void* out, std::size_t length) {
    if (!Holds(offset, length)) return false;
    if (length == 0) return true;
    if (fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, length, file_.get()) == length;
  }

 private:
  UniqueFile file_;
  std::uint64_t size_ = 0;
};

// One 12-byte directory entry.
struct Entry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint32_t value = 0;  // the value itself or the offset of the values
};

// The value field holds the value itself when the type code, taken as a
// signed 16-bit number, times the count is at most 4. The type code stands in
// for the size of one value here; a negative code therefore always counts as
// inline. The product is formed in 64 bits so that no count can overflow it.
bool IsInline(const Entry& e) {
  return static_cast<std::int64_t>(static_cast<std::int16_t>(e.type)) * static_cast<std::int64_t>(e.count) <= 4;
}

// What the directory says about the picture. The defaults hold for tags that
// are missing: one strip at offset 0, no rows per strip, one byte count.
struct Directory {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PixelKind kind = PixelKind::Empty;
  std::uint32_t stripCount = 1;
  std::uint32_t offsetsValue = 0;
  std::uint32_t rowsPerStrip = 0;
  std::uint32_t byteCountCount = 1;
  std::uint32_t byteCountsValue = 0;
};

// Handles one entry. Each check runs when its entry is read, so the order of
// the directory decides which failure is reported first, and SamplesPerPixel
// sees only the kind that an earlier BitsPerSample entry has set.
LoadResult ApplyEntry(TiffInput& in, const Entry& e, Directory& dir) {
  switch (e.tag) {
    case kTagImageWidth:
      if (!IsInline(e)) return LoadResult::BadFormat;
      dir.width = e.value;
      break;
    case kTagImageLength:
      if (!IsInline(e)) return LoadResult::BadFormat;
      dir.height = e.value;
      break;
    case kTagBitsPerSample:
      if (IsInline(e)) {
        if (e.value < 9) {
          dir.kind = PixelKind::Indexed8;
        } else if (e.value <= 16) {
          dir.kind = PixelKind::Gray16;
        } else {
          return LoadResult::Unsupported;
        }
      } else {
        // Only the RGB layout of three 8-bit samples is read.
        if (e.type != kTypeShort || e.count != 3) return LoadResult::Unsupported;
        std::uint8_t bits[6];
        if (!in.ReadAt(e.value, bits, sizeof bits)) return LoadResult::ReadError;
        for (int i = 0; i < 3; ++i) {
          if (GetLe16(bits + 2 * i) != 8) return LoadResult::Unsupported;
        }
        dir.kind = PixelKind::Bgr24;
      }
      break;
    case kTagCompression:
      if (!IsInline(e)) return LoadResult::BadFormat;
      if (e.value != kNoCompression) return LoadResult::Unsupported;
      break;
    case kTagPhotometric:
      if (!IsInline(e)) return LoadResult::BadFormat;
      if (e.value != kBlackIsZero && e.value != kRgb) return LoadResult::Unsupported;
      break;
    case kTagStripOffsets:
      dir.stripCount = e.count;
      dir.offsetsValue = e.value;
      break;
    case kTagSamplesPerPixel:
      if (dir.kind == PixelKind::Bgr24 && e.value < 3) return LoadResult::Unsupported;
      break;
    case kTagRowsPerStrip:
      dir.rowsPerStrip = e.value;
      break;
    case kTagStripByteCounts:
      dir.byteCountCount = e.count;
      dir.byteCountsValue = e.value;
      break;
    default:
      break;  // every other tag is read and ignored
  }
  return LoadResult::LoadOk;
}

// Reads the header and the first directory. A header shorter than 8 bytes is
// BadFormat when the bytes present already show a wrong byte order or
// version, else ReadError; so is any part of the directory cut off by the end
// of the file.
LoadResult ReadDirectory(TiffInput& in, Directory& dir) {
  std::uint8_t header[8] = {};
  const auto present = static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), sizeof header));
  if (!in.ReadAt(0, header, present)) return LoadResult::ReadError;
  if (present >= 2 && (header[0] != 'I' || header[1] != 'I')) return LoadResult::BadFormat;
  if (present >= 4 && GetLe16(header + 2) != 42) return LoadResult::BadFormat;
  if (present < sizeof header) return LoadResult::ReadError;

  std::uint64_t pos = GetLe32(header + 4);
  std::uint8_t countBytes[2];
  if (!in.ReadAt(pos, countBytes, sizeof countBytes)) return LoadResult::ReadError;
  pos += sizeof countBytes;
  // The entry count is a signed 16-bit number; zero or less means no entries.
  const auto entries = static_cast<std::int16_t>(GetLe16(countBytes));
  for (int i = 0; i < entries; ++i) {
    std::uint8_t raw[12];
    if (!in.ReadAt(pos, raw, sizeof raw)) return LoadResult::ReadError;
    pos += sizeof raw;
    const Entry e{GetLe16(raw), GetLe16(raw + 2), GetLe32(raw + 4), GetLe32(raw + 8)};
    if (const LoadResult r = ApplyEntry(in, e, dir); r != LoadResult::LoadOk) return r;
  }

  std::uint8_t next[4];
  if (!in.ReadAt(pos, next, sizeof next)) return LoadResult::ReadError;
  // Files with several images are refused as a whole.
  if (GetLe32(next) != 0) return LoadResult::Unsupported;
  return LoadResult::LoadOk;
}

// Where the strips are in the file and how long each one is.
class StripTable {
 public:
  // Reads the offset and byte-count arrays when there are several strips; a
  // single strip starts at the offsets value and its length is the size of
  // the whole picture, whatever the file's byte count says.
  //
  // Refused before anything is allocated:
  // - several strips without rows per strip: every strip would land on the
  //   first row, so the picture cannot be placed (BadFormat);
  // - fewer byte counts than strips: the missing lengths are unknown
  //   (BadFormat), and the counts array is never read past its end;
  // - arrays that do not fit in the file (ReadError). Each entry takes four
  //   bytes of the file, so no count, however large, can make the arrays
  //   bigger than the file itself.
  LoadResult Read(TiffInput& in, const Directory& dir, std::uint64_t pictureBytes) {
    count_ = dir.stripCount;
    if (count_ == 1) {
      singleOffset_ = dir.offsetsValue;
      singleBytes_ = pictureBytes;
      return LoadResult::LoadOk;
    }
    if (count_ > 1 && dir.rowsPerStrip == 0) return LoadResult::BadFormat;
    if (dir.byteCountCount < count_) return LoadResult::BadFormat;
    const std::uint64_t offsetsBytes = std::uint64_t{4} * count_;
    const std::uint64_t countsBytes = std::uint64_t{4} * dir.byteCountCount;
    if (!in.Holds(dir.offsetsValue, offsetsBytes) || !in.Holds(dir.byteCountsValue, countsBytes)) {
      return LoadResult::ReadError;
    }
    if (!offsets_.Allocate(offsetsBytes) || !counts_.Allocate(countsBytes)) return LoadResult::OutOfMemory;
    if (!in.ReadAt(dir.offsetsValue, offsets_.data(), offsets_.size()) ||
        !in.ReadAt(dir.byteCountsValue, counts_.data(), counts_.size())) {
      return LoadResult::ReadError;
    }
    return LoadResult::LoadOk;
  }

  std::uint32_t count() const { return count_; }

  std::uint64_t Offset(std::uint32_t i) const {
    return count_ == 1 ? singleOffset_ : GetLe32(offsets_.data() + std::size_t{4} * i);
  }

  std::uint64_t Length(std::uint32_t i) const {
    return count_ == 1 ? singleBytes_ : GetLe32(counts_.data() + std::size_t{4} * i);
  }

 private:
  std::uint32_t count_ = 0;
  std::uint64_t singleOffset_ = 0;
  std::uint64_t singleBytes_ = 0;
  PixelBuffer offsets_;  // raw little-endian 32-bit values as stored
  PixelBuffer counts_;
};

PixelBuffer& BufferOf(DecodedImage& image) {
  switch (image.pixelKind) {
    case PixelKind::Gray16: return image.gray16;
    case PixelKind::Bgr24: return image.colour;
    default: return image.indexed;
  }
}

}  // namespace

LoadResult ReadTiff(DecodedImage& image, const std::string& path) {
  TiffInput in;
  if (!in.Open(path)) return LoadResult::CannotOpen;

  Directory dir;
  if (const LoadResult r = ReadDirectory(in, dir); r != LoadResult::LoadOk) return r;
  if (dir.kind == PixelKind::Empty) return LoadResult::Unsupported;  // no BitsPerSample

  // The dimensions are signed 32-bit numbers: negative ones are malformed,
  // huge ones refused, before any allocation.
  const auto width = static_cast<std::int32_t>(dir.width);
  const auto height = static_cast<std::int32_t>(dir.height);
  if (const LoadResult r = CheckDimensions(width, height); r != LoadResult::LoadOk) return r;
  const auto bytesPerPixel = static_cast<std::uint64_t>(BytesPerPixel(dir.kind));
  const std::uint64_t rowBytes = static_cast<std::uint64_t>(width) * bytesPerPixel;
  const std::uint64_t pictureBytes = rowBytes * static_cast<std::uint64_t>(height);

  StripTable strips;
  if (const LoadResult r = strips.Read(in, dir, pictureBytes); r != LoadResult::LoadOk) return r;

  // Every strip must lie wholly inside the file. Checking this against the
  // file size before the pixel buffer exists keeps a tiny file that promises
  // a huge picture from allocating it.
  for (std::uint32_t i = 0; i < strips.count(); ++i) {
    if (!in.Holds(strips.Offset(i), strips.Length(i))) return LoadResult::ReadError;
  }

  if (const LoadResult r = image.AllocatePixels(width, height, dir.kind); r != LoadResult::LoadOk) return r;
  std::uint8_t* pixels = BufferOf(image).data();

  // Strip i holds the rows from i x rows-per-strip on. A strip that would run
  // past the end of the picture is cut at the end of the buffer, and one that
  // starts below the last row is skipped: writers commonly pad the last strip
  // to a whole number of rows, and such files still decode correctly.
  for (std::uint32_t i = 0; i < strips.count(); ++i) {
    // Both factors are below 2^32, so the product fits in 64 bits.
    const std::uint64_t firstRow = static_cast<std::uint64_t>(i) * dir.rowsPerStrip;
    if (firstRow >= static_cast<std::uint64_t>(height)) continue;
    const std::uint64_t start = firstRow * rowBytes;
    const auto length = static_cast<std::size_t>(std::min(strips.Length(i), pictureBytes - start));
    if (!in.ReadAt(strips.Offset(i), pixels + start, length)) return LoadResult::ReadError;
    if (dir.kind == PixelKind::Bgr24) {
      // Samples are stored red, green, blue; the colour buffer holds blue,
      // green, red. Only whole pixels of the strip are turned round.
      std::uint8_t* p = pixels + start;
      for (std::size_t k = 0; k + 3 <= length; k += 3) std::swap(p[k], p[k + 2]);
    }
  }

  if (dir.kind == PixelKind::Indexed8) image.SetGrayPalette();
  return LoadResult::LoadOk;
}

}  // namespace norvane
