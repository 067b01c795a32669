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
using test::kTagBits, test::kTagCompression, test::kTagLength, test::kTagPhotometric, test::kTagRowsPerStrip,
    test::kTagSamplesPerPixel, test::kTagStripByteCounts, test::kTagStripOffsets, test::kTagWidth;
using test::kTiffLong, test::kTiffShort;
using test::TiffBuilder;

// Every file goes through the dispatch, which sends .tif of any case here.
LoadResult Load(const Bytes& file, DecodedImage& image) {
  test::TempDir dir;
  const std::string path = dir.File("x.TIF");
  test::WriteFile(path, file);
  return image.LoadImageFile(path);
}

LoadResult Load(const Bytes& file) {
  DecodedImage image;
  return Load(file, image);
}

Bytes PixelsOf(const DecodedImage& image) { return Bytes(image.Pixels(), image.Pixels() + image.PixelBytes()); }

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
      test::PutBytes(out, {static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(100 + x),
                           static_cast<std::uint8_t>(200 + x + y)});
    }
  }
  return out;
}

// The same pixels as the colour buffer holds them: blue, green, red.
Bytes ToBgr(Bytes rgb) {
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
  return rgb;
}

test::TiffEntry& EntryOf(TiffBuilder& b, std::uint16_t tag) {
  for (test::TiffEntry& e : b.entries()) {
    if (e.tag == tag) return e;
  }
  ADD_FAILURE() << "no entry " << tag;
  static test::TiffEntry none;
  return none;
}

// The RGB picture that most strip tests start from: width 4, 30 rows in
// three strips of 10 rows (120 bytes each).
constexpr int kRgbWidth = 4;
constexpr int kRgbHeight = 30;
TiffBuilder ThreeStripRgb() { return test::RgbTiff(kRgbWidth, kRgbHeight, PositionRgb(kRgbWidth, kRgbHeight), 10); }
TiffBuilder SmallGrey() { return test::GrayTiff(2, 2, 8, Ramp(4, 50)); }

using Change = std::function<void(TiffBuilder&)>;
Change Set(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
  return [=](TiffBuilder& b) { b.Set(tag, type, count, value); };
}
// Replaces the entry of `tag` by an array of LONGs stored in the file.
Change SetLongs(std::uint16_t tag, std::vector<std::uint32_t> values) {
  return [=](TiffBuilder& b) { b.Set(tag, kTiffLong, static_cast<std::uint32_t>(values.size()), b.AddLongs(values)); };
}
Change Sequence(std::vector<Change> changes) {
  return [=](TiffBuilder& b) {
    for (const Change& c : changes) c(b);
  };
}

struct Variant {
  const char* name;
  Change change;
  LoadResult expected;
};

void ExpectVariants(TiffBuilder (*base)(), const std::vector<Variant>& variants) {
  for (const Variant& v : variants) {
    TiffBuilder b = base();
    v.change(b);
    DecodedImage image;
    EXPECT_EQ(v.expected, Load(b.Build(), image)) << v.name;
  }
}

TEST(TiffHeader, WrongHeadersCutsAndFarOffsetsAreRefused) {
  TiffBuilder bigEndian = SmallGrey();
  bigEndian.order[0] = bigEndian.order[1] = 'M';
  EXPECT_EQ(LoadResult::BadFormat, Load(bigEndian.Build()));
  // A two-byte file already shows its byte order.
  EXPECT_EQ(LoadResult::BadFormat, Load(Bytes{'M', 'M'}));

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

  Bytes farDirectory = SmallGrey().Build();
  farDirectory[4] = 0xF0;  // directory offset 0x7F...F0, beyond the end
  farDirectory[7] = 0x7F;
  EXPECT_EQ(LoadResult::ReadError, Load(farDirectory));
  DecodedImage image;
  EXPECT_EQ(LoadResult::CannotOpen, ReadTiff(image, "/nonexistent/norvane/x.tif"));
}

TEST(TiffRgb, StripsLandAtTheirRowsAndComeOutBlueGreenRed) {
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, Load(ThreeStripRgb().Build(), image));
  EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
  EXPECT_EQ(ToBgr(PositionRgb(kRgbWidth, kRgbHeight)), PixelsOf(image));

  // Samples per pixel below three are refused, but only once BitsPerSample
  // has made the picture RGB: listed before it, the tag has no effect.
  const Bytes rgb = PositionRgb(2, 2);
  EXPECT_EQ(LoadResult::LoadOk, Load(test::RgbTiff(2, 2, rgb, 2, 4).Build()));
  EXPECT_EQ(LoadResult::Unsupported, Load(test::RgbTiff(2, 2, rgb, 2, 1).Build()));
  TiffBuilder early = test::RgbTiff(2, 2, rgb, 2, 1);
  early.MoveToFront(kTagSamplesPerPixel);
  EXPECT_EQ(LoadResult::LoadOk, Load(early.Build()));
}

TEST(TiffDirectory, RefusesVariantsOutsideTheSubset) {
  ExpectVariants(SmallGrey, {
      {"second directory", [](TiffBuilder& b) { b.nextDirectory = 8; }, LoadResult::Unsupported},
      {"LZW", Set(kTagCompression, kTiffShort, 1, 5), LoadResult::Unsupported},
      {"compression not inline", Set(kTagCompression, kTiffShort, 3, 8), LoadResult::BadFormat},
      {"17 bits", Set(kTagBits, kTiffShort, 1, 17), LoadResult::Unsupported},
      {"huge picture", Sequence({Set(kTagWidth, kTiffLong, 1, 0x7FFFFFFF), Set(kTagLength, kTiffLong, 1, 0x7FFFFFFF)}),
       LoadResult::Unsupported},
      // The first failing entry decides, in directory order.
      {"first failure wins", Sequence({Set(kTagCompression, kTiffShort, 1, 5), Set(kTagPhotometric, kTiffLong, 2, 8)}),
       LoadResult::Unsupported},
      // The inline rule compares type code x count, as a signed number.
      {"SHORT x 2", Set(kTagWidth, kTiffShort, 2, 2), LoadResult::BadFormat},
      // A 32-bit product would wrap to 4 here; the rule must not.
      {"LONG x 2^30 + 1", Set(kTagWidth, kTiffLong, 0x40000001, 2), LoadResult::BadFormat},
  });
}

TEST(TiffStrips, StripsRunningPastThePictureAreCut) {
  const auto padded = [](std::size_t bytes) -> Change {
    return [bytes](TiffBuilder& b) { b.AddData(Bytes(bytes, 0xEE)); };
  };
  const struct {
    const char* what;
    Change change;
  } cases[] = {
      // Every strip claims the rest of the picture; the next strip overwrites
      // the excess with its own rows.
      {"overlapping strips", Sequence({padded(400), SetLongs(kTagStripByteCounts, {360, 360, 360})})},
      // Rows per strip 2^31: strip 2 would start at row 2^32, which 32-bit
      // arithmetic wraps to row 0. Only the first strip has a place, and it
      // is cut to the picture.
      {"rows per strip 2^31", Sequence({padded(300), Set(kTagRowsPerStrip, kTiffLong, 1, 0x80000000),
                                        SetLongs(kTagStripByteCounts, {360, 120, 120})})},
  };
  const Bytes expected = ToBgr(PositionRgb(kRgbWidth, kRgbHeight));
  for (const auto& c : cases) {
    TiffBuilder b = ThreeStripRgb();
    c.change(b);
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, Load(b.Build(), image)) << c.what;
    EXPECT_EQ(expected, PixelsOf(image)) << c.what;
  }
}

TEST(TiffStrips, HostileLayoutsAreRefusedWithoutTouchingMemoryOutside) {
  ExpectVariants(ThreeStripRgb, {
      {"strip longer than the file holds", SetLongs(kTagStripByteCounts, {120, 120, 0x10000}), LoadResult::ReadError},
      {"fewer byte counts than strips", SetLongs(kTagStripByteCounts, {120, 120}), LoadResult::BadFormat},
      {"rows per strip 0 with several strips", Set(kTagRowsPerStrip, kTiffLong, 1, 0), LoadResult::BadFormat},
      {"strip offset past the file", SetLongs(kTagStripOffsets, {8, 0x7FFFFFFF, 8}), LoadResult::ReadError},
      {"strip count 2^31",
       [](TiffBuilder& b) {
         EntryOf(b, kTagStripOffsets).count = 0x80000000;
         EntryOf(b, kTagStripByteCounts).count = 0x80000000;
       },
       LoadResult::ReadError},
      {"zero-length strips", SetLongs(kTagStripByteCounts, {0, 0, 0}), LoadResult::LoadOk},
  });
  // A tiny file that promises a huge single strip.
  TiffBuilder huge = SmallGrey();
  huge.Set(kTagWidth, kTiffLong, 1, 30000);
  huge.Set(kTagLength, kTiffLong, 1, 30000);
  EXPECT_EQ(LoadResult::ReadError, Load(huge.Build()));
}

}  // namespace
}  // namespace norvane
