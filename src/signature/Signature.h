// The signature of an image: an MD5 digest of its decoded pixels plus colour
// statistics over a 4 x 4 grid.
#pragma once

#include <array>
#include <string>

namespace norvane {

// Statistics of one grid cell. The field order is also the order of the six
// doubles of a cell in the cache file.
struct SignatureCell {
  double meanY = 0;
  double meanCb = 0;
  double meanCr = 0;
  double sdevY = 0;
  double sdevCb = 0;
  double sdevCr = 0;
};

inline constexpr int kGridSide = 4;
inline constexpr int kGridCells = kGridSide * kGridSide;

// Row-major: index = row * 4 + column, row 0 the top band of the picture.
using SignatureGrid = std::array<SignatureCell, kGridCells>;

struct ImageSignature {
  std::string digest;  // 32 lower-case hex characters, or empty
  SignatureGrid grid{};
};

}  // namespace norvane
