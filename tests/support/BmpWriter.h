// Writers for BMP test files: plain 24-bit pictures, and a field-by-field
// builder for hand-made (also deliberately broken) headers.
#pragma once

#include <array>
#include <optional>

#include "support/TempDir.h"

namespace norvane::test {

// Every field of a BMP file; the defaults give a valid, empty 24-bit file.
// Layout: 14-byte file header, 40-byte information header, colourTable (at
// offset 54), gap, pixels.
struct BmpFields {
  std::uint16_t magic = 0x4D42;             // "BM"
  std::optional<std::uint32_t> fileSize;    // default: the length of the result
  std::optional<std::uint32_t> dataOffset;  // default: where `pixels` starts
  std::uint32_t headerSize = 40;            // only the value; 40 bytes are always written
  std::int32_t width = 0, height = 0;
  std::uint16_t planes = 1, bitsPerPixel = 24;
  std::uint32_t compression = 0, imageSize = 0, coloursUsed = 0, importantColours = 0;
  // The colour table has 4 bytes per entry: blue, green, red, reserved. The
  // gap lies between it and the pixels, which are the stored rows exactly as
  // in the file (bottom row first, padded).
  Bytes colourTable, gap, pixels;
};

Bytes MakeBmp(const BmpFields& fields);

// Bytes per stored row: the row's bits rounded up to a multiple of 4 bytes.
std::size_t BmpRowLength(int width, int bitsPerPixel);

// A colour table: one entry per (blue, green, red), reserved byte 0.
Bytes BmpColourTable(const std::vector<std::array<std::uint8_t, 3>>& bgr);

// A valid 24-bit bottom-up BMP of width * height pixels given as blue, green,
// red, top row first; a wrong size or negative dimensions fail the test.
Bytes MakeBmp24(int width, int height, const std::vector<std::uint8_t>& bgrTopDown);

}  // namespace norvane::test
