#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "image/DecodedImage.h"
#include "image/JpegReader.h"
#include "support/BmpWriter.h"
#include "support/JpegWriter.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

using test::Bytes;
using test::FlatPixels;
using test::JpegOptions;
using test::JpegStorage;
using test::MakeJpeg;

LoadResult ReadJpegBytes(const Bytes& bytes, DecodedImage& image) {
  test::TempDir dir;
  const std::string path = dir.File("picture.jpg");
  test::WriteFile(path, bytes);
  return ReadJpeg(image, path);
}

// Samples of `components` bytes per pixel, filled per region: the picture is
// split into a left and a right half at `splitX` and a top and a bottom half at
// `splitY`; the four regions take the four samples in reading order.
std::vector<std::uint8_t> Quadrants(int width, int height, int splitX, int splitY,
                                    const std::array<std::vector<std::uint8_t>, 4>& samples) {
  std::vector<std::uint8_t> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto& s = samples[(y < splitY ? 0 : 2) + (x < splitX ? 0 : 1)];
      pixels.insert(pixels.end(), s.begin(), s.end());
    }
  }
  return pixels;
}

// Colour files halve the chroma resolution, and the decoder's smooth
// upsampling blends chroma across a region border: compare colours only away
// from the borders.
bool NearBorder(int x, int y, int splitX, int splitY) { return std::abs(x - splitX) <= 2 || std::abs(y - splitY) <= 2; }

// Colour samples further than `tolerance` from `expected(x, y)` (blue, green,
// red), leaving out the pixels `skip` names.
using Bgr = std::array<int, 3>;
int CountOff(const DecodedImage& image, const std::function<Bgr(int, int)>& expected, int tolerance,
             const std::function<bool(int, int)>& skip = {}) {
  if (image.pixelKind != PixelKind::Bgr24) return -1;
  int off = 0;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (skip && skip(x, y)) continue;
      const std::uint8_t* bgr = image.colour.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
      const Bgr want = expected(x, y);
      for (int i = 0; i < 3; ++i) off += std::abs(bgr[i] - want[i]) > tolerance;
    }
  }
  return off;
}

// Gives the position of the first frame-header marker (baseline or progressive).
std::size_t FindFrameHeader(const Bytes& jpeg) {
  for (std::size_t i = 0; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return i;
  }
  return 0;
}

// ---------------------------------------------------------------- grey files

TEST(JpegGrey, BecomesIndexedWithRowsInOrder) {
  // Region borders on 8-pixel block edges keep every block flat, so the lossy
  // coding changes each value by a step or two at most. The odd width must
  // give unpadded rows.
  const std::array<std::vector<std::uint8_t>, 4> levels{{{20}, {90}, {160}, {240}}};
  const Bytes file = MakeJpeg(101, 50, 1, Quadrants(101, 50, 48, 24, levels));
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, ReadJpegBytes(file, image));
  EXPECT_EQ(PixelKind::Indexed8, image.pixelKind);
  EXPECT_EQ(101, image.width);
  EXPECT_EQ(50, image.height);
  ASSERT_EQ(5050u, image.indexed.size());
  EXPECT_FALSE(image.colour);
  int wrong = 0;
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 101; ++x) {
      const int expected = levels[(y < 24 ? 0 : 2) + (x < 48 ? 0 : 1)][0];
      wrong += std::abs(image.indexed.data()[y * 101 + x] - expected) > 2;
    }
  }
  EXPECT_EQ(0, wrong) << "pixels away from the written grey level";
}

// -------------------------------------------------------------- colour files

TEST(JpegColour, BecomesBgr24WithBlueFirst) {
  // Regions on 16-pixel edges, the size of a colour block with halved chroma.
  const std::array<std::vector<std::uint8_t>, 4> colours{{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}};
  const std::vector<std::uint8_t> pixels = Quadrants(65, 32, 32, 16, colours);  // odd width: unpadded rows
  for (const bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    JpegOptions options;
    options.progressive = progressive;
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, ReadJpegBytes(MakeJpeg(65, 32, 3, pixels, options), image));
    ASSERT_EQ(65u * 32u * 3u, image.colour.size());
    EXPECT_FALSE(image.indexed);
    const auto written = [&](int x, int y) {
      const auto& rgb = colours[(y < 16 ? 0 : 2) + (x < 32 ? 0 : 1)];
      return Bgr{rgb[2], rgb[1], rgb[0]};
    };
    EXPECT_EQ(0, CountOff(image, written, 6, [](int x, int y) { return NearBorder(x, y, 32, 16); }));
  }
}

// ---------------------------------------------------------------- CMYK files

TEST(JpegCmyk, InvertedSamplesBecomeBlueGreenRed) {
  const std::vector<std::uint8_t> cmyk = {
      255, 255, 255, 255,  // no ink: white
      0,   255, 255, 255,  // full cyan: blue and green stay, red goes
      255, 255, 255, 0,    // full black
      150, 150, 150, 200,  // exactly 117.647...: cut to 117, not rounded to 118
      51,  100, 255, 255,  // red is exactly 51 in real numbers, but the double
                           // computation lands just below and is cut to 50
  };
  const std::vector<std::uint8_t> expected = {255, 255, 255, 255, 255, 0, 0, 0, 0, 117, 117, 117, 255, 100, 50};
  std::vector<std::uint8_t> bgr(expected.size(), 0xAA);
  ConvertCmykRow(cmyk.data(), bgr.data(), 5);
  EXPECT_EQ(expected, bgr);
}

// ------------------------------------------------------------- refused files

TEST(JpegRefused, FilesWithoutUsableJpegDataAreBadFormat) {
  // Two components carry no colour space the reader knows; rows are left
  // unread and finishing the decompression fails.
  JpegOptions raw;
  raw.storage = JpegStorage::Raw;
  const std::vector<std::pair<const char*, Bytes>> files = {
      {"empty", {}},
      {"bmp", test::MakeBmp24(2, 2, std::vector<std::uint8_t>(12, 7))},
      {"marker only", Bytes{0xFF, 0xD8}},
      {"two components", MakeJpeg(16, 16, 2, FlatPixels(16, 16, {10, 20}), raw)},
  };
  for (const auto& [name, bytes] : files) {
    DecodedImage image;
    EXPECT_EQ(LoadResult::BadFormat, ReadJpegBytes(bytes, image)) << name;
  }
  test::TempDir dir;
  DecodedImage image;
  EXPECT_EQ(LoadResult::CannotOpen, ReadJpeg(image, dir.File("absent.jpg")));
  EXPECT_EQ(PixelKind::Empty, image.pixelKind);
}

TEST(JpegRefused, HugeDimensionsAreRefusedBeforeDecoding) {
  {
    JpegOptions options;
    options.progressive = true;
    Bytes file = MakeJpeg(8, 8, 3, FlatPixels(8, 8, {1, 2, 3}), options);
    const std::size_t sof = FindFrameHeader(file);
    ASSERT_NE(0u, sof);
    // 65000 x 65000 pixels: far above any limit, and the library would need
    // gigabytes of coefficients for the progressive variant.
    file[sof + 5] = 0xFD;
    file[sof + 6] = 0xE8;
    file[sof + 7] = 0xFD;
    file[sof + 8] = 0xE8;
    DecodedImage image;
    EXPECT_EQ(LoadResult::Unsupported, ReadJpegBytes(file, image));
    EXPECT_EQ(nullptr, image.Pixels());
  }
}

// A progressive file whose first scan (header and data) is repeated `times`
// times. Repeating a scan is a fault the library only warns about.
Bytes RepeatFirstScan(const Bytes& progressive, int times) {
  std::size_t sos = 0;
  while (sos + 4 < progressive.size() && !(progressive[sos] == 0xFF && progressive[sos + 1] == 0xDA)) ++sos;
  if (sos + 4 >= progressive.size()) return {};
  std::size_t end = sos + 2 + (progressive[sos + 2] << 8 | progressive[sos + 3]);
  // The scan's data runs to the next marker that is neither a stuffed 0xFF nor a restart marker.
  while (end + 1 < progressive.size() &&
         !(progressive[end] == 0xFF && progressive[end + 1] != 0 && (progressive[end + 1] & 0xF8) != 0xD0)) {
    ++end;
  }
  const Bytes scan(progressive.begin() + static_cast<long>(sos), progressive.begin() + static_cast<long>(end));
  Bytes out(progressive.begin(), progressive.begin() + static_cast<long>(sos));
  for (int i = 0; i < times; ++i) out.insert(out.end(), scan.begin(), scan.end());
  out.push_back(0xFF);
  out.push_back(0xD9);
  return out;
}

TEST(JpegDamaged, EndlessScanSequencesAreRefused) {
  JpegOptions options;
  options.progressive = true;
  const Bytes file = MakeJpeg(64, 64, 3, FlatPixels(64, 64, {90, 60, 30}), options);
  DecodedImage few, many;
  EXPECT_EQ(LoadResult::LoadOk, ReadJpegBytes(RepeatFirstScan(file, 20), few));
  EXPECT_EQ(64, few.width);
  EXPECT_EQ(LoadResult::BadFormat, ReadJpegBytes(RepeatFirstScan(file, 2000), many));
}

}  // namespace
}  // namespace norvane
