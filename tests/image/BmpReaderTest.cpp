#include <gtest/gtest.h>

#include <climits>

#include "image/BmpReader.h"
#include "image/DecodedImage.h"
#include "support/BmpWriter.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::BmpFields;
using test::Bytes;

// Colour table entry i is (i, 255 - i, i ^ 0x5A): unlike the grey ramp and
// black, so a wrong lookup shows. `table` adds the reserved byte of the file.
Bytes Colours(std::initializer_list<int> indices, bool table = false) {
  Bytes out;
  for (int i : indices) {
    test::PutBytes(out, {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i ^ 0x5A)});
    if (table) out.push_back(0);
  }
  return out;
}
Bytes Table(int entries) {
  Bytes table;
  for (int i = 0; i < entries; ++i) test::PutBytes(table, Colours({i}, true));
  return table;
}

BmpFields Fields(int width, int height, int bits, Bytes pixels, Bytes table = {}) {
  return BmpFields{.width = width, .height = height, .bitsPerPixel = static_cast<std::uint16_t>(bits),
                   .colourTable = std::move(table), .pixels = std::move(pixels)};
}

LoadResult Load(const BmpFields& fields, DecodedImage& image) { return test::LoadBytes(image, test::MakeBmp(fields), "x.bmp"); }

TEST(BmpReader, EveryDepthDecodesToBgrTopRowFirst) {
  const struct {
    const char* what;
    BmpFields fields;
    Bytes expected;
  } cases[] = {
      // Rows of 12 bytes, bottom row first; the padding must not show.
      {"24 bits", Fields(3, 2, 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xDD, 0xDD, 0xDD}),
       {11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      // Most significant bit first; unused low bits and padding are set.
      {"1 bit", Fields(5, 2, 1, {0b10110111, 0xFF, 0xFF, 0xFF, 0b01001111, 0xFF, 0xFF, 0xFF}, Table(2)),
       Colours({0, 1, 0, 0, 1, 1, 0, 1, 1, 0})},
      {"4 bits, high nibble first", Fields(3, 1, 4, {0x1F, 0x3C, 0xAA, 0xAA}, Table(16)), Colours({1, 15, 3})},
      {"8 bits, count 0 reads 256 entries", Fields(4, 1, 8, {0, 128, 255, 7}, Table(256)), Colours({0, 128, 255, 7})},
      // 0x7FFF, 0x8000, 0x001F, 0x03E0, 0xFC00: 5-5-5, top bit ignored.
      {"16 bits", Fields(5, 1, 16, {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00, 0xE0, 0x03, 0x00, 0xFC, 0x77, 0x77}),
       {248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 248, 0, 0, 0, 248}},
      {"32 bits, fourth byte unused", Fields(2, 1, 32, {1, 2, 3, 4, 5, 6, 7, 8}), {1, 2, 3, 5, 6, 7}},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, Load(c.fields, image)) << c.what;
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind) << c.what;
    EXPECT_EQ(c.fields.width, image.width) << c.what;
    EXPECT_EQ(c.expected, test::PixelsOf(image)) << c.what;
  }
  // The dispatch ignores the case of the extension and quotes around the path.
  test::TempDir dir;
  test::WriteFile(dir.File("y.BMP"), test::MakeBmp24(2, 1, {1, 2, 3, 4, 5, 6}));
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, image.LoadImageFile("\"" + dir.File("y.BMP") + "\""));
  EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6}), test::PixelsOf(image));
  EXPECT_EQ(LoadResult::CannotOpen, ReadBmp(image, dir.File("missing.bmp")));
}

TEST(BmpReader, DamagedFilesHaveTheirOwnCodesAndLeaveNoPicture) {
  using R = LoadResult;
  const struct {
    const char* what;
    void (*change)(BmpFields&);
    LoadResult expected;
  } cases[] = {
      {"magic MB", [](BmpFields& f) { f.magic = 0x424D; }, R::BadFormat},
      {"run-length", [](BmpFields& f) { f.compression = 1; }, R::Unsupported},
      {"2 bits", [](BmpFields& f) { f.bitsPerPixel = 2; }, R::Unsupported},
      {"top-down", [](BmpFields& f) { f.height = -2; }, R::Unsupported},
      {"most negative height", [](BmpFields& f) { f.height = INT_MIN; }, R::Unsupported},
      {"negative width", [](BmpFields& f) { f.width = -2; }, R::BadFormat},
      {"absurd size", [](BmpFields& f) { f.width = 100000, f.height = 100000; }, R::Unsupported},
      {"last row short", [](BmpFields& f) { f.pixels.pop_back(); }, R::ReadError},
      {"pixels far away", [](BmpFields& f) { f.dataOffset = 1000; }, R::ReadError},
      // A count of 0 means 256 entries.
      {"colour table short", [](BmpFields& f) { f.bitsPerPixel = 8, f.colourTable = Table(255), f.pixels = {}; }, R::ReadError},
      // 900 megapixels are allowed, but the file holds one row: fail before allocating.
      {"rows missing", [](BmpFields& f) { f.width = f.height = 30000, f.pixels = Bytes(90000, 1); }, R::ReadError},
  };
  for (const auto& c : cases) {
    BmpFields f = Fields(2, 2, 24, Bytes(16, 0x80));
    c.change(f);
    DecodedImage image;
    EXPECT_EQ(c.expected, Load(f, image)) << c.what;
    EXPECT_EQ(PixelKind::Empty, image.pixelKind) << c.what;
  }
  // Cut inside the headers.
  const Bytes good = test::MakeBmp24(3, 2, Bytes(18, 7));
  for (std::size_t size : {0, 2, 14, 53}) {
    DecodedImage image;
    EXPECT_EQ(R::ReadError, test::LoadBytes(image, Bytes(good.begin(), good.begin() + size), "x.bmp")) << size << " bytes";
  }
}

}  // namespace
}  // namespace norvane
