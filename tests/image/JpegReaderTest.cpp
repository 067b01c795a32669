#include <gtest/gtest.h>

#include <algorithm>

#include "image/DecodedImage.h"
#include "image/JpegReader.h"
#include "support/BmpWriter.h"
#include "support/JpegWriter.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::Bytes;
using test::FlatPixels;
using test::MakeJpeg;

LoadResult Load(const Bytes& file, DecodedImage& image) { return test::LoadBytes(image, file, "x.jpg"); }

test::JpegOptions Options(bool progressive, test::JpegStorage storage = test::JpegStorage::Default) {
  return test::JpegOptions{95, progressive, storage};
}

// A picture whose rows above `split` are all `top`, the rest `bottom`.
Bytes Halves(int width, int height, int split, const Bytes& top, const Bytes& bottom) {
  Bytes out = FlatPixels(width, split, top), rest = FlatPixels(width, height - split, bottom);
  test::PutBytes(out, rest);
  return out;
}

// Decoded samples further than `tolerance` from `expected`, leaving out the
// rows within two of the split: colour files halve the chroma resolution,
// and the decoder's smooth upsampling blends chroma across the border.
int CountOff(const DecodedImage& image, const Bytes& expected, int split, int tolerance) {
  const Bytes decoded = test::PixelsOf(image);
  if (decoded.size() != expected.size()) return -1;
  int off = 0;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const int y = static_cast<int>(i / (decoded.size() / image.height));
    off += (y < split - 2 || y > split + 2) && std::abs(decoded[i] - expected[i]) > tolerance;
  }
  return off;
}

TEST(JpegReader, GreyBecomesIndexedAndColourBecomesBgr) {
  // The split on a block edge keeps every block flat, so the lossy coding
  // changes each sample by a few steps at most. Odd widths must give unpadded rows.
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, Load(MakeJpeg(101, 50, 1, Halves(101, 50, 24, {20}, {240})), image));
  EXPECT_EQ(PixelKind::Indexed8, image.pixelKind);
  EXPECT_EQ(101, image.width);
  EXPECT_EQ(0, CountOff(image, Halves(101, 50, 24, {20}, {240}), -9, 2));
  for (const bool progressive : {false, true}) {
    ASSERT_EQ(LoadResult::LoadOk, Load(MakeJpeg(65, 32, 3, Halves(65, 32, 16, {255, 0, 0}, {0, 40, 255}), Options(progressive)), image));
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
    EXPECT_EQ(32, image.height);
    EXPECT_EQ(0, CountOff(image, Halves(65, 32, 16, {0, 0, 255}, {255, 40, 0}), 16, 6)) << progressive;
  }
}

TEST(JpegReader, InvertedCmykSamplesBecomeBlueGreenRed) {
  const std::vector<std::uint8_t> cmyk = {
      255, 255, 255, 255,  // no ink: white
      0,   255, 255, 255,  // full cyan: blue and green stay, red goes
      255, 255, 255, 0,    // full black
      150, 150, 150, 200,  // exactly 117.647...: cut to 117, not rounded to 118
      51,  100, 255, 255,  // red is exactly 51 in real numbers, but the double
                           // computation lands just below and is cut to 50
  };
  std::vector<std::uint8_t> bgr(15, 0xAA);
  ConvertCmykRow(cmyk.data(), bgr.data(), 5);
  EXPECT_EQ((Bytes{255, 255, 255, 255, 255, 0, 0, 0, 0, 117, 117, 117, 255, 100, 50}), bgr);
}

// A progressive file whose first scan (header and data) comes `times` times.
// Repeating a scan is a fault the library only warns about.
Bytes RepeatFirstScan(const Bytes& file, int times) {
  std::size_t sos = 0;
  while (sos + 4 < file.size() && !(file[sos] == 0xFF && file[sos + 1] == 0xDA)) ++sos;
  std::size_t end = sos + 2 + (file[sos + 2] << 8 | file[sos + 3]);
  // The data runs to the next marker that is neither a stuffed 0xFF nor a restart marker.
  while (end + 1 < file.size() && !(file[end] == 0xFF && file[end + 1] != 0 && (file[end + 1] & 0xF8) != 0xD0)) ++end;
  Bytes out(file.begin(), file.begin() + sos);
  for (int i = 0; i < times; ++i) out.insert(out.end(), file.begin() + sos, file.begin() + end);
  test::PutBytes(out, {0xFF, 0xD9});
  return out;
}

TEST(JpegReader, UnusableHugeAndEndlessFilesAreRefused) {
  const Bytes progressive = MakeJpeg(64, 64, 3, FlatPixels(64, 64, {90, 60, 30}), Options(true));
  // 65000 x 65000 pixels in the frame header: far above any limit, and the
  // library would need gigabytes of coefficients for a progressive file.
  Bytes huge = progressive;
  const Bytes sofMarker = {0xFF, 0xC2};
  const auto sof = std::search(huge.begin(), huge.end(), sofMarker.begin(), sofMarker.end()) - huge.begin();
  for (int i : {5, 7}) huge.at(sof + i) = 0xFD, huge.at(sof + i + 1) = 0xE8;
  const struct {
    const char* what;
    Bytes file;
    LoadResult expected;
  } cases[] = {
      {"empty", {}, LoadResult::BadFormat},
      {"bmp", test::MakeBmp24(2, 2, Bytes(12, 7)), LoadResult::BadFormat},
      {"marker only", {0xFF, 0xD8}, LoadResult::BadFormat},
      // Two components carry no colour space the reader knows; rows are left
      // unread and finishing the decompression fails.
      {"two components", MakeJpeg(16, 16, 2, FlatPixels(16, 16, {10, 20}), Options(false, test::JpegStorage::Raw)),
       LoadResult::BadFormat},
      {"65000 x 65000", huge, LoadResult::Unsupported},
      {"20 scans", RepeatFirstScan(progressive, 20), LoadResult::LoadOk},
      {"2000 scans", RepeatFirstScan(progressive, 2000), LoadResult::BadFormat},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    EXPECT_EQ(c.expected, Load(c.file, image)) << c.what;
    if (c.expected != LoadResult::BadFormat) EXPECT_EQ(c.expected == LoadResult::LoadOk ? 64 : 0, image.width) << c.what;
  }
  DecodedImage image;
  EXPECT_EQ(LoadResult::CannotOpen, ReadJpeg(image, "/nonexistent/norvane/x.jpg"));
}

}  // namespace
}  // namespace norvane
