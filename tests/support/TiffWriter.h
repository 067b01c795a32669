// Writer for little-endian TIFF test files. A TiffBuilder collects data blocks
// (strips, value arrays) and directory entries exactly as given, so a test can
// make valid files as well as deliberately broken ones: wrong field types,
// entries in any order, offsets that point anywhere.
#pragma once

#include "support/TempDir.h"

namespace norvane::test {

// Field types and the tags the reader understands.
inline constexpr std::uint16_t kTiffShort = 3, kTiffLong = 4;
inline constexpr std::uint16_t kTagWidth = 256, kTagLength = 257, kTagBits = 258, kTagCompression = 259,
                               kTagPhotometric = 262, kTagStripOffsets = 273, kTagSamplesPerPixel = 277,
                               kTagRowsPerStrip = 278, kTagStripByteCounts = 279;

struct TiffEntry {
  std::uint16_t tag = 0, type = 0;
  std::uint32_t count = 0, value = 0;  // the value field is written as a 32-bit number
};

// The file is laid out as: 8-byte header, the data blocks in the order they
// were added, the directory (entry count, entries, next-directory offset).
class TiffBuilder {
 public:
  // Appends a data block and returns its offset in the file.
  std::uint32_t AddData(const Bytes& bytes);
  std::uint32_t AddLongs(const std::vector<std::uint32_t>& values);
  // Replaces every entry of `tag` in its place, or appends one.
  TiffBuilder& Set(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value);
  // Moves the entry of `tag` to the front of the directory.
  TiffBuilder& MoveToFront(std::uint16_t tag);
  std::vector<TiffEntry>& entries() { return entries_; }
  Bytes Build() const;

  std::uint8_t order[2] = {'I', 'I'};  // byte order mark
  std::uint32_t nextDirectory = 0;

 private:
  Bytes data_;
  std::vector<TiffEntry> entries_;
};

// An uncompressed grey picture in one strip, tags in ascending order.
// `samples` are the stored bytes: one per pixel up to 8 bits per sample, two
// (low byte first) above.
TiffBuilder GrayTiff(int width, int height, int bitsPerSample, const Bytes& samples);

// An uncompressed RGB picture (three 8-bit samples, red first) in strips of
// `rowsPerStrip` rows, tags in ascending order. With one strip the offsets
// and byte counts are inline, with several they are arrays.
// `samplesPerPixel` is only the tag's value: every pixel has three bytes.
TiffBuilder RgbTiff(int width, int height, const Bytes& rgbTopDown, int rowsPerStrip, int samplesPerPixel = 3);

}  // namespace norvane::test
