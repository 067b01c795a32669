// Builds PNG files in memory with libpng, for tests and fuzz seeds.
#pragma once

#include <array>
#include <optional>

#include "support/TempDir.h"

namespace norvane::test {

// The PNG colour types, with their numbers in the file.
enum class PngColour : int { Gray = 0, Rgb = 2, Palette = 3, GrayAlpha = 4, Rgba = 6 };

struct PngPicture {
  int width = 0, height = 0;
  PngColour colour = PngColour::Rgb;
  int bitDepth = 8;
  bool interlaced = false;
  // Rows top row first, each as the file stores it before filtering: samples
  // in channel order, 16-bit samples high byte first, samples below 8 bits
  // packed from the high bit, every row starting on a byte.
  std::vector<std::uint8_t> rows;
  std::vector<std::array<std::uint8_t, 3>> palette;  // R, G, B entries
  std::vector<std::uint8_t> paletteAlpha;            // tRNS for palette images
  // tRNS for grey (first value) or RGB images: the sample values shown transparent.
  std::optional<std::array<std::uint16_t, 3>> transparentColour;
};

// Fails the current test and returns no bytes when libpng refuses.
Bytes MakePng(const PngPicture& picture);

// An 8-bit RGB picture from R, G, B samples, top row first.
Bytes MakePngRgb(int width, int height, const std::vector<std::uint8_t>& rgbTopDown, bool interlaced = false);

}  // namespace norvane::test
