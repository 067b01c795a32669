// The shipped GIF and PNG plug-ins, loaded the way the program loads them,
// on files made with giflib and libpng.
#include <gtest/gtest.h>
#include <zlib.h>

#include "image/DecodedImage.h"
#include "support/GifWriter.h"
#include "support/PngWriter.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::Bytes;
using test::GifColour;
using test::PngColour;

Bytes Bgr(const std::vector<GifColour>& colours) {
  Bytes out;
  for (const GifColour& c : colours) test::PutBytes(out, {c.blue, c.green, c.red});
  return out;
}

const GifColour kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

Bytes Png(int width, int height, PngColour colour, int depth, Bytes rows, std::vector<std::array<std::uint8_t, 3>> palette = {},
          Bytes paletteAlpha = {}) {
  return test::MakePng({width, height, colour, depth, false, std::move(rows), std::move(palette), std::move(paletteAlpha), {}});
}

// A 2 x 1 GIF of index 0 made by hand, since giflib will not write an image
// whose indices have no colour map: with a two-entry global map or without.
Bytes HandMadeGif(bool globalMap) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, static_cast<std::uint8_t>(globalMap ? 0x80 : 0), 0, 0};
  if (globalMap) test::PutBytes(gif, {255, 0, 0, 0, 0, 255});
  test::PutBytes(gif, {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0});  // image descriptor, no local map
  test::PutBytes(gif, {2, 2, 0x04, 0x0A, 0, 0x3B});        // clear, 0, 0, end; trailer
  return gif;
}

LoadResult Load(const Bytes& file, const char* name, DecodedImage& image) { return test::LoadBytes(image, file, name); }

TEST(GifPngPlugin, EveryLayoutBecomesBgrTopRowFirst) {
  // Only the first frame, at its own size, with its local map.
  const test::GifFrame first{2, 3, 3, 2, {0, 1, 2, 2, 1, 0}, {kGreen, kBlue, kRed}, false};
  const Bytes frames = test::MakeGif({10, 10, {kBlack, kWhite}, {first, test::GifFrame{0, 0, 10, 10, Bytes(100, 1), {}, false}}});
  // Interlaced rows come in four passes; 256 colours fill the whole table.
  std::vector<GifColour> colours, used;
  Bytes indices;
  for (int i = 0; i < 256; ++i) colours.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7});
  for (int i = 0; i < 2 * 11; ++i) indices.push_back(static_cast<std::uint8_t>(255 - i * 3)), used.push_back(colours[indices.back()]);
  // An interlaced 9 x 9 RGBA picture reaches all seven passes; every third pixel is clear.
  test::PngPicture rgba{9, 9, PngColour::Rgba, 8, true, {}, {}, {}, {}};
  Bytes rgbaBgr;
  for (int i = 0; i < 81; ++i) {
    const auto r = static_cast<std::uint8_t>(20 * (i % 9)), g = static_cast<std::uint8_t>(20 * (i / 9)),
               b = static_cast<std::uint8_t>(i % 9 + i / 9);
    const bool clear = (i % 9 + i / 9) % 3 == 0;
    test::PutBytes(rgba.rows, {r, g, b, static_cast<std::uint8_t>(clear ? 0 : 255)});
    test::PutBytes(rgbaBgr, clear ? Bytes{255, 255, 255} : Bytes{b, g, r});
  }
  const struct {
    const char* what;
    const char* name;
    Bytes file;
    int width;
    Bytes expectedBgr;
  } cases[] = {
      {"GIF frames", "x.gif", frames, 3, Bgr({kGreen, kBlue, kRed, kRed, kBlue, kGreen})},
      {"GIF interlaced", "x.gif", test::MakeGif(2, 11, colours, indices, true), 2, Bgr(used)},
      {"GIF global map", "x.gif", HandMadeGif(true), 2, Bgr({kRed, kRed})},
      {"grey 16 keeps the high byte", "x.png", Png(2, 1, PngColour::Gray, 16, {0x12, 0xFF, 0xAB, 0x00}), 2,
       {0x12, 0x12, 0x12, 0xAB, 0xAB, 0xAB}},
      // Over white: alpha 255 keeps the sample, alpha 0 is white; 10 at alpha
      // 100 is 159.4 and 1 at alpha 128 is 127.5 + 0.5, rounded.
      {"grey + alpha", "x.png", Png(4, 1, PngColour::GrayAlpha, 8, {0, 0, 0, 255, 10, 100, 1, 128}), 4,
       {255, 255, 255, 0, 0, 0, 159, 159, 159, 128, 128, 128}},
      {"palette 2 bit, entry 1 transparent", "x.png",
       Png(3, 1, PngColour::Palette, 2, {0b00011000}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}, {255, 0}), 3,
       {0, 0, 255, 255, 255, 255, 255, 0, 0}},
      {"rgb 8, odd width", "x.png", test::MakePngRgb(3, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19}), 3,
       {3, 2, 1, 6, 5, 4, 9, 8, 7, 13, 12, 11, 16, 15, 14, 19, 18, 17}},
      {"interlaced rgba", "x.png", test::MakePng(rgba), 9, rgbaBgr},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, Load(c.file, c.name, image)) << c.what << ": are the shipped plug-ins built?";
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind) << c.what;
    EXPECT_EQ(c.width, image.width) << c.what;
    EXPECT_EQ(c.expectedBgr, test::PixelsOf(image)) << c.what;
  }
}

TEST(GifPngPlugin, BrokenFilesAreReadErrors) {
  // Every cut before the image's last data byte loses pixels; a PNG's image
  // data ends 12 bytes before the file (the IEND chunk).
  const Bytes gif = test::MakeGif(4, 4, {kRed, kBlue}, Bytes(16, 1)), png = test::MakePngRgb(8, 8, test::RandomBytes(192, 1));
  std::vector<std::pair<std::string, Bytes>> files = {{"x.gif", HandMadeGif(false)}};  // indices without a colour map
  for (std::size_t keep = 0; keep + 2 < gif.size(); ++keep) files.push_back({"x.gif", Bytes(gif.begin(), gif.begin() + keep)});
  for (std::size_t keep = 0; keep + 12 < png.size(); ++keep) files.push_back({"x.png", Bytes(png.begin(), png.begin() + keep)});
  // A sound header promising 1,000,000 x 1,100 pixels, more than any
  // picture may have, over 8 x 8 pixels of data.
  Bytes huge = png;
  const std::uint8_t dimensions[] = {0, 0x0F, 0x42, 0x40, 0, 0, 0x04, 0x4C};
  std::copy(std::begin(dimensions), std::end(dimensions), huge.begin() + 16);
  const auto crc = static_cast<std::uint32_t>(crc32(0, huge.data() + 12, 17));  // chunk type and data
  for (int i = 0; i < 4; ++i) huge[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  files.push_back({"x.png", huge});
  for (const auto& [name, file] : files) {
    DecodedImage image;
    EXPECT_EQ(LoadResult::ReadError, Load(file, name.c_str(), image)) << name << " of " << file.size() << " bytes";
  }
}

}  // namespace
}  // namespace norvane
