// Writer for JPEG test files, built on libjpeg's compressor.
#pragma once

#include <cstdint>
#include <vector>

#include "support/TempDir.h"

namespace norvane::test {

// How the components are stored in the file.
enum class JpegStorage {
  // The library's choice for the input: grey stays grey, RGB input is stored
  // as YCbCr with a JFIF marker, CMYK input as CMYK with an Adobe marker.
  Default,
  // Four-component CMYK input stored as YCCK (Adobe marker, transform 2).
  Ycck,
  // Any number of components (1 to 10) stored as they are, with neither a
  // JFIF nor an Adobe marker: a decoder can name no colour space for, say,
  // two components.
  Raw,
};

struct JpegOptions {
  int quality = 95;  // 1 to 100
  bool progressive = false;
  JpegStorage storage = JpegStorage::Default;
};

// A JPEG file of width x height pixels. `pixelsTopDown` holds `components`
// samples per pixel, rows from the top, no padding: 1 = grey, 3 = red, green,
// blue, 4 = CMYK samples as they are to be stored (Adobe files store them
// inverted: 255 means no ink; the decoder hands them back the same way).
// Fails the current test and returns no bytes when the arguments do not fit.
Bytes MakeJpeg(int width, int height, int components, const std::vector<std::uint8_t>& pixelsTopDown,
               int quality = 95);
Bytes MakeJpeg(int width, int height, int components, const std::vector<std::uint8_t>& pixelsTopDown,
               const JpegOptions& options);

// width x height pixels that all carry the samples of `pixel`.
std::vector<std::uint8_t> FlatPixels(int width, int height, const std::vector<std::uint8_t>& pixel);

}  // namespace norvane::test
