#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/DecodedImage.h"
#include "image/TiffReader.h"
#include "support/TempDir.h"
#include "support/TiffWriter.h"

namespace norvane {
namespace {

using test::Bytes;
using test::TiffBuilder;

LoadResult Load(const Bytes& file, DecodedImage& image) {
  test::TempDir dir;
  const std::string path = dir.File("x.tif");
  test::WriteFile(path, file);
  return ReadTiff(image, path);
}

LoadResult Load(const Bytes& file) {
  DecodedImage image;
  return Load(file, image);
}

Bytes Ramp(std::size_t length, int step, int first = 0) {
  Bytes out;
  for (std::size_t i = 0; i < length; ++i) out.push_back(static_cast<std::uint8_t>(first + step * static_cast<int>(i)));
  return out;
}

// RGB samples where each pixel's red is its row, green its column + 100 and
// blue 200 + row + column: a pixel at the wrong place or with its samples in
// the wrong order cannot go unnoticed.
Bytes PositionRgb(int width, int height) {
  Bytes out;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      out.push_back(static_cast<std::uint8_t>(y));
      out.push_back(static_cast<std::uint8_t>(100 + x));
      out.push_back(static_cast<std::uint8_t>(200 + x + y));
    }
  }
  return out;
}

// The same pixels as the colour buffer holds them: blue, green, red.
Bytes ToBgr(const Bytes& rgb) {
  Bytes out = rgb;
  for (std::size_t i = 0; i + 2 < out.size(); i += 3) std::swap(out[i], out[i + 2]);
  return out;
}

test::TiffEntry& EntryOf(TiffBuilder& b, std::uint16_t tag) {
  for (test::TiffEntry& e : b.entries()) {
    if (e.tag == tag) return e;
  }
  ADD_FAILURE() << "no entry " << tag;
  static test::TiffEntry none;
  return none;
}

std::uint32_t U32At(const Bytes& file, std::size_t at) {
  return static_cast<std::uint32_t>(file.at(at) | (file.at(at + 1) << 8) | (file.at(at + 2) << 16)) |
         (static_cast<std::uint32_t>(file.at(at + 3)) << 24);
}

Bytes PixelsOf(const DecodedImage& image) {
  return Bytes(image.Pixels(), image.Pixels() + image.PixelBytes());
}

// The RGB picture that most strip tests start from: width 4, 30 rows in
// three strips of 10 rows (120 bytes each).
constexpr int kRgbWidth = 4;
constexpr int kRgbHeight = 30;
TiffBuilder ThreeStripRgb() { return test::RgbTiff(kRgbWidth, kRgbHeight, PositionRgb(kRgbWidth, kRgbHeight), 10); }

TEST(TiffHeader, RefusesOtherByteOrdersAndVersions) {
  TiffBuilder bigEndian = test::GrayTiff(2, 2, 8, Ramp(4, 1));
  bigEndian.order[0] = 'M';
  bigEndian.order[1] = 'M';
  EXPECT_EQ(LoadResult::BadFormat, Load(bigEndian.Build()));

  TiffBuilder version43 = test::GrayTiff(2, 2, 8, Ramp(4, 1));
  version43.version = 43;
  EXPECT_EQ(LoadResult::BadFormat, Load(version43.Build()));

  // A two-byte file already shows its byte order.
  EXPECT_EQ(LoadResult::BadFormat, Load(Bytes{'M', 'M'}));
}

TEST(TiffHeader, FileCutAnywhereBeforeItsEndIsAReadError) {
  // The directory comes last, so every cut takes away part of the header or
  // the directory; none of them may be read as values.
  const Bytes grey = test::GrayTiff(3, 2, 8, Ramp(6, 9)).Build();
  const Bytes rgb = ThreeStripRgb().Build();
  for (const Bytes* whole : {&grey, &rgb}) {
    ASSERT_EQ(LoadResult::LoadOk, Load(*whole));
    for (std::size_t length = 0; length < whole->size(); ++length) {
      const Bytes cut(whole->begin(), whole->begin() + static_cast<std::ptrdiff_t>(length));
      EXPECT_EQ(LoadResult::ReadError, Load(cut)) << "cut at " << length << " of " << whole->size();
    }
  }
}

TEST(TiffHeader, OffsetsPastTheEndOfTheFileAreReadErrors) {
  Bytes farDirectory = test::GrayTiff(2, 2, 8, Ramp(4, 1)).Build();
  farDirectory[4] = 0xF0;  // directory offset 0x...F0 beyond the end
  farDirectory[7] = 0x7F;
  EXPECT_EQ(LoadResult::ReadError, Load(farDirectory));

  TiffBuilder farBits = ThreeStripRgb();
  farBits.Set(test::kTagBits, test::kTiffShort, 3, 0x7FFFFFF0);
  EXPECT_EQ(LoadResult::ReadError, Load(farBits.Build()));

  DecodedImage image;
  EXPECT_EQ(LoadResult::CannotOpen, ReadTiff(image, "/nonexistent/norvane/x.tif"));
}

TEST(TiffGrey, EightBitsOneStripReadsThePictureAndGetsTheGreyRamp) {
  const Bytes samples = Ramp(5 * 3, 17, 1);
  TiffBuilder b = test::GrayTiff(5, 3, 8, samples);
  // The single strip's length comes from the dimensions, not from the file;
  // tags the reader does not know are skipped.
  b.Set(test::kTagStripByteCounts, test::kTiffLong, 1, 1);
  b.Add(305, 2, 40, 0xFFFFFF00);
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, Load(b.Build(), image));
  EXPECT_EQ(PixelKind::Indexed8, image.pixelKind);
  EXPECT_EQ(5, image.width);
  EXPECT_EQ(3, image.height);
  EXPECT_EQ(samples, PixelsOf(image));
  for (int i = 0; i < 256; ++i) {
    const PaletteEntry& e = image.palette[i];
    ASSERT_TRUE(e.blue == i && e.green == i && e.red == i && e.reserved == 0) << "entry " << i;
  }
}

TEST(TiffGrey, SamplesAreCopiedAsStored) {
  // Fewer than 8 bits: one stored byte per pixel, not unpacked.
  for (int bits : {1, 4}) {
    const Bytes samples = {0, 1, 0xFF, 7, 0x80, 3};
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, Load(test::GrayTiff(3, 2, bits, samples).Build(), image)) << bits;
    EXPECT_EQ(PixelKind::Indexed8, image.pixelKind);
    EXPECT_EQ(samples, PixelsOf(image)) << bits;
  }
  // 9 to 16 bits: two bytes per pixel, low byte first.
  for (int bits : {9, 12, 16}) {
    Bytes samples;
    for (std::uint16_t v : {0x0102, 0xFF00, 0x00FF, 0xABCD, 0x1234, 0x8001}) test::PutU16(samples, v);
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, Load(test::GrayTiff(2, 3, bits, samples).Build(), image)) << bits;
    EXPECT_EQ(PixelKind::Gray16, image.pixelKind);
    ASSERT_EQ(12u, image.PixelBytes());
    EXPECT_EQ(0x02, image.gray16.data()[0]);
    EXPECT_EQ(0x01, image.gray16.data()[1]);
    EXPECT_EQ(samples, PixelsOf(image)) << bits;
  }
}

TEST(TiffRgb, ThreeStripsLandAtTheirRowsAndComeOutBlueGreenRed) {
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, Load(ThreeStripRgb().Build(), image));
  EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
  ASSERT_EQ(360u, image.PixelBytes());
  // Strip 1 starts at row 10 (byte 120), strip 2 at row 20 (byte 240).
  const std::uint8_t* p = image.colour.data();
  EXPECT_EQ((Bytes{200 + 10, 100, 10}), Bytes(p + 120, p + 123));
  EXPECT_EQ((Bytes{200 + 20, 100, 20}), Bytes(p + 240, p + 243));
  EXPECT_EQ(ToBgr(PositionRgb(kRgbWidth, kRgbHeight)), PixelsOf(image));

  // One strip holding the whole picture reads the same.
  DecodedImage single;
  ASSERT_EQ(LoadResult::LoadOk,
            Load(test::RgbTiff(kRgbWidth, kRgbHeight, PositionRgb(kRgbWidth, kRgbHeight), kRgbHeight).Build(), single));
  EXPECT_EQ(PixelsOf(image), PixelsOf(single));
}

TEST(TiffRgb, SamplesPerPixelBelowThreeRefusedOnlyAfterBitsPerSample) {
  const Bytes rgb = PositionRgb(2, 2);
  EXPECT_EQ(LoadResult::LoadOk, Load(test::RgbTiff(2, 2, rgb, 2, 4).Build()));
  EXPECT_EQ(LoadResult::Unsupported, Load(test::RgbTiff(2, 2, rgb, 2, 1).Build()));
  // Listed before BitsPerSample it sees no RGB kind yet and has no effect.
  TiffBuilder early = test::RgbTiff(2, 2, rgb, 2, 1);
  early.MoveToFront(test::kTagSamplesPerPixel);
  EXPECT_EQ(LoadResult::LoadOk, Load(early.Build()));
}

struct Variant {
  const char* name;
  std::function<void(TiffBuilder&)> change;
  LoadResult expected;
};

void ExpectVariants(const std::function<TiffBuilder()>& base, const std::vector<Variant>& variants) {
  for (const Variant& v : variants) {
    TiffBuilder b = base();
    v.change(b);
    DecodedImage image;
    EXPECT_EQ(v.expected, Load(b.Build(), image)) << v.name;
  }
}

TEST(TiffDirectory, RefusesVariantsOutsideTheSubset) {
  const auto grey = [] { return test::GrayTiff(2, 2, 8, Ramp(4, 50)); };
  ExpectVariants(grey, {
      {"second directory", [](TiffBuilder& b) { b.nextDirectory = 8; }, LoadResult::Unsupported},
      {"white is zero", [](TiffBuilder& b) { b.Set(test::kTagPhotometric, test::kTiffShort, 1, 0); },
       LoadResult::Unsupported},
      {"palette", [](TiffBuilder& b) { b.Set(test::kTagPhotometric, test::kTiffShort, 1, 3); },
       LoadResult::Unsupported},
      {"RGB photometric on grey", [](TiffBuilder& b) { b.Set(test::kTagPhotometric, test::kTiffShort, 1, 2); },
       LoadResult::LoadOk},
      {"LZW", [](TiffBuilder& b) { b.Set(test::kTagCompression, test::kTiffShort, 1, 5); },
       LoadResult::Unsupported},
      {"compression not inline", [](TiffBuilder& b) { b.Set(test::kTagCompression, test::kTiffShort, 3, 8); },
       LoadResult::BadFormat},
      {"photometric not inline", [](TiffBuilder& b) { b.Set(test::kTagPhotometric, test::kTiffLong, 2, 8); },
       LoadResult::BadFormat},
      {"width not inline", [](TiffBuilder& b) { b.Set(test::kTagWidth, test::kTiffLong, 2, 8); },
       LoadResult::BadFormat},
      {"height not inline", [](TiffBuilder& b) { b.Set(test::kTagLength, test::kTiffShort, 2, 8); },
       LoadResult::BadFormat},
      {"17 bits", [](TiffBuilder& b) { b.Set(test::kTagBits, test::kTiffShort, 1, 17); }, LoadResult::Unsupported},
      {"no bits per sample", [](TiffBuilder& b) { b.Remove(test::kTagBits); }, LoadResult::Unsupported},
      {"negative width", [](TiffBuilder& b) { b.Set(test::kTagWidth, test::kTiffLong, 1, 0xFFFFFFFF); },
       LoadResult::BadFormat},
      {"negative height, width 0",
       [](TiffBuilder& b) {
         b.Set(test::kTagWidth, test::kTiffLong, 1, 0);
         b.Set(test::kTagLength, test::kTiffLong, 1, 0x80000000);
       },
       LoadResult::BadFormat},
      {"huge picture",
       [](TiffBuilder& b) {
         b.Set(test::kTagWidth, test::kTiffLong, 1, 0x7FFFFFFF);
         b.Set(test::kTagLength, test::kTiffLong, 1, 0x7FFFFFFF);
       },
       LoadResult::Unsupported},
      // The first failing entry decides, in directory order.
      {"first failure wins",
       [](TiffBuilder& b) {
         b.Set(test::kTagCompression, test::kTiffShort, 1, 5);
         b.Set(test::kTagPhotometric, test::kTiffLong, 2, 8);
       },
       LoadResult::Unsupported},
  });

  const auto rgb = [] { return ThreeStripRgb(); };
  const auto bitsList = [](std::vector<std::uint16_t> bits, std::uint16_t type) {
    return [bits, type](TiffBuilder& b) {
      b.Set(test::kTagBits, type, static_cast<std::uint32_t>(bits.size()), b.AddShorts(bits));
    };
  };
  ExpectVariants(rgb, {
      {"8,8,16", bitsList({8, 8, 16}, test::kTiffShort), LoadResult::Unsupported},
      {"four values", bitsList({8, 8, 8, 8}, test::kTiffShort), LoadResult::Unsupported},
      {"list of LONGs", bitsList({8, 0, 8, 0, 8, 0}, test::kTiffLong), LoadResult::Unsupported},
  });
}

TEST(TiffDirectory, InlineRuleUsesTypeCodeTimesCountAsSigned) {
  const auto grey = [] { return test::GrayTiff(2, 2, 8, Ramp(4, 50)); };
  ExpectVariants(grey, {
      {"BYTE x 4", [](TiffBuilder& b) { b.Set(test::kTagWidth, 1, 4, 2); }, LoadResult::LoadOk},
      {"SHORT x 2", [](TiffBuilder& b) { b.Set(test::kTagWidth, test::kTiffShort, 2, 2); }, LoadResult::BadFormat},
      {"RATIONAL x 1", [](TiffBuilder& b) { b.Set(test::kTagWidth, 5, 1, 2); }, LoadResult::BadFormat},
      {"type 0xFFFF x 1000", [](TiffBuilder& b) { b.Set(test::kTagWidth, 0xFFFF, 1000, 2); }, LoadResult::LoadOk},
      {"count 0", [](TiffBuilder& b) { b.Set(test::kTagWidth, test::kTiffLong, 0, 2); }, LoadResult::LoadOk},
      // A 32-bit product would wrap to 4 here; the rule must not.
      {"LONG x 2^30 + 1", [](TiffBuilder& b) { b.Set(test::kTagWidth, test::kTiffLong, 0x40000001, 2); },
       LoadResult::BadFormat},
  });
}

TEST(TiffStrips, StripShorterInTheFileIsAReadError) {
  TiffBuilder single = test::GrayTiff(4, 4, 8, Ramp(16, 3));
  Bytes file = single.Build();
  // Point the strip at the last 10 bytes of the file; the picture needs 16.
  single.Set(test::kTagStripOffsets, test::kTiffLong, 1, static_cast<std::uint32_t>(file.size() - 10));
  EXPECT_EQ(LoadResult::ReadError, Load(single.Build()));

  TiffBuilder several = ThreeStripRgb();
  const std::uint32_t counts = several.AddLongs({120, 120, 0x10000});
  several.Set(test::kTagStripByteCounts, test::kTiffLong, 3, counts);
  EXPECT_EQ(LoadResult::ReadError, Load(several.Build()));
}

TEST(TiffStrips, StripsRunningPastThePictureAreCut) {
  const Bytes expected = ToBgr(PositionRgb(kRgbWidth, kRgbHeight));
  const auto load = [&](TiffBuilder b, const char* what) {
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, Load(b.Build(), image)) << what;
    EXPECT_EQ(expected, PixelsOf(image)) << what;
  };
  {
    // The last strip claims 200 bytes, padding included; the file holds them.
    TiffBuilder b = ThreeStripRgb();
    b.AddData(Bytes(200, 0xEE));
    const std::uint32_t counts = b.AddLongs({120, 120, 200});
    b.Set(test::kTagStripByteCounts, test::kTiffLong, 3, counts);
    load(b, "padded last strip");
  }
  {
    // Every strip claims the rest of the picture; the next strip overwrites
    // the excess with its own rows.
    TiffBuilder b = ThreeStripRgb();
    b.AddData(Bytes(400, 0xEE));
    const std::uint32_t counts = b.AddLongs({360, 360, 360});
    b.Set(test::kTagStripByteCounts, test::kTiffLong, 3, counts);
    load(b, "overlapping strips");
  }
  {
    // A fourth strip starts below the last row and is skipped; more byte
    // counts than strips are harmless.
    TiffBuilder b = ThreeStripRgb();
    const std::uint32_t extra = b.AddData(Bytes(120, 0xEE));
    const Bytes file = b.Build();
    const std::uint32_t table = EntryOf(b, test::kTagStripOffsets).value;
    std::vector<std::uint32_t> list;
    for (std::uint32_t i = 0; i < 3; ++i) list.push_back(U32At(file, table + 4 * i));
    list.push_back(extra);
    b.Set(test::kTagStripOffsets, test::kTiffLong, 4, b.AddLongs(list));
    b.Set(test::kTagStripByteCounts, test::kTiffLong, 5, b.AddLongs({120, 120, 120, 120, 7}));
    load(b, "strip below the picture");
  }
  {
    // Rows per strip 2^31: strip 2 would start at row 2^32, which 32-bit
    // arithmetic wraps to row 0. Only the first strip has a place, and it is
    // cut to the picture.
    TiffBuilder b = ThreeStripRgb();
    b.AddData(Bytes(300, 0xEE));
    b.Set(test::kTagRowsPerStrip, test::kTiffLong, 1, 0x80000000);
    const std::uint32_t counts = b.AddLongs({360, 120, 120});
    b.Set(test::kTagStripByteCounts, test::kTiffLong, 3, counts);
    load(b, "rows per strip 2^31");
  }
}

TEST(TiffStrips, HostileLayoutsAreRefusedWithoutTouchingMemoryOutside) {
  const auto rgb = [] { return ThreeStripRgb(); };
  ExpectVariants(rgb, {
      {"fewer byte counts than strips",
       [](TiffBuilder& b) { b.Set(test::kTagStripByteCounts, test::kTiffLong, 2, b.AddLongs({120, 120})); },
       LoadResult::BadFormat},
      {"no byte counts with several strips", [](TiffBuilder& b) { b.Remove(test::kTagStripByteCounts); },
       LoadResult::BadFormat},
      {"rows per strip 0 with several strips",
       [](TiffBuilder& b) { b.Set(test::kTagRowsPerStrip, test::kTiffLong, 1, 0); }, LoadResult::BadFormat},
      {"no rows per strip with several strips", [](TiffBuilder& b) { b.Remove(test::kTagRowsPerStrip); },
       LoadResult::BadFormat},
      {"strip offset past the file",
       [](TiffBuilder& b) {
         b.Set(test::kTagStripOffsets, test::kTiffLong, 3, b.AddLongs({8, 0x7FFFFFFF, 8}));
       },
       LoadResult::ReadError},
      {"strip count 2^31",
       [](TiffBuilder& b) {
         EntryOf(b, test::kTagStripOffsets).count = 0x80000000;
         EntryOf(b, test::kTagStripByteCounts).count = 0x80000000;
       },
       LoadResult::ReadError},
      {"byte-count count 2^32 - 1",
       [](TiffBuilder& b) { b.Set(test::kTagStripByteCounts, test::kTiffLong, 0xFFFFFFFF, 8); },
       LoadResult::ReadError},
      {"offsets array past the file",
       [](TiffBuilder& b) { b.Set(test::kTagStripOffsets, test::kTiffLong, 3, 0xFFFFFFF0); },
       LoadResult::ReadError},
      {"zero-length strips", [](TiffBuilder& b) {
         b.Set(test::kTagStripByteCounts, test::kTiffLong, 3, b.AddLongs({0, 0, 0}));
       },
       LoadResult::LoadOk},
  });

  // A tiny file that promises a huge single strip fails on the file size.
  TiffBuilder huge = test::GrayTiff(2, 2, 8, Ramp(4, 1));
  huge.Set(test::kTagWidth, test::kTiffLong, 1, 30000);
  huge.Set(test::kTagLength, test::kTiffLong, 1, 30000);
  EXPECT_EQ(LoadResult::ReadError, Load(huge.Build()));
}

TEST(TiffDispatch, LoadImageFileSendsTifOfAnyCaseHere) {
  test::TempDir dir;
  const std::string path = dir.File("x.TIF");
  const Bytes samples = Ramp(6, 40);
  test::WriteFile(path, test::GrayTiff(3, 2, 8, samples).Build());
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, image.LoadImageFile(path));
  EXPECT_EQ(PixelKind::Indexed8, image.pixelKind);
  EXPECT_EQ(samples, PixelsOf(image));
}

}  // namespace
}  // namespace norvane
