#include <gtest/gtest.h>

#include "image/DecodedImage.h"

namespace norvane {
namespace {

TEST(AllocatePixels, RefusesKindsOutsideOneToFour) {
  DecodedImage image;
  EXPECT_EQ(LoadResult::BadPixelKind, image.AllocatePixels(3, 2, static_cast<PixelKind>(5)));
  EXPECT_EQ(LoadResult::BadPixelKind, image.AllocatePixels(3, 2, PixelKind::Empty));
  EXPECT_EQ(PixelKind::Empty, image.pixelKind);
  EXPECT_EQ(nullptr, image.Pixels());
}

TEST(AllocatePixels, IndexedBufferIsZeroedAndGetsGreyRamp) {
  DecodedImage image;
  image.palette[9] = PaletteEntry{1, 2, 3, 4};
  ASSERT_EQ(LoadResult::LoadOk, image.AllocatePixels(5, 3, PixelKind::Indexed8));
  EXPECT_EQ(PixelKind::Indexed8, image.pixelKind);
  EXPECT_EQ(5, image.width);
  EXPECT_EQ(3, image.height);
  ASSERT_EQ(15u, image.indexed.size());
  for (std::size_t i = 0; i < 15; ++i) EXPECT_EQ(0, image.indexed.data()[i]);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(i, image.palette[i].blue);
    EXPECT_EQ(i, image.palette[i].green);
    EXPECT_EQ(i, image.palette[i].red);
    EXPECT_EQ(0, image.palette[i].reserved);
  }
  EXPECT_FALSE(image.colour);
}

TEST(AllocatePixels, SizesEveryKindAndRefusesImpossibleDimensions) {
  const struct {
    PixelKind kind;
    std::size_t bytes;
  } cases[] = {{PixelKind::Gray16, 24}, {PixelKind::Quad32, 48}, {PixelKind::Bgr24, 36}};
  for (const auto& c : cases) {
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, image.AllocatePixels(4, 3, c.kind));
    EXPECT_EQ(c.bytes, image.PixelBytes());
    EXPECT_NE(nullptr, image.Pixels());
  }
  DecodedImage negative;
  EXPECT_EQ(LoadResult::OutOfMemory, negative.AllocatePixels(-1, 0, PixelKind::Bgr24));
  DecodedImage huge;
  EXPECT_EQ(LoadResult::OutOfMemory, huge.AllocatePixels(1 << 20, 1 << 20, PixelKind::Bgr24));
  EXPECT_EQ(PixelKind::Empty, huge.pixelKind);
}

TEST(AllocatePixels, EmptyPictureIsValid) {
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, image.AllocatePixels(7, 0, PixelKind::Bgr24));
  EXPECT_EQ(0u, image.PixelBytes());
  EXPECT_TRUE(image.colour);
}

TEST(CheckDimensions, SeparatesMalformedFromTooLarge) {
  EXPECT_EQ(LoadResult::LoadOk, CheckDimensions(0, 0));
  EXPECT_EQ(LoadResult::BadFormat, CheckDimensions(-1, 0));
  EXPECT_EQ(LoadResult::BadFormat, CheckDimensions(0, -5));
  EXPECT_EQ(LoadResult::Unsupported, CheckDimensions(kMaxPixels + 1, 1));
  EXPECT_EQ(LoadResult::Unsupported, CheckDimensions(0x7fffffff, 0x7fffffff));
  EXPECT_EQ(LoadResult::LoadOk, CheckDimensions(kMaxPixels, 1));
}

TEST(ExpandPalette, LooksEveryPixelUpInThePalette) {
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, image.AllocatePixels(3, 2, PixelKind::Indexed8));
  image.palette[7] = PaletteEntry{10, 20, 30, 0};
  image.palette[200] = PaletteEntry{1, 2, 3, 9};
  const std::uint8_t pixels[6] = {7, 0, 200, 7, 7, 255};
  std::copy(pixels, pixels + 6, image.indexed.data());

  ASSERT_EQ(LoadResult::LoadOk, image.ExpandPalette());
  EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
  EXPECT_FALSE(image.indexed);
  ASSERT_EQ(18u, image.colour.size());
  const std::uint8_t expected[18] = {10, 20, 30, 0, 0, 0, 1, 2, 3, 10, 20, 30, 10, 20, 30, 255, 255, 255};
  for (int i = 0; i < 18; ++i) EXPECT_EQ(expected[i], image.colour.data()[i]) << "byte " << i;

  // A colour image is left alone.
  image.colour.data()[0] = 99;
  ASSERT_EQ(LoadResult::LoadOk, image.ExpandPalette());
  EXPECT_EQ(99, image.colour.data()[0]);
}

TEST(ReleasePixels, ReturnsToEmpty) {
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, image.AllocatePixels(2, 2, PixelKind::Gray16));
  image.ReleasePixels();
  EXPECT_EQ(PixelKind::Empty, image.pixelKind);
  EXPECT_EQ(0, image.width);
  EXPECT_EQ(0, image.height);
  EXPECT_FALSE(image.gray16);
}

TEST(LoadImageFile, UnknownKeysAndShortPathsAreUnsupported) {
  DecodedImage image;
  for (const char* path : {"photo.jpeg", "a.tiff", "jp", "", "\"", "\"x\"", "noext"}) {
    EXPECT_EQ(LoadResult::Unsupported, image.LoadImageFile(path)) << path;
  }
}

TEST(LoadImageFile, ReleasesThePreviousPictureEvenWhenTheLoadFails) {
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, image.AllocatePixels(2, 2, PixelKind::Bgr24));
  EXPECT_NE(LoadResult::LoadOk, image.LoadImageFile("/nonexistent/folder/x.bmp"));
  EXPECT_FALSE(image.colour);
  EXPECT_EQ(PixelKind::Empty, image.pixelKind);
}

}  // namespace
}  // namespace norvane
