// Seeds for fuzz_jpeg: small valid files of every layout the reader handles
// (grey, colour, CMYK, YCCK), baseline and progressive, plus one with a
// component layout it refuses.
#include <cstdint>
#include <vector>

#include "seeds/SeedRegistry.h"
#include "support/JpegWriter.h"

namespace norvane::fuzz {
namespace {

// A varying pattern so that the files carry real AC coefficients.
std::vector<std::uint8_t> Pattern(int width, int height, int components) {
  std::vector<std::uint8_t> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c) pixels.push_back(static_cast<std::uint8_t>(13 * x + 29 * y + 71 * c));
    }
  }
  return pixels;
}

test::Bytes Jpeg(int width, int height, int components, bool progressive,
                 test::JpegStorage storage = test::JpegStorage::Default, int quality = 75) {
  test::JpegOptions options;
  options.quality = quality;
  options.progressive = progressive;
  options.storage = storage;
  return test::MakeJpeg(width, height, components, Pattern(width, height, components), options);
}

const SeedRegistrar registrar("fuzz_jpeg", [] {
  return std::vector<Seed>{
      {"grey.jpg", Jpeg(9, 7, 1, false)},
      {"grey-progressive.jpg", Jpeg(17, 9, 1, true)},
      {"colour.jpg", Jpeg(19, 11, 3, false)},
      {"colour-progressive.jpg", Jpeg(16, 16, 3, true, test::JpegStorage::Default, 90)},
      {"cmyk.jpg", Jpeg(10, 6, 4, false)},
      {"cmyk-progressive.jpg", Jpeg(8, 8, 4, true)},
      {"ycck.jpg", Jpeg(12, 5, 4, false, test::JpegStorage::Ycck)},
      {"two-components.jpg", Jpeg(8, 8, 2, false, test::JpegStorage::Raw)},
  };
});

}  // namespace
}  // namespace norvane::fuzz
