// Writer for JPEG test files, built on libjpeg's compressor.
#pragma once

#include "support/TempDir.h"

namespace norvane::test {

// How the components are stored in the file.
enum class JpegStorage {
  // The library's choice: grey stays grey, RGB becomes YCbCr with a JFIF
  // marker, CMYK stays CMYK with an Adobe marker.
  Default,
  // Four-component CMYK input stored as YCCK (Adobe marker, transform 2).
  Ycck,
  // 1 to 10 components stored as they are, with neither a JFIF nor an Adobe
  // marker: a decoder can name no colour space for, say, two components.
  Raw,
};

struct JpegOptions {
  int quality = 95;  // 1 to 100
  bool progressive = false;
  JpegStorage storage = JpegStorage::Default;
};

// A JPEG file of width x height pixels of `components` samples each, rows
// from the top, no padding: 1 = grey, 3 = red, green, blue, 4 = CMYK as
// stored (Adobe files store it inverted: 255 means no ink). Fails the current
// test and returns no bytes when the arguments do not fit.
Bytes MakeJpeg(int width, int height, int components, const std::vector<std::uint8_t>& pixelsTopDown,
               int quality = 95);
Bytes MakeJpeg(int width, int height, int components, const std::vector<std::uint8_t>& pixelsTopDown,
               const JpegOptions& options);

// width x height pixels that all carry the samples of `pixel`.
std::vector<std::uint8_t> FlatPixels(int width, int height, const std::vector<std::uint8_t>& pixel);

}  // namespace norvane::test
