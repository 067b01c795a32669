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

// A colour table whose entry i is (i, 255 - i, i ^ 0x5A): every entry differs
// from the grey ramp and from black, so a wrong lookup shows.
Bytes DistinctTable(int entries) {
  std::vector<std::array<std::uint8_t, 3>> bgr;
  for (int i = 0; i < entries; ++i) {
    bgr.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                   static_cast<std::uint8_t>(i ^ 0x5A)});
  }
  return test::BmpColourTable(bgr);
}

Bytes Entry(int i) {
  return {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i ^ 0x5A)};
}

class BmpReaderTest : public ::testing::Test {
 protected:
  LoadResult Load(const Bytes& file) { return Load(file, image); }
  LoadResult Load(const Bytes& file, DecodedImage& target) {
    const std::string path = dir.File("picture.bmp");
    test::WriteFile(path, file);
    return ReadBmp(target, path);
  }
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

TEST_F(BmpReaderTest, TwentyFourBitRowsArePaddedAndStoredBottomUp) {
  BmpFields f;
  f.width = 3;
  f.height = 2;
  f.bitsPerPixel = 24;
  // Rows of 12 bytes: 9 of pixels, 3 of padding that must not show up.
  f.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE,  // bottom row
              11, 12, 13, 14, 15, 16, 17, 18, 19, 0xDD, 0xDD, 0xDD};
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  EXPECT_EQ((Bytes{11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9}), Colour(3, 2));

  // The shared writer produces the same layout from top-down pixels.
  const Bytes topDown = {11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const Bytes written = test::MakeBmp24(3, 2, topDown);
  EXPECT_EQ(54u + 24u, written.size());
  ASSERT_EQ(LoadResult::LoadOk, Load(written));
  EXPECT_EQ(topDown, Colour(3, 2));
}

TEST_F(BmpReaderTest, OneBitPixelsAreMostSignificantBitFirst) {
  BmpFields f;
  f.width = 5;
  f.height = 2;
  f.bitsPerPixel = 1;
  f.colourTable = test::BmpColourTable({{1, 2, 3}, {200, 100, 50}});
  // Row length 4. The three unused low bits and the padding are set to show
  // that they are ignored.
  f.pixels = {0b10110111, 0xFF, 0xFF, 0xFF,   // bottom row: 1 0 1 1 0
              0b01001111, 0xFF, 0xFF, 0xFF};  // top row:    0 1 0 0 1
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  const Bytes a = {1, 2, 3}, b = {200, 100, 50};
  Bytes expected;
  for (const Bytes* p : {&a, &b, &a, &a, &b, &b, &a, &b, &b, &a}) test::PutBytes(expected, *p);
  EXPECT_EQ(expected, Colour(5, 2));
}

TEST_F(BmpReaderTest, FourBitPixelsTakeTheHighNibbleFirst) {
  BmpFields f;
  f.width = 3;
  f.height = 1;
  f.bitsPerPixel = 4;
  f.colourTable = DistinctTable(16);
  f.pixels = {0x1F, 0x3C, 0xAA, 0xAA};  // 1, 15, 3; the low nibble of byte 1 is unused
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  Bytes expected;
  for (int i : {1, 15, 3}) test::PutBytes(expected, Entry(i));
  EXPECT_EQ(expected, Colour(3, 1));
}

TEST_F(BmpReaderTest, EightBitColourCountZeroReadsAllEntries) {
  BmpFields f;
  f.width = 4;
  f.height = 1;
  f.bitsPerPixel = 8;
  f.coloursUsed = 0;
  f.colourTable = DistinctTable(256);
  f.pixels = {0, 128, 255, 7};
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  Bytes expected;
  for (int i : {0, 128, 255, 7}) test::PutBytes(expected, Entry(i));
  EXPECT_EQ(expected, Colour(4, 1));

  // With a count of 0 the table must hold all 256 entries.
  f.colourTable.resize(255 * 4);
  f.pixels.clear();
  EXPECT_EQ(LoadResult::ReadError, Load(f));
}

TEST_F(BmpReaderTest, EightBitColourCountSixteenReadsSixteenAndLaterIndicesAreBlack) {
  BmpFields f;
  f.width = 4;
  f.height = 1;
  f.bitsPerPixel = 8;
  f.coloursUsed = 16;
  f.colourTable = DistinctTable(16);
  f.pixels = {15, 0, 16, 200};  // the file holds far less than 256 entries
  // The previous contents of the palette must not leak into the result: the
  // grey ramp of an indexed allocation nor a colour left by an earlier load.
  image.palette[200] = PaletteEntry{9, 9, 9, 0};
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  Bytes expected = Entry(15);
  test::PutBytes(expected, Entry(0));
  test::PutBytes(expected, {0, 0, 0, 0, 0, 0});
  EXPECT_EQ(expected, Colour(4, 1));
}

TEST_F(BmpReaderTest, ColourCountAboveTwoHundredFiftySixReadsTheFirstEntries) {
  BmpFields f;
  f.width = 2;
  f.height = 1;
  f.bitsPerPixel = 8;
  f.coloursUsed = 100000;  // the file holds only 256 entries
  f.colourTable = DistinctTable(256);
  f.pixels = {255, 1, 0, 0};
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  Bytes expected = Entry(255);
  test::PutBytes(expected, Entry(1));
  EXPECT_EQ(expected, Colour(2, 1));
}

TEST_F(BmpReaderTest, SixteenBitIsFiveFiveFiveWithTheTopBitIgnored) {
  BmpFields f;
  f.width = 5;
  f.height = 1;
  f.bitsPerPixel = 16;
  // 0x7FFF, 0x8000, 0x001F, 0x03E0, 0xFC00; row length 12.
  f.pixels = {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00, 0xE0, 0x03, 0x00, 0xFC, 0x77, 0x77};
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  EXPECT_EQ((Bytes{248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 248, 0, 0, 0, 248}), Colour(5, 1));
}

TEST_F(BmpReaderTest, ThirtyTwoBitIgnoresTheFourthByte) {
  BmpFields f;
  f.width = 2;
  f.height = 2;
  f.bitsPerPixel = 32;
  f.pixels = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  const Bytes plain = Colour(2, 2);
  EXPECT_EQ((Bytes{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}), plain);

  for (std::size_t i = 3; i < f.pixels.size(); i += 4) f.pixels[i] = static_cast<std::uint8_t>(0xF0 + i);
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  EXPECT_EQ(plain, Colour(2, 2));
}

TEST_F(BmpReaderTest, LargerInformationHeaderKeepsTableAtFiftyFourAndPixelsAtTheOffset) {
  BmpFields f;
  f.headerSize = 124;
  f.width = 2;
  f.height = 1;
  f.bitsPerPixel = 8;
  f.coloursUsed = 4;
  f.colourTable = DistinctTable(4);
  f.gap = Bytes(70, 0x33);  // the rest of a long header, and more
  f.pixels = {3, 1, 0x33, 0x33};
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  Bytes expected = Entry(3);
  test::PutBytes(expected, Entry(1));
  EXPECT_EQ(expected, Colour(2, 1));

  BmpFields g;
  g.headerSize = 108;
  g.width = 1;
  g.height = 1;
  g.gap = Bytes(68, 0x44);
  g.pixels = {10, 20, 30, 0};
  ASSERT_EQ(LoadResult::LoadOk, Load(g));
  EXPECT_EQ((Bytes{10, 20, 30}), Colour(1, 1));
}

TEST_F(BmpReaderTest, EmptyPicturesLoad) {
  BmpFields f;
  f.width = 7;
  f.height = 0;
  ASSERT_EQ(LoadResult::LoadOk, Load(f));
  EXPECT_EQ(7, image.width);
  EXPECT_EQ(0, image.height);
  EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
  EXPECT_EQ(0u, image.PixelBytes());

  // Width 0: every row has length 0, even when the offset points past the end.
  DecodedImage narrow;
  f.width = 0;
  f.height = 3;
  f.bitsPerPixel = 8;
  f.colourTable = DistinctTable(256);
  f.dataOffset = 1 << 20;
  ASSERT_EQ(LoadResult::LoadOk, Load(test::MakeBmp(f), narrow));
  EXPECT_EQ(PixelKind::Bgr24, narrow.pixelKind);
  EXPECT_EQ(0, narrow.width);
  EXPECT_EQ(3, narrow.height);
  EXPECT_EQ(0u, narrow.PixelBytes());
}

TEST_F(BmpReaderTest, TruncatedFilesAreReadErrors) {
  const Bytes good = test::MakeBmp24(3, 2, Bytes(18, 7));
  ASSERT_EQ(LoadResult::LoadOk, Load(good));
  for (std::size_t size : {0, 2, 13, 14, 30, 53}) {
    EXPECT_EQ(LoadResult::ReadError, Load(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size))))
        << size << " bytes";
  }
  // The last row one byte short.
  EXPECT_EQ(LoadResult::ReadError, Load(Bytes(good.begin(), good.end() - 1)));

  BmpFields f;
  f.width = 2;
  f.height = 1;
  f.bitsPerPixel = 4;
  f.colourTable = DistinctTable(15);  // default count 16
  EXPECT_EQ(LoadResult::ReadError, Load(f));

  // A data offset past the end of the file.
  BmpFields g;
  g.width = 1;
  g.height = 1;
  g.pixels = {1, 2, 3, 0};
  g.dataOffset = 1000;
  EXPECT_EQ(LoadResult::ReadError, Load(g));
}

TEST_F(BmpReaderTest, HugeClaimsInASmallFileFailBeforeAllocating) {
  BmpFields f;
  f.width = 30000;
  f.height = 30000;  // 900 megapixels: allowed, but the file holds one row
  f.pixels = Bytes(90000, 1);
  EXPECT_EQ(LoadResult::ReadError, Load(f));
  EXPECT_EQ(PixelKind::Empty, image.pixelKind);
  EXPECT_FALSE(image.colour);

  // Rows of length 0 need no data and no work, however many there are.
  f.width = 0;
  f.height = static_cast<std::int32_t>(kMaxPixels);
  f.pixels.clear();
  EXPECT_EQ(LoadResult::LoadOk, Load(f));
  EXPECT_EQ(kMaxPixels, image.height);
}

TEST_F(BmpReaderTest, HeaderFaultsHaveTheirOwnCodes) {
  const struct {
    const char* what;
    void (*change)(BmpFields&);
    LoadResult expected;
  } cases[] = {
      {"magic MB", [](BmpFields& f) { f.magic = 0x424D; }, LoadResult::BadFormat},
      {"run-length", [](BmpFields& f) { f.compression = 1; }, LoadResult::Unsupported},
      {"bit fields", [](BmpFields& f) { f.compression = 3; }, LoadResult::Unsupported},
      {"2 bits", [](BmpFields& f) { f.bitsPerPixel = 2; }, LoadResult::Unsupported},
      {"0 bits", [](BmpFields& f) { f.bitsPerPixel = 0; }, LoadResult::Unsupported},
      {"top-down", [](BmpFields& f) { f.height = -2; }, LoadResult::Unsupported},
      {"top-down, width 0", [](BmpFields& f) { f.width = 0, f.height = -1; }, LoadResult::Unsupported},
      {"most negative height", [](BmpFields& f) { f.height = INT_MIN; }, LoadResult::Unsupported},
      {"negative width", [](BmpFields& f) { f.width = -2; }, LoadResult::BadFormat},
      {"negative width, height 0", [](BmpFields& f) { f.width = -1, f.height = 0; }, LoadResult::BadFormat},
      {"most negative width", [](BmpFields& f) { f.width = INT_MIN; }, LoadResult::BadFormat},
      {"absurd size", [](BmpFields& f) { f.width = 100000, f.height = 100000; }, LoadResult::Unsupported},
      {"absurd width", [](BmpFields& f) { f.width = INT_MAX, f.height = 1; }, LoadResult::Unsupported},
  };
  for (const auto& c : cases) {
    BmpFields f;
    f.width = 2;
    f.height = 2;
    f.pixels = Bytes(16, 0x80);
    c.change(f);
    DecodedImage fresh;
    EXPECT_EQ(c.expected, Load(test::MakeBmp(f), fresh)) << c.what;
    EXPECT_EQ(PixelKind::Empty, fresh.pixelKind) << c.what;
  }
}

TEST_F(BmpReaderTest, OnlyRegularFilesOpen) {
  EXPECT_EQ(LoadResult::CannotOpen, ReadBmp(image, dir.File("missing.bmp")));
  test::MakeDir(dir.File("folder.bmp"));
  EXPECT_EQ(LoadResult::CannotOpen, ReadBmp(image, dir.File("folder.bmp")));
}

TEST_F(BmpReaderTest, DispatchIgnoresCaseAndQuotes) {
  const Bytes pixels = {1, 2, 3, 4, 5, 6};
  const std::string upper = dir.File("x.BMP");
  test::WriteFile(upper, test::MakeBmp24(2, 1, pixels));
  ASSERT_EQ(LoadResult::LoadOk, image.LoadImageFile(upper));
  EXPECT_EQ(pixels, Colour(2, 1));

  const std::string plain = dir.File("y.bmp");
  test::WriteFile(plain, test::MakeBmp24(1, 2, pixels));
  ASSERT_EQ(LoadResult::LoadOk, image.LoadImageFile("\"" + plain + "\""));
  EXPECT_EQ(pixels, Colour(1, 2));
}

TEST_F(BmpReaderTest, ReloadingLeavesOnlyTheColourBuffer) {
  const std::string path = dir.File("z.bmp");
  test::WriteFile(path, test::MakeBmp24(1, 1, {9, 8, 7}));
  for (PixelKind old : {PixelKind::Indexed8, PixelKind::Gray16}) {
    DecodedImage reused;
    ASSERT_EQ(LoadResult::LoadOk, reused.AllocatePixels(4, 4, old));
    ASSERT_EQ(LoadResult::LoadOk, reused.LoadImageFile(path));
    EXPECT_EQ(PixelKind::Bgr24, reused.pixelKind);
    EXPECT_FALSE(reused.indexed);
    EXPECT_FALSE(reused.gray16);
    EXPECT_FALSE(reused.quad);
    ASSERT_EQ(3u, reused.colour.size());
    EXPECT_EQ((Bytes{9, 8, 7}), Bytes(reused.colour.data(), reused.colour.data() + 3));
  }
}

}  // namespace
}  // namespace norvane
