// Seeds for fuzz_tiff: small valid files of every layout the reader accepts.
#include <cstdint>
#include <vector>

#include "seeds/SeedRegistry.h"
#include "support/TiffWriter.h"

namespace norvane::fuzz {
namespace {

test::Bytes Pattern(std::size_t length, int step) {
  test::Bytes out;
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(static_cast<std::uint8_t>(i * static_cast<std::size_t>(step) + 3));
  }
  return out;
}

std::vector<Seed> MakeSeeds() {
  return {
      {"grey8.tif", test::GrayTiff(5, 4, 8, Pattern(5 * 4, 13)).Build()},
      {"grey16.tif", test::GrayTiff(3, 4, 16, Pattern(3 * 4 * 2, 29)).Build()},
      {"rgb_one_strip.tif", test::RgbTiff(4, 3, Pattern(4 * 3 * 3, 7), 3).Build()},
      {"rgb_strips.tif", test::RgbTiff(3, 7, Pattern(3 * 7 * 3, 11), 2).Build()},
  };
}

const SeedRegistrar registrar("fuzz_tiff", MakeSeeds);

}  // namespace
}  // namespace norvane::fuzz
