// Seeds for fuzz_bmp: one small valid file of every bit depth the reader
// accepts, with widths that need row padding and a partial colour table.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "seeds/SeedRegistry.h"
#include "support/BmpWriter.h"

namespace norvane::fuzz {
namespace {

// Pixel bytes of a width x height picture at `bits` per pixel, with a simple
// varying pattern, laid out as the stored (padded) rows.
test::Bytes PatternRows(int width, int height, int bits) {
  const std::size_t rowLength = test::BmpRowLength(width, bits);
  test::Bytes out;
  for (int y = 0; y < height; ++y) {
    for (std::size_t i = 0; i < rowLength; ++i) {
      out.push_back(static_cast<std::uint8_t>(37 * y + 11 * static_cast<int>(i) + bits));
    }
  }
  return out;
}

test::Bytes Paletted(int width, int height, int bits, std::uint32_t coloursUsed, int tableEntries) {
  std::vector<std::array<std::uint8_t, 3>> table;
  for (int i = 0; i < tableEntries; ++i) {
    table.push_back({static_cast<std::uint8_t>(i * 5), static_cast<std::uint8_t>(255 - i),
                     static_cast<std::uint8_t>(i * 3)});
  }
  test::BmpFields f;
  f.width = width;
  f.height = height;
  f.bitsPerPixel = static_cast<std::uint16_t>(bits);
  f.coloursUsed = coloursUsed;
  f.colourTable = test::BmpColourTable(table);
  f.pixels = PatternRows(width, height, bits);
  return test::MakeBmp(f);
}

test::Bytes Direct(int width, int height, int bits) {
  test::BmpFields f;
  f.width = width;
  f.height = height;
  f.bitsPerPixel = static_cast<std::uint16_t>(bits);
  f.pixels = PatternRows(width, height, bits);
  return test::MakeBmp(f);
}

std::vector<Seed> MakeSeeds() {
  std::vector<std::uint8_t> bgr;
  for (int i = 0; i < 5 * 3 * 3; ++i) bgr.push_back(static_cast<std::uint8_t>(i * 7));
  return {
      {"bits1.bmp", Paletted(9, 3, 1, 0, 2)},
      {"bits4.bmp", Paletted(5, 2, 4, 0, 16)},
      {"bits4_short_table.bmp", Paletted(3, 3, 4, 6, 6)},
      {"bits8.bmp", Paletted(6, 3, 8, 0, 256)},
      {"bits8_16_colours.bmp", Paletted(7, 2, 8, 16, 16)},
      {"bits16.bmp", Direct(3, 3, 16)},
      {"bits24.bmp", test::MakeBmp24(5, 3, bgr)},
      {"bits32.bmp", Direct(2, 3, 32)},
      {"empty.bmp", Direct(4, 0, 24)},
  };
}

const SeedRegistrar registrar("fuzz_bmp", MakeSeeds);

}  // namespace
}  // namespace norvane::fuzz
