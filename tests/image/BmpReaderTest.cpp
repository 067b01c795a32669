#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

#include "image/BmpReader.h"
#include "image/DecodedImage.h"
#include "support/BmpWriter.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

using test::Bytes;
using test::BmpFields;

Bytes operator+(Bytes a, const Bytes& b) {
  test::PutBytes(a, b);
  return a;
}

// Colour table entry i is (i, 255 - i, i ^ 0x5A): unlike the grey ramp and
// black, so a wrong lookup shows.
Bytes Entry(int i) {
  return {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i ^ 0x5A)};
}
Bytes DistinctTable(int entries) {
  Bytes table;
  for (int i = 0; i < entries; ++i) test::PutBytes(table, Entry(i) + Bytes{0});
  return table;
}
Bytes Entries(std::initializer_list<int> indices) {
  Bytes out;
  for (int i : indices) test::PutBytes(out, Entry(i));
  return out;
}

BmpFields Fields(int width, int height, int bits, Bytes pixels, Bytes table = {}, std::uint32_t coloursUsed = 0) {
  BmpFields f;
  f.width = width;
  f.height = height;
  f.bitsPerPixel = static_cast<std::uint16_t>(bits);
  f.pixels = std::move(pixels);
  f.colourTable = std::move(table);
  f.coloursUsed = coloursUsed;
  return f;
}

class BmpReaderTest : public ::testing::Test {
 protected:
  LoadResult Load(const Bytes& file, DecodedImage& target) {
    const std::string path = dir.File("picture.bmp");
    test::WriteFile(path, file);
    return ReadBmp(target, path);
  }
  LoadResult Load(const Bytes& file) { return Load(file, image); }
  LoadResult Load(const BmpFields& fields) { return Load(test::MakeBmp(fields)); }

  // The decoded picture as bytes; fails the test unless it is Bgr24 of w x h.
  Bytes Colour(int w, int h) const {
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
    EXPECT_EQ(w, image.width);
    EXPECT_EQ(h, image.height);
    EXPECT_FALSE(image.indexed);
    if (image.pixelKind != PixelKind::Bgr24 || image.colour.size() != static_cast<std::size_t>(w * h * 3)) {
      ADD_FAILURE() << "colour buffer holds " << image.colour.size() << " bytes";
      return {};
    }
    return Bytes(image.colour.data(), image.colour.data() + image.colour.size());
  }

  test::TempDir dir;
  DecodedImage image;
};

TEST_F(BmpReaderTest, EveryDepthDecodesToBgrTopRowFirst) {
  const Bytes a = {1, 2, 3}, b = {200, 100, 50};
  const struct {
    const char* what;
    BmpFields fields;
    Bytes expected;
  } cases[] = {
      // Rows of 12 bytes, bottom row first; the padding must not show.
      {"24 bits", Fields(3, 2, 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE,  //
                                    11, 12, 13, 14, 15, 16, 17, 18, 19, 0xDD, 0xDD, 0xDD}),
       {11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      // Most significant bit first; unused low bits and padding are set.
      {"1 bit", Fields(5, 2, 1, {0b10110111, 0xFF, 0xFF, 0xFF, 0b01001111, 0xFF, 0xFF, 0xFF},
                       test::BmpColourTable({{1, 2, 3}, {200, 100, 50}})),
       a + b + a + a + b + b + a + b + b + a},
      {"4 bits, high nibble first", Fields(3, 1, 4, {0x1F, 0x3C, 0xAA, 0xAA}, DistinctTable(16)),
       Entries({1, 15, 3})},
      {"8 bits, count 0 reads 256 entries", Fields(4, 1, 8, {0, 128, 255, 7}, DistinctTable(256)),
       Entries({0, 128, 255, 7})},
      // 0x7FFF, 0x8000, 0x001F, 0x03E0, 0xFC00: 5-5-5, top bit ignored.
      {"16 bits", Fields(5, 1, 16, {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00, 0xE0, 0x03, 0x00, 0xFC, 0x77, 0x77}),
       {248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 248, 0, 0, 0, 248}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(LoadResult::LoadOk, Load(c.fields));
    EXPECT_EQ(c.expected, Colour(c.fields.width, c.fields.height));
  }
}

TEST_F(BmpReaderTest, TruncatedFilesAreReadErrors) {
  const Bytes good = test::MakeBmp24(3, 2, Bytes(18, 7));
  ASSERT_EQ(LoadResult::LoadOk, Load(good));
  // Inside the headers, and the last row one byte short.
  for (std::size_t size : {std::size_t{0}, std::size_t{2}, std::size_t{14}, std::size_t{53},
                           good.size() - 1}) {
    EXPECT_EQ(LoadResult::ReadError, Load(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size))))
        << size << " bytes";
  }
  BmpFields table255 = Fields(1, 1, 8, {}, DistinctTable(255));  // count 0 means 256
  EXPECT_EQ(LoadResult::ReadError, Load(table255));
  BmpFields farOffset = Fields(1, 1, 24, {1, 2, 3, 0});
  farOffset.dataOffset = 1000;
  EXPECT_EQ(LoadResult::ReadError, Load(farOffset));

  // 900 megapixels are allowed, but the file holds one row: fail before allocating.
  EXPECT_EQ(LoadResult::ReadError, Load(Fields(30000, 30000, 24, Bytes(90000, 1))));
  EXPECT_EQ(PixelKind::Empty, image.pixelKind);
  EXPECT_FALSE(image.colour);
}

TEST_F(BmpReaderTest, HeaderFaultsHaveTheirOwnCodes) {
  const struct {
    const char* what;
    void (*change)(BmpFields&);
    LoadResult expected;
  } cases[] = {
      {"magic MB", [](BmpFields& f) { f.magic = 0x424D; }, LoadResult::BadFormat},
      {"run-length", [](BmpFields& f) { f.compression = 1; }, LoadResult::Unsupported},
      {"2 bits", [](BmpFields& f) { f.bitsPerPixel = 2; }, LoadResult::Unsupported},
      {"top-down", [](BmpFields& f) { f.height = -2; }, LoadResult::Unsupported},
      {"most negative height", [](BmpFields& f) { f.height = INT_MIN; }, LoadResult::Unsupported},
      {"negative width", [](BmpFields& f) { f.width = -2; }, LoadResult::BadFormat},
      {"absurd size", [](BmpFields& f) { f.width = 100000, f.height = 100000; }, LoadResult::Unsupported},
  };
  for (const auto& c : cases) {
    BmpFields f = Fields(2, 2, 24, Bytes(16, 0x80));
    c.change(f);
    DecodedImage fresh;
    EXPECT_EQ(c.expected, Load(test::MakeBmp(f), fresh)) << c.what;
    EXPECT_EQ(PixelKind::Empty, fresh.pixelKind) << c.what;
  }
  EXPECT_EQ(LoadResult::CannotOpen, ReadBmp(image, dir.File("missing.bmp")));
}

TEST_F(BmpReaderTest, DispatchIgnoresCaseAndQuotes) {
  const Bytes pixels = {1, 2, 3, 4, 5, 6};
  const std::string upper = dir.File("x.BMP"), plain = dir.File("y.bmp");
  test::WriteFile(upper, test::MakeBmp24(2, 1, pixels));
  test::WriteFile(plain, test::MakeBmp24(1, 2, pixels));
  ASSERT_EQ(LoadResult::LoadOk, image.LoadImageFile(upper));
  EXPECT_EQ(pixels, Colour(2, 1));
  ASSERT_EQ(LoadResult::LoadOk, image.LoadImageFile("\"" + plain + "\""));
  EXPECT_EQ(pixels, Colour(1, 2));
}

}  // namespace
}  // namespace norvane
