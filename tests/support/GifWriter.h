// Builds GIF files in memory with giflib, for tests and fuzz seeds.
#pragma once

#include "support/TempDir.h"

namespace norvane::test {

struct GifColour {
  std::uint8_t red = 0, green = 0, blue = 0;
};

struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<std::uint8_t> indices;    // width * height, top row first
  std::vector<GifColour> localColours;  // empty: the frame uses the global map
  bool interlaced = false;              // rows are written in the four interlace passes
};

struct GifPicture {
  int screenWidth = 0, screenHeight = 0;
  std::vector<GifColour> globalColours;  // empty: no global map
  std::vector<GifFrame> frames;
};

// Colour maps are padded with black to the next power of two (at least 2).
// Fails the current test and returns no bytes when giflib refuses.
Bytes MakeGif(const GifPicture& picture);

// One frame filling the screen, with a global colour map.
Bytes MakeGif(int width, int height, const std::vector<GifColour>& colours,
              const std::vector<std::uint8_t>& indicesTopDown, bool interlaced = false);

}  // namespace norvane::test
