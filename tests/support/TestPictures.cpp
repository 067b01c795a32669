#include "support/TestPictures.h"

namespace norvane::test {

std::vector<std::uint8_t> Pattern(int width, int height, int seed) {
  std::vector<std::uint8_t> bgr;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bgr.push_back(static_cast<std::uint8_t>((x * 37 + y * 11) * seed + 60 * seed));
      bgr.push_back(static_cast<std::uint8_t>((x * 5 + y * 53) ^ (seed * 91)));
      bgr.push_back(static_cast<std::uint8_t>(x * y * 7 + seed * 120));
    }
  }
  return bgr;
}

}  // namespace norvane::test
