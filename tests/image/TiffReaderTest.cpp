#include <gtest/gtest.h>

#include "image/DecodedImage.h"
#include "image/TiffReader.h"
#include "support/TestPictures.h"
#include "support/TiffWriter.h"

namespace norvane {
namespace {

using namespace test;  // the builder and the tag names

// Every file goes through the dispatch, which sends .tif of any case here.
LoadResult Load(const Bytes& file) {
  DecodedImage image;
  return LoadBytes(image, file, "x.TIF");
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
  TiffBuilder plain = Rgb(), overlapping = Rgb(), wrapping = Rgb();
  // Every strip claims the rest of the picture; the next strip overwrites the
  // excess with its own rows. The padding gives them bytes to read.
  overlapping.AddData(Bytes(400, 0xEE));
  SetLongs(overlapping, kTagStripByteCounts, {360, 360, 360});
  // Rows per strip 2^31: strip 2 would start at row 2^32, which 32-bit
  // arithmetic wraps to row 0. Only the first strip has a place; it is cut to
  // the picture.
  wrapping.AddData(Bytes(300, 0xEE));
  SetLongs(wrapping.Set(kTagRowsPerStrip, kTiffLong, 1, 0x80000000), kTagStripByteCounts, {360, 120, 120});
  for (const TiffBuilder* b : {&plain, &overlapping, &wrapping}) {
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, LoadBytes(image, b->Build(), "x.tif"));
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
    EXPECT_EQ(PositionPixels(4, 30, true), PixelsOf(image));
  }
  // 8-bit grey becomes an indexed picture of its samples.
  DecodedImage grey;
  ASSERT_EQ(LoadResult::LoadOk, LoadBytes(grey, Grey().Build(), "x.tif"));
  EXPECT_EQ(PixelKind::Indexed8, grey.pixelKind);
  EXPECT_EQ((Bytes{0, 50, 100, 150}), PixelsOf(grey));
}

TEST(TiffReader, CutFilesAreReadErrors) {
  // The directory comes last, so every cut takes away part of the header or
  // the directory; none of them may be read as values.
  const Bytes whole = Grey().Build();
  for (std::size_t length = 0; length < whole.size(); ++length) {
    EXPECT_EQ(LoadResult::ReadError, Load(Bytes(whole.begin(), whole.begin() + length))) << length << " bytes";
  }
  DecodedImage image;
  EXPECT_EQ(LoadResult::CannotOpen, ReadTiff(image, "/nonexistent/norvane/x.tif"));
}

TEST(TiffReader, VariantsOutsideTheSubsetAndHostileLayoutsAreRefused) {
  using R = LoadResult;
  const struct {
    const char* name;
    TiffBuilder (*base)();
    void (*change)(TiffBuilder&);
    LoadResult expected;
  } variants[] = {
      {"big-endian", Grey, [](TiffBuilder& b) { b.order[0] = b.order[1] = 'M'; }, R::BadFormat},
      {"second directory", Grey, [](TiffBuilder& b) { b.nextDirectory = 8; }, R::Unsupported},
      {"LZW", Grey, [](TiffBuilder& b) { b.Set(kTagCompression, kTiffShort, 1, 5); }, R::Unsupported},
      {"compression not inline", Grey, [](TiffBuilder& b) { b.Set(kTagCompression, kTiffShort, 3, 8); }, R::BadFormat},
      {"17 bits", Grey, [](TiffBuilder& b) { b.Set(kTagBits, kTiffShort, 1, 17); }, R::Unsupported},
      {"huge", Grey, [](TiffBuilder& b) { b.Set(kTagWidth, kTiffLong, 1, 0x7FFFFFFF).Set(kTagLength, kTiffLong, 1, 0x7FFFFFFF); },
       R::Unsupported},
      // A tiny file that promises a huge single strip.
      {"strip beyond the file", Grey, [](TiffBuilder& b) { b.Set(kTagWidth, kTiffLong, 1, 30000).Set(kTagLength, kTiffLong, 1, 30000); },
       R::ReadError},
      // The first failing entry decides, in directory order.
      {"first failure wins", Grey, [](TiffBuilder& b) { b.Set(kTagCompression, kTiffShort, 1, 5).Set(kTagPhotometric, kTiffLong, 2, 8); },
       R::Unsupported},
      // The inline rule compares type code x count, as a signed number; a
      // 32-bit product would wrap to 4 for LONG x 2^30 + 1.
      {"SHORT x 2", Grey, [](TiffBuilder& b) { b.Set(kTagWidth, kTiffShort, 2, 2); }, R::BadFormat},
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
      {"zero-length strips", Rgb, [](TiffBuilder& b) { SetLongs(b, kTagStripByteCounts, {0, 0, 0}); }, R::LoadOk},
      // Samples per pixel below three are refused, but only once BitsPerSample
      // has made the picture RGB: listed before it, the tag has no effect.
      {"1 sample per pixel", Rgb, [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kTiffShort, 1, 1); }, R::Unsupported},
      {"1 sample per pixel, listed first", Rgb,
       [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kTiffShort, 1, 1).MoveToFront(kTagSamplesPerPixel); }, R::LoadOk},
  };
  for (const auto& v : variants) {
    TiffBuilder b = v.base();
    v.change(b);
    EXPECT_EQ(v.expected, Load(b.Build())) << v.name;
  }
  // A two-byte file already shows its byte order; a directory offset far
  // beyond the end is a read error.
  Bytes farDirectory = Grey().Build();
  farDirectory[4] = 0xF0, farDirectory[7] = 0x7F;
  EXPECT_EQ(LoadResult::BadFormat, Load(Bytes{'M', 'M'}));
  EXPECT_EQ(LoadResult::ReadError, Load(farDirectory));
}

}  // namespace
}  // namespace norvane
