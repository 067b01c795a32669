// The shipped GIF and PNG plug-ins, loaded the way the program loads them,
// on files made with giflib and libpng.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/DecodedImage.h"
#include "image/PluginReader.h"
#include "support/GifWriter.h"
#include "support/PngWriter.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

using test::Bytes;
using test::GifColour;
using test::PngColour;
using test::PngPicture;

struct Decoded {
  LoadResult result = LoadResult::Unsupported;
  int width = 0;
  int height = 0;
  Bytes bgr;  // top row first
};

Decoded DecodeFile(const test::TempDir& dir, const Bytes& bytes, const char* extension) {
  const std::string path = dir.File(std::string("image.") + extension);
  test::WriteFile(path, bytes);
  DecodedImage image;
  Decoded out;
  out.result = image.LoadImageFile(path);
  if (out.result == LoadResult::LoadOk) {
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
    out.width = image.width;
    out.height = image.height;
    out.bgr.assign(image.Pixels(), image.Pixels() + image.PixelBytes());
  }
  return out;
}

Bytes Bgr(std::initializer_list<GifColour> colours) {
  Bytes out;
  for (const GifColour& c : colours) test::PutBytes(out, {c.blue, c.green, c.red});
  return out;
}

const GifColour kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

class GifPngPluginTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(DetectPlugins().gifAvailable) << "the shipped plug-ins were not found"; }
  test::TempDir dir_;
};

TEST_F(GifPngPluginTest, GifDeliversItsFirstFrameAtItsOwnSizeWithItsLocalMap) {
  test::GifPicture picture;
  picture.screenWidth = 10;
  picture.screenHeight = 10;
  picture.globalColours = {kBlack, kWhite};
  test::GifFrame first;
  first.left = 2;
  first.top = 3;
  first.width = 3;
  first.height = 2;
  first.localColours = {kGreen, kBlue, kRed};
  first.indices = {0, 1, 2, 2, 1, 0};
  test::GifFrame second;
  second.width = 10;
  second.height = 10;
  second.indices.assign(100, 1);
  picture.frames = {first, second};
  const Decoded d = DecodeFile(dir_, test::MakeGif(picture), "gif");
  ASSERT_EQ(LoadResult::LoadOk, d.result);
  EXPECT_EQ(3, d.width);
  EXPECT_EQ(2, d.height);
  EXPECT_EQ(Bgr({kGreen, kBlue, kRed, kRed, kBlue, kGreen}), d.bgr);
}

TEST_F(GifPngPluginTest, BrokenGifsAreReadErrors) {
  const Bytes good = test::MakeGif(4, 4, {kRed, kBlue}, std::vector<std::uint8_t>(16, 1));
  ASSERT_GT(good.size(), 20u);
  // Every cut before the image's last data byte loses pixels.
  for (std::size_t keep = 0; keep + 2 < good.size(); ++keep) {
    EXPECT_EQ(LoadResult::ReadError, DecodeFile(dir_, Bytes(good.begin(), good.begin() + keep), "gif").result)
        << "cut to " << keep << " bytes";
  }
  // An image whose indices have no colour map. giflib will not write one, so
  // it is made by hand: a 2 x 1 image of index 0, once with a two-entry global
  // map (to show the bytes are otherwise sound) and once without.
  const auto handMade = [](bool globalMap) {
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, static_cast<std::uint8_t>(globalMap ? 0x80 : 0), 0, 0};
    if (globalMap) test::PutBytes(gif, {255, 0, 0, 0, 0, 255});
    test::PutBytes(gif, {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0});  // image descriptor, no local map
    test::PutBytes(gif, {2, 2, 0x04, 0x0A, 0, 0x3B});        // clear, 0, 0, end; trailer
    return gif;
  };
  const Decoded mapped = DecodeFile(dir_, handMade(true), "gif");
  ASSERT_EQ(LoadResult::LoadOk, mapped.result);
  EXPECT_EQ(Bgr({kRed, kRed}), mapped.bgr);
  EXPECT_EQ(LoadResult::ReadError, DecodeFile(dir_, handMade(false), "gif").result);
}

struct PngCase {
  const char* what;
  PngPicture picture;
  Bytes expectedBgr;
};

PngPicture Picture(int width, int height, PngColour colour, int depth, Bytes rows) {
  PngPicture picture;
  picture.width = width;
  picture.height = height;
  picture.colour = colour;
  picture.bitDepth = depth;
  picture.rows = std::move(rows);
  return picture;
}

TEST_F(GifPngPluginTest, EveryPngColourTypeBecomesBgrOverWhite) {
  std::vector<PngCase> cases;
  cases.push_back({"grey 16 keeps the high byte", Picture(2, 1, PngColour::Gray, 16, {0x12, 0xFF, 0xAB, 0x00}),
                   {0x12, 0x12, 0x12, 0xAB, 0xAB, 0xAB}});
  // Over white: alpha 255 keeps the sample, alpha 0 is white, 20 % of 200 is 244.
  cases.push_back({"grey + alpha", Picture(3, 1, PngColour::GrayAlpha, 8, {0, 0, 0, 255, 200, 51}),
                   {255, 255, 255, 0, 0, 0, 244, 244, 244}});
  {
    PngPicture picture = Picture(3, 1, PngColour::Palette, 2, {0b00011000});
    picture.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    picture.paletteAlpha = {255, 0};
    cases.push_back({"palette 2 bit, entry 1 transparent", picture, {0, 0, 255, 255, 255, 255, 255, 0, 0}});
  }
  cases.push_back({"rgb 8, odd width", Picture(3, 2, PngColour::Rgb, 8, {1, 2, 3, 4, 5, 6, 7, 8, 9,  //
                                                                      11, 12, 13, 14, 15, 16, 17, 18, 19}),
                   {3, 2, 1, 6, 5, 4, 9, 8, 7, 13, 12, 11, 16, 15, 14, 19, 18, 17}});
  // An interlaced 9 x 9 picture reaches all seven passes; every third pixel is clear.
  {
    PngPicture picture = Picture(9, 9, PngColour::Rgba, 8, {});
    picture.interlaced = true;
    Bytes expected;
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 9; ++x) {
        const auto r = static_cast<std::uint8_t>(20 * x), g = static_cast<std::uint8_t>(20 * y),
                   b = static_cast<std::uint8_t>(x + y);
        test::PutBytes(picture.rows, {r, g, b});
        const bool clear = (x + y) % 3 == 0;
        picture.rows.push_back(clear ? 0 : 255);
        test::PutBytes(expected, clear ? Bytes{255, 255, 255} : Bytes{b, g, r});
      }
    }
    cases.push_back({"interlaced rgba", picture, expected});
  }

  for (const PngCase& c : cases) {
    const Decoded d = DecodeFile(dir_, test::MakePng(c.picture), "png");
    ASSERT_EQ(LoadResult::LoadOk, d.result) << c.what;
    EXPECT_EQ(c.picture.width, d.width) << c.what;
    EXPECT_EQ(c.picture.height, d.height) << c.what;
    EXPECT_EQ(c.expectedBgr, d.bgr) << c.what;
  }
}

TEST_F(GifPngPluginTest, BrokenPngsAreReadErrors) {
  Bytes rows;
  for (int i = 0; i < 8 * 8 * 3; ++i) rows.push_back(static_cast<std::uint8_t>(i * 37));
  const Bytes good = test::MakePngRgb(8, 8, rows);
  ASSERT_EQ(LoadResult::LoadOk, DecodeFile(dir_, good, "png").result);
  // The image data ends 12 bytes before the file (the IEND chunk); every
  // shorter file lacks pixels or a CRC.
  for (std::size_t keep = 0; keep + 12 < good.size(); ++keep) {
    EXPECT_EQ(LoadResult::ReadError, DecodeFile(dir_, Bytes(good.begin(), good.begin() + keep), "png").result)
        << "cut to " << keep << " bytes";
  }
  // A sound header promising 1,000,000 x 1,100 pixels, more than any
  // picture may have, over 8 x 8 pixels of data.
  Bytes huge = good;
  const std::uint8_t dimensions[] = {0, 0x0F, 0x42, 0x40, 0, 0, 0x04, 0x4C};
  std::copy(std::begin(dimensions), std::end(dimensions), huge.begin() + 16);
  const auto crc = static_cast<std::uint32_t>(crc32(0, huge.data() + 12, 17));  // chunk type and data
  for (int i = 0; i < 4; ++i) huge[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  EXPECT_EQ(LoadResult::ReadError, DecodeFile(dir_, huge, "png").result);
}

}  // namespace
}  // namespace norvane
