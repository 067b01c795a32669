#include "image/BmpReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/ImageFile.h"

namespace norvane {
namespace {

constexpr std::uint16_t kBmpMagic = 0x4D42;  // "BM"
constexpr std::size_t kFileHeaderSize = 14;
// The information header is always read as 40 bytes, whatever size it claims;
// the colour table therefore starts at offset 54.
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kPaletteEntries = 256;

struct Variant {
  std::int64_t rowLength = 0;        // bytes per stored row, padding included
  std::uint32_t defaultColours = 0;  // 0 for the variants without a colour table
  PixelKind kind = PixelKind::Empty;
};

// Row lengths are padded to a multiple of 4 bytes, except for 32 bits per
// pixel, whose rows are always a multiple of 4 already.
bool SelectVariant(int bitsPerPixel, std::int64_t width, Variant& v) {
  switch (bitsPerPixel) {
    case 1: v = {((width + 7) / 8 + 3) / 4 * 4, 2, PixelKind::Indexed8}; return true;
    case 4: v = {((width + 1) / 2 + 3) / 4 * 4, 16, PixelKind::Indexed8}; return true;
    case 8: v = {(width + 3) / 4 * 4, 256, PixelKind::Indexed8}; return true;
    case 16: v = {(2 * width + 3) / 4 * 4, 0, PixelKind::Bgr24}; return true;
    case 24: v = {(3 * width + 3) / 4 * 4, 0, PixelKind::Bgr24}; return true;
    case 32: v = {4 * width, 0, PixelKind::Bgr24}; return true;
    default: return false;
  }
}

// Converts one stored row of `width` pixels into one row of the picture.
void ConvertRow(int bitsPerPixel, const std::uint8_t* src, std::uint8_t* dst, std::size_t width) {
  switch (bitsPerPixel) {
    case 1:
      // Most significant bit first.
      for (std::size_t j = 0; j < width; ++j) dst[j] = (src[j >> 3] >> (7 - (j & 7))) & 1;
      break;
    case 4:
      // High nibble first.
      for (std::size_t j = 0; j < width; ++j) dst[j] = (j & 1) ? (src[j >> 1] & 0x0F) : (src[j >> 1] >> 4);
      break;
    case 8:
      std::memcpy(dst, src, width);
      break;
    case 16:
      // 5-5-5: blue in the low bits, the top bit is unused.
      for (std::size_t j = 0; j < width; ++j, src += 2, dst += 3) {
        const unsigned v = static_cast<unsigned>(src[0]) | static_cast<unsigned>(src[1]) << 8;
        dst[0] = static_cast<std::uint8_t>((v & 0x1F) << 3);
        dst[1] = static_cast<std::uint8_t>(((v >> 5) & 0x1F) << 3);
        dst[2] = static_cast<std::uint8_t>(((v >> 10) & 0x1F) << 3);
      }
      break;
    case 24:
      std::memcpy(dst, src, 3 * width);
      break;
    case 32:
      // The fourth byte of each pixel is unused.
      for (std::size_t j = 0; j < width; ++j, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
      break;
    default:
      break;
  }
}

}  // namespace

LoadResult ReadBmp(DecodedImage& image, const std::string& path) {
  if (image.pixelKind != PixelKind::Empty) image.ReleasePixels();

  UniqueFile file;
  std::int64_t fileSize = 0;
  if (const LoadResult r = OpenImageFile(path, file, fileSize); r != LoadResult::LoadOk) return r;
  std::FILE* f = file.get();

  std::uint8_t header[kFileHeaderSize + kInfoHeaderSize];
  if (std::fread(header, 1, kFileHeaderSize, f) != kFileHeaderSize) return LoadResult::ReadError;
  if (GetLe16(header) != kBmpMagic) return LoadResult::BadFormat;
  if (std::fread(header + kFileHeaderSize, 1, kInfoHeaderSize, f) != kInfoHeaderSize) return LoadResult::ReadError;
  // Run-length and bit-field files are well formed but not handled.
  if (GetLe32(header + 30) != 0) return LoadResult::Unsupported;

  const std::int64_t dataOffset = GetLe32(header + 10);
  const std::int64_t width = GetLeI32(header + 18);
  const std::int64_t height = GetLeI32(header + 22);
  const int bitsPerPixel = GetLe16(header + 28);
  const std::uint32_t coloursUsed = GetLe32(header + 46);

  Variant variant;
  if (!SelectVariant(bitsPerPixel, width, variant)) return LoadResult::Unsupported;
  if (width < 0) return LoadResult::BadFormat;
  // A negative height marks a file stored top row first. That is a well-formed
  // variant this reader does not handle, so it is refused as Unsupported.
  if (height < 0) return LoadResult::Unsupported;
  if (const LoadResult r = CheckDimensions(width, height); r != LoadResult::LoadOk) return r;

  // Entries the file does not supply stay black (all zero), so an index beyond
  // the colour table gives a black pixel whatever the image held before. Of a
  // table that declares more than 256 colours only the first 256 entries are
  // read; the rest could never be selected by an 8-bit index, and the rows are
  // found through the data offset, not after the table.
  std::array<PaletteEntry, kPaletteEntries> palette{};
  if (variant.kind == PixelKind::Indexed8) {
    const std::uint32_t declared = coloursUsed == 0 ? variant.defaultColours : coloursUsed;
    const std::size_t count = std::min<std::size_t>(declared, kPaletteEntries);
    std::uint8_t table[kPaletteEntries * 4];
    if (std::fread(table, 4, count, f) != count) return LoadResult::ReadError;
    for (std::size_t i = 0; i < count; ++i) {
      palette[i] = PaletteEntry{table[4 * i], table[4 * i + 1], table[4 * i + 2], table[4 * i + 3]};
    }
  }

  // The file must hold every row before the picture is allocated, so that a
  // short or hostile file cannot make us reserve memory for rows it lacks.
  // No overflow: the row length is at most 4 * width + 3, and the height and
  // width * height are at most kMaxPixels, so the product stays below 2^43.
  static_assert(kMaxPixels <= (std::int64_t{1} << 40));
  const std::int64_t pixelBytes = variant.rowLength * height;
  if (pixelBytes > 0 && dataOffset + pixelBytes > fileSize) return LoadResult::ReadError;
  if (::fseeko(f, static_cast<off_t>(dataOffset), SEEK_SET) != 0) return LoadResult::ReadError;

  if (image.AllocatePixels(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), variant.kind) !=
      LoadResult::LoadOk) {
    return LoadResult::OutOfMemory;
  }
  if (variant.kind == PixelKind::Indexed8) image.palette = palette;

  if (pixelBytes > 0) {
    PixelBuffer row;
    const auto rowLength = static_cast<std::size_t>(variant.rowLength);
    if (!row.Allocate(rowLength)) return LoadResult::OutOfMemory;
    const auto w = static_cast<std::size_t>(width);
    const std::size_t stride = w * static_cast<std::size_t>(BytesPerPixel(variant.kind));
    std::uint8_t* const pixels = variant.kind == PixelKind::Indexed8 ? image.indexed.data() : image.colour.data();
    // The file stores the bottom row first.
    for (std::int64_t i = 0; i < height; ++i) {
      if (std::fread(row.data(), 1, rowLength, f) != rowLength) return LoadResult::ReadError;
      ConvertRow(bitsPerPixel, row.data(), pixels + static_cast<std::size_t>(height - 1 - i) * stride, w);
    }
  }
  file.reset();

  // Running out of memory here still leaves a complete Indexed8 picture with
  // the file's palette, which every consumer can use.
  static_cast<void>(image.ExpandPalette());
  return LoadResult::LoadOk;
}

}  // namespace norvane
