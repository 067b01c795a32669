#include "scan/PackedGrid.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

namespace norvane {
namespace {

double Bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

// Values at the edges of every class and just past them, and values of
// shapes a cache file may hold.
const double kValues[] = {
    0.0, -0.0, std::numeric_limits<double>::denorm_min(), Bits(0x00FFFFFFFFFFFFFF), Bits(0x0100000000000000),
    Bits(0x3E00000000000000), Bits(0x3DFFFFFFFFFFFFFF), 1e-14, -1e-14, 0.5, 1.0, 1.9999999999999998, 2.0,
    254.99999999999997, Bits(0x40FFFFFFFFFFFFFF), 131072.0, -3e-9, -0.75, -100.25, -131072.0,
    std::numeric_limits<double>::quiet_NaN(), Bits(0xFFF0000000000123), -std::numeric_limits<double>::infinity(),
    1e308, 0.1 + 0.2};

bool SameBits(const SignatureGrid& a, const SignatureGrid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Grids that take every value at every position, some with nothing but
// values of the seven classes, some with escaped ones among them.
std::vector<SignatureGrid> Grids() {
  std::vector<SignatureGrid> grids;
  std::mt19937 rng(7);
  const std::size_t count = std::size(kValues);
  for (int round = 0; round < 400; ++round) {
    SignatureGrid grid;
    double* values = &grid[0].meanY;
    for (int i = 0; i < PackedGrid::kValues; ++i) {
      // The first rounds walk every value across every position, the others
      // draw them at random, and every fourth keeps to the classes.
      std::size_t pick = round < 25 ? (static_cast<std::size_t>(round + i)) % count : rng() % count;
      if (round % 4 == 0) pick = pick % 2 == 0 ? 0 : 12;  // 0.0 and 2.0
      values[i] = kValues[pick];
    }
    grids.push_back(grid);
  }
  return grids;
}

TEST(PackedGrid, EveryBitPatternComesBackAndCellsReadAlone) {
  int withEscapes = 0;
  for (const SignatureGrid& grid : Grids()) {
    const PackedGrid packed(grid);
    EXPECT_TRUE(SameBits(packed.unpacked(), grid));
    withEscapes += packed.hasEscapes() ? 1 : 0;
    for (int c = 0; c < kGridCells; ++c) {
      SignatureCell cell;
      packed.UnpackCell(c, cell);
      EXPECT_EQ(std::memcmp(&cell, &grid[static_cast<std::size_t>(c)], sizeof cell), 0) << c;
    }
  }
  EXPECT_GT(withEscapes, 100);
  EXPECT_LT(withEscapes, 400);
  // Only values outside the classes are escaped.
  SignatureGrid plain;
  for (SignatureCell& cell : plain) cell = {255.5, -127.9, 1.0, 3e-5, 0.0, 4.7e-10};
  EXPECT_FALSE(PackedGrid(plain).hasEscapes());
}

TEST(PackedGrid, CopiesMovesAndComparesByTheBits) {
  const std::vector<SignatureGrid> grids = Grids();
  const SignatureGrid& escaped = grids[1];
  PackedGrid a(escaped), b;
  ASSERT_TRUE(a.hasEscapes());
  b = a;
  EXPECT_TRUE(b == a);
  PackedGrid c(std::move(b));
  EXPECT_TRUE(c == a && SameBits(c.unpacked(), escaped));
  c = c;  // NOLINT: self-assignment keeps the value
  EXPECT_TRUE(c == a);
  a = grids[0];
  EXPECT_FALSE(a == c);
  a = std::move(c);
  EXPECT_TRUE(SameBits(a.unpacked(), escaped));

  // Grids that differ in one escaped top byte, or in the sign of a zero,
  // differ; a NaN equals itself.
  SignatureGrid other = escaped;
  other[15].sdevCr = -other[15].sdevCr;
  EXPECT_FALSE(PackedGrid(other) == PackedGrid(escaped));
  SignatureGrid zero, negative;
  negative[3].meanCb = -0.0;
  EXPECT_FALSE(PackedGrid(zero) == PackedGrid(negative));
  zero[0].meanY = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(PackedGrid(zero) == PackedGrid(zero));

  PackedGrid edited(zero);
  edited.Modify([](SignatureGrid& grid) { grid[9].sdevY = 1e-300; });
  zero[9].sdevY = 1e-300;
  EXPECT_TRUE(SameBits(edited.unpacked(), zero));
}

}  // namespace
}  // namespace norvane
