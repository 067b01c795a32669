// The BMP, JPEG and TIFF readers on files made by the test writers, reached
// through the dispatch by file name as the program reaches them.
#include <gtest/gtest.h>

#include <algorithm>

#include "image/BmpReader.h"
#include "image/JpegReader.h"
#include "image/TiffReader.h"
#include "support/BmpWriter.h"
#include "support/JpegWriter.h"
#include "support/TestPictures.h"
#include "support/TiffWriter.h"

namespace norvane {
namespace {

using namespace test;
using R = LoadResult;

LoadResult Load(const Bytes& file, const char* name) {
  DecodedImage image;
  return LoadBytes(image, file, name);
}

BmpFields Bmp(int width, int height, int bits, Bytes pixels, Bytes table = {}) {
  BmpFields f;
  f.width = width, f.height = height, f.bitsPerPixel = static_cast<std::uint16_t>(bits);
  f.colourTable = std::move(table), f.pixels = std::move(pixels);
  return f;
}

TEST(BmpReader, EveryDepthDecodesToBgrTopRowFirst) {
  const struct { const char* what; BmpFields fields; Bytes expected; } cases[] = {
      // Rows of 12 bytes, bottom row first; the padding must not show.
      {"24 bits", Bmp(3, 2, 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xDD, 0xDD, 0xDD}),
       {11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      // Most significant bit first; unused low bits and padding are set.
      {"1 bit", Bmp(5, 2, 1, {0b10110111, 0xFF, 0xFF, 0xFF, 0b01001111, 0xFF, 0xFF, 0xFF}, DistinctTable(2)),
       DistinctColours({0, 1, 0, 0, 1, 1, 0, 1, 1, 0})},
      {"4 bits, high nibble first", Bmp(3, 1, 4, {0x1F, 0x3C, 0xAA, 0xAA}, DistinctTable(16)), DistinctColours({1, 15, 3})},
      {"8 bits, count 0 reads 256 entries", Bmp(4, 1, 8, {0, 128, 255, 7}, DistinctTable(256)), DistinctColours({0, 128, 255, 7})},
      // 0x7FFF, 0x8000, 0x001F, 0x03E0, 0xFC00: 5-5-5, top bit ignored.
      {"16 bits", Bmp(5, 1, 16, {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00, 0xE0, 0x03, 0x00, 0xFC, 0x77, 0x77}),
       {248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 248, 0, 0, 0, 248}},
      {"32 bits, fourth byte unused", Bmp(2, 1, 32, {1, 2, 3, 4, 5, 6, 7, 8}), {1, 2, 3, 5, 6, 7}},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    ASSERT_EQ(R::LoadOk, LoadBytes(image, MakeBmp(c.fields), "x.bmp")) << c.what;
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind) << c.what;
    EXPECT_EQ(c.fields.width, image.width) << c.what;
    EXPECT_EQ(c.expected, PixelsOf(image)) << c.what;
  }
  // The dispatch ignores the case of the extension and quotes around the path.
  TempDir dir;
  WriteFile(dir.File("y.BMP"), MakeBmp24(2, 1, {1, 2, 3, 4, 5, 6}));
  DecodedImage image;
  ASSERT_EQ(R::LoadOk, image.LoadImageFile("\"" + dir.File("y.BMP") + "\""));
  EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6}), PixelsOf(image));
  EXPECT_EQ(R::CannotOpen, ReadBmp(image, dir.File("missing.bmp")));
}

TEST(BmpReader, DamagedFilesHaveTheirOwnCodesAndLeaveNoPicture) {
  const struct { const char* what; void (*change)(BmpFields&); LoadResult expected; } cases[] = {
      {"magic MB", [](BmpFields& f) { f.magic = 0x424D; }, R::BadFormat},
      {"run-length", [](BmpFields& f) { f.compression = 1; }, R::Unsupported},
      {"top-down", [](BmpFields& f) { f.height = -2; }, R::Unsupported},
      {"negative width", [](BmpFields& f) { f.width = -2; }, R::BadFormat},
      {"absurd size", [](BmpFields& f) { f.width = 100000, f.height = 100000; }, R::Unsupported},
      {"last row short", [](BmpFields& f) { f.pixels.pop_back(); }, R::ReadError},
      {"pixels far away", [](BmpFields& f) { f.dataOffset = 1000; }, R::ReadError},
      // A count of 0 means 256 entries.
      {"colour table short", [](BmpFields& f) { f.bitsPerPixel = 8, f.colourTable = DistinctTable(255), f.pixels = {}; }, R::ReadError},
      // 900 megapixels are allowed, but the file holds one row: fail before allocating.
      {"rows missing", [](BmpFields& f) { f.width = f.height = 30000, f.pixels = Bytes(90000, 1); }, R::ReadError},
  };
  for (const auto& c : cases) {
    BmpFields f = Bmp(2, 2, 24, Bytes(16, 0x80));
    c.change(f);
    DecodedImage image;
    EXPECT_EQ(c.expected, LoadBytes(image, MakeBmp(f), "x.bmp")) << c.what;
    EXPECT_EQ(PixelKind::Empty, image.pixelKind) << c.what;
  }
  const Bytes good = MakeBmp24(3, 2, Bytes(18, 7));
  for (std::size_t size : {0, 2, 14, 53}) EXPECT_EQ(R::ReadError, Load(Bytes(good.begin(), good.begin() + size), "x.bmp")) << size;
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
  PutBytes(out, {0xFF, 0xD9});
  return out;
}

TEST(JpegReader, GreyIsIndexedColourIsBgrAndUnusableHugeOrEndlessFilesAreRefused) {
  const Bytes progressive = MakeJpeg(64, 64, 3, FlatPixels(64, 64, {90, 60, 30}), JpegOptions{95, true});
  // 65000 x 65000 pixels in the frame header: far above any limit, and the
  // library would need gigabytes of coefficients for a progressive file.
  Bytes huge = progressive;
  const Bytes sofMarker = {0xFF, 0xC2};
  const auto sof = std::search(huge.begin(), huge.end(), sofMarker.begin(), sofMarker.end()) - huge.begin();
  for (int i : {5, 7}) huge.at(sof + i) = 0xFD, huge.at(sof + i + 1) = 0xE8;
  const struct { const char* what; Bytes file; LoadResult expected; } cases[] = {
      // Two components carry no colour space the reader knows; rows are left
      // unread and finishing the decompression fails.
      {"two components", MakeJpeg(16, 16, 2, FlatPixels(16, 16, {10, 20}), JpegOptions{95, false, JpegStorage::Raw}),
       R::BadFormat},
      {"65000 x 65000", huge, R::Unsupported},
      {"20 scans", RepeatFirstScan(progressive, 20), R::LoadOk},
      {"2000 scans", RepeatFirstScan(progressive, 2000), R::BadFormat},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    EXPECT_EQ(c.expected, LoadBytes(image, c.file, "x.jpg")) << c.what;
    EXPECT_EQ(c.expected == R::LoadOk ? 64 : c.expected == R::Unsupported ? 0 : image.width, image.width) << c.what;
  }
  // A flat grey picture becomes indexed; colour comes out blue first.
  DecodedImage image;
  ASSERT_EQ(R::LoadOk, LoadBytes(image, MakeJpeg(33, 9, 1, FlatPixels(33, 9, {77})), "x.jpg"));
  EXPECT_EQ(PixelKind::Indexed8, image.pixelKind);
  EXPECT_NEAR(77, PixelsOf(image).back(), 2);
  ASSERT_EQ(R::LoadOk, LoadBytes(image, progressive, "x.jpg"));
  const Bytes bgr = PixelsOf(image);
  for (int i : {0, 1, 2}) EXPECT_NEAR(bgr[bgr.size() - 3 + i], 30 * (i + 1), 3) << i;
  EXPECT_EQ(R::CannotOpen, ReadJpeg(image, "/nonexistent/norvane/x.jpg"));
}

// RGB samples where a pixel's red is its row, green 100 + its column and blue
// 200 + both: a pixel at the wrong place or with its samples in the wrong
// order cannot go unnoticed. `bgr` gives them in the colour buffer's order.
Bytes PositionPixels(int width, int height, bool bgr = false) {
  Bytes out;
  for (int i = 0; i < width * height; ++i) {
    const auto r = static_cast<std::uint8_t>(i / width), g = static_cast<std::uint8_t>(100 + i % width);
    const auto b = static_cast<std::uint8_t>(200 + i / width + i % width);
    PutBytes(out, bgr ? Bytes{b, g, r} : Bytes{r, g, b});
  }
  return out;
}

// Width 4, 30 rows in three strips of 10 rows (120 bytes each), and 2 x 2 grey.
TiffBuilder Rgb() { return RgbTiff(4, 30, PositionPixels(4, 30), 10); }
TiffBuilder Grey() { return GrayTiff(2, 2, 8, {0, 50, 100, 150}); }
void SetLongs(TiffBuilder& b, std::uint16_t tag, const std::vector<std::uint32_t>& values) {
  b.Set(tag, kTiffLong, static_cast<std::uint32_t>(values.size()), b.AddLongs(values));
}

TEST(TiffReader, StripsLandAtTheirRowsAndComeOutBlueGreenRed) {
  // Rows per strip 2^31: strip 2 would start at row 2^32, which 32-bit
  // arithmetic wraps to row 0. Only the first strip has a place; it is cut to
  // the picture. The padding gives it bytes to read.
  TiffBuilder plain = Rgb(), wrapping = Rgb();
  wrapping.AddData(Bytes(300, 0xEE));
  SetLongs(wrapping.Set(kTagRowsPerStrip, kTiffLong, 1, 0x80000000), kTagStripByteCounts, {360, 120, 120});
  for (const TiffBuilder* b : {&plain, &wrapping}) {
    DecodedImage image;
    ASSERT_EQ(R::LoadOk, LoadBytes(image, b->Build(), "x.TIF"));
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
    EXPECT_EQ(PositionPixels(4, 30, true), PixelsOf(image));
  }
  // 8-bit grey becomes an indexed picture of its samples.
  DecodedImage grey;
  ASSERT_EQ(R::LoadOk, LoadBytes(grey, Grey().Build(), "x.tif"));
  EXPECT_EQ(PixelKind::Indexed8, grey.pixelKind);
  EXPECT_EQ((Bytes{0, 50, 100, 150}), PixelsOf(grey));
  // The directory comes last, so every cut takes away part of the header or
  // the directory; none of them may be read as values.
  const Bytes whole = Grey().Build();
  for (std::size_t n = 0; n < whole.size(); ++n) EXPECT_EQ(R::ReadError, Load(Bytes(whole.begin(), whole.begin() + n), "x.tif")) << n;
  EXPECT_EQ(R::CannotOpen, ReadTiff(grey, "/nonexistent/norvane/x.tif"));
}

TEST(TiffReader, VariantsOutsideTheSubsetAndHostileLayoutsAreRefused) {
  const struct { const char* name; TiffBuilder (*base)(); void (*change)(TiffBuilder&); LoadResult expected; } variants[] = {
      {"big-endian", Grey, [](TiffBuilder& b) { b.order[0] = b.order[1] = 'M'; }, R::BadFormat},
      {"second directory", Grey, [](TiffBuilder& b) { b.nextDirectory = 8; }, R::Unsupported},
      {"LZW", Grey, [](TiffBuilder& b) { b.Set(kTagCompression, kTiffShort, 1, 5); }, R::Unsupported},
      // A tiny file that promises a huge single strip.
      {"strip beyond the file", Grey, [](TiffBuilder& b) { b.Set(kTagWidth, kTiffLong, 1, 30000).Set(kTagLength, kTiffLong, 1, 30000); },
       R::ReadError},
      // The inline rule compares type code x count as a 64-bit number; a
      // 32-bit product would wrap to 4 for LONG x 2^30 + 1.
      {"LONG x 2^30 + 1", Grey, [](TiffBuilder& b) { b.Set(kTagWidth, kTiffLong, 0x40000001, 2); }, R::BadFormat},
      {"strip longer than the file", Rgb, [](TiffBuilder& b) { SetLongs(b, kTagStripByteCounts, {120, 120, 0x10000}); }, R::ReadError},
      {"fewer byte counts than strips", Rgb, [](TiffBuilder& b) { SetLongs(b, kTagStripByteCounts, {120, 120}); }, R::BadFormat},
      {"rows per strip 0, several strips", Rgb, [](TiffBuilder& b) { b.Set(kTagRowsPerStrip, kTiffLong, 1, 0); }, R::BadFormat},
      {"strip offset past the file", Rgb, [](TiffBuilder& b) { SetLongs(b, kTagStripOffsets, {8, 0x7FFFFFFF, 8}); }, R::ReadError},
      {"strip count 2^31", Rgb,
       [](TiffBuilder& b) {
         for (TiffEntry& e : b.entries()) e.count = e.tag == kTagStripOffsets || e.tag == kTagStripByteCounts ? 1u << 31 : e.count;
       },
       R::ReadError},
      // Samples per pixel below three are refused, but only once BitsPerSample
      // has made the picture RGB: listed before it, the tag has no effect.
      {"1 sample per pixel", Rgb, [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kTiffShort, 1, 1); }, R::Unsupported},
      {"1 sample per pixel, listed first", Rgb,
       [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kTiffShort, 1, 1).MoveToFront(kTagSamplesPerPixel); }, R::LoadOk},
  };
  for (const auto& v : variants) {
    TiffBuilder b = v.base();
    v.change(b);
    EXPECT_EQ(v.expected, Load(b.Build(), "x.tif")) << v.name;
  }
  // A two-byte file already shows its byte order; a directory offset far
  // beyond the end is a read error.
  Bytes farDirectory = Grey().Build();
  farDirectory[4] = 0xF0, farDirectory[7] = 0x7F;
  EXPECT_EQ(R::BadFormat, Load(Bytes{'M', 'M'}, "x.tif"));
  EXPECT_EQ(R::ReadError, Load(farDirectory, "x.tif"));
}

}  // namespace
}  // namespace norvane
