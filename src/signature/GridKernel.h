// Private to src/signature: the inner loop of the grid statistics, included
// only by its sources and by the tests and benchmarks that hold every variant
// against a plain reference.
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvane::grid {

// Running sums of the four cells of one row band, cell index in the last
// position so that the four cells can be processed side by side.
struct BandSums {
  double y[4] = {};
  double cb[4] = {};
  double cr[4] = {};
  double yy[4] = {};
  double cbcb[4] = {};
  double crcr[4] = {};
};

// Adds one picture row of Bgr24 pixels to the sums: cell c covers the pixels
// c * cellWidth .. (c + 1) * cellWidth - 1 of `row`. Each cell's sums receive
// its pixels in increasing x, one after the other, so every result is the
// same as a plain pixel-by-pixel loop. Reads the 4 * cellWidth * 3 bytes from
// `row` on, and no others.
void AccumulateBgrRowPortable(const std::uint8_t* row, std::int64_t cellWidth, BandSums& sums);
// The same with AVX2 instructions, the four cells in the four lanes of one
// register. Call only when CpuHasAvx2() is true.
void AccumulateBgrRowAvx2(const std::uint8_t* row, std::int64_t cellWidth, BandSums& sums);

// Picks the fastest variant the processor supports.
void AccumulateBgrRow(const std::uint8_t* row, std::int64_t cellWidth, BandSums& sums);

}  // namespace norvane::grid
