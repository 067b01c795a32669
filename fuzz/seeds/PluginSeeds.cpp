// Seeds for fuzz_gif and fuzz_png: small valid files covering the colour
// maps, frame layouts, colour types, bit depths and interlacing the plug-ins
// handle.
#include <cstdint>
#include <vector>

#include "seeds/SeedRegistry.h"
#include "support/GifWriter.h"
#include "support/PngWriter.h"

namespace norvane::fuzz {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t count, int modulo) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>((i * 7 + i / 3) % modulo));
  return out;
}

std::vector<test::GifColour> Colours(int count) {
  std::vector<test::GifColour> out;
  for (int i = 0; i < count; ++i) {
    out.push_back({static_cast<std::uint8_t>(i * 13), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i)});
  }
  return out;
}

std::vector<Seed> GifSeeds() {
  std::vector<Seed> seeds;
  seeds.push_back({"global.gif", test::MakeGif(7, 5, Colours(5), Pattern(35, 5))});
  seeds.push_back({"interlaced.gif", test::MakeGif(5, 13, Colours(256), Pattern(65, 256), true)});
  test::GifPicture frames;
  frames.screenWidth = 16;
  frames.screenHeight = 12;
  frames.globalColours = Colours(4);
  frames.frames.push_back(test::GifFrame{3, 2, 6, 4, Pattern(24, 16), Colours(16), false});
  frames.frames.push_back(test::GifFrame{0, 0, 16, 12, Pattern(192, 4), {}, true});
  seeds.push_back({"frames.gif", test::MakeGif(frames)});
  return seeds;
}

test::PngPicture Picture(int width, int height, test::PngColour colour, int depth, int channels) {
  test::PngPicture picture;
  picture.width = width;
  picture.height = height;
  picture.colour = colour;
  picture.bitDepth = depth;
  const std::size_t rowBytes = (static_cast<std::size_t>(width) * channels * depth + 7) / 8;
  picture.rows = Pattern(rowBytes * static_cast<std::size_t>(height), 256);
  return picture;
}

std::vector<Seed> PngSeeds() {
  using test::PngColour;
  std::vector<Seed> seeds;
  seeds.push_back({"grey1.png", test::MakePng(Picture(11, 3, PngColour::Gray, 1, 1))});
  seeds.push_back({"grey16.png", test::MakePng(Picture(3, 4, PngColour::Gray, 16, 1))});
  seeds.push_back({"greyalpha.png", test::MakePng(Picture(5, 2, PngColour::GrayAlpha, 8, 2))});
  test::PngPicture palette = Picture(6, 3, PngColour::Palette, 4, 1);
  for (int i = 0; i < 16; ++i) {
    palette.palette.push_back({static_cast<std::uint8_t>(i * 16), static_cast<std::uint8_t>(i), 200});
  }
  palette.paletteAlpha = {0, 128, 255};
  seeds.push_back({"palette.png", test::MakePng(palette)});
  seeds.push_back({"rgb.png", test::MakePng(Picture(5, 3, PngColour::Rgb, 8, 3))});
  test::PngPicture key = Picture(4, 2, PngColour::Rgb, 16, 3);
  key.transparentColour = std::array<std::uint16_t, 3>{1, 2, 3};
  seeds.push_back({"rgb16key.png", test::MakePng(key)});
  test::PngPicture interlaced = Picture(9, 10, PngColour::Rgba, 8, 4);
  interlaced.interlaced = true;
  seeds.push_back({"rgba_interlaced.png", test::MakePng(interlaced)});
  return seeds;
}

const SeedRegistrar gifSeeds("fuzz_gif", GifSeeds);
const SeedRegistrar pngSeeds("fuzz_png", PngSeeds);

}  // namespace
}  // namespace norvane::fuzz
