#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "image/DecodedImage.h"

namespace norvane {
namespace {

TEST(AllocatePixels, SizesEveryKindAndRefusesImpossibleRequests) {
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
  DecodedImage empty;
  ASSERT_EQ(LoadResult::LoadOk, empty.AllocatePixels(7, 0, PixelKind::Bgr24));
  EXPECT_EQ(0u, empty.PixelBytes());
  EXPECT_TRUE(empty.colour);

  DecodedImage image;
  EXPECT_EQ(LoadResult::BadPixelKind, image.AllocatePixels(3, 2, static_cast<PixelKind>(5)));
  EXPECT_EQ(LoadResult::BadPixelKind, image.AllocatePixels(3, 2, PixelKind::Empty));
  EXPECT_EQ(nullptr, image.Pixels());
  EXPECT_EQ(LoadResult::OutOfMemory, image.AllocatePixels(-1, 0, PixelKind::Bgr24));
  EXPECT_EQ(LoadResult::OutOfMemory, image.AllocatePixels(1 << 20, 1 << 20, PixelKind::Bgr24));
  EXPECT_EQ(PixelKind::Empty, image.pixelKind);
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
    const PaletteEntry& e = image.palette[i];
    ASSERT_TRUE(e.blue == i && e.green == i && e.red == i && e.reserved == 0) << "entry " << i;
  }
  EXPECT_FALSE(image.colour);

  image.ReleasePixels();
  EXPECT_EQ(PixelKind::Empty, image.pixelKind);
  EXPECT_EQ(0, image.width);
  EXPECT_EQ(0, image.height);
  EXPECT_FALSE(image.indexed);
}

TEST(CheckDimensions, SeparatesMalformedFromTooLarge) {
  EXPECT_EQ(LoadResult::LoadOk, CheckDimensions(0, 0));
  EXPECT_EQ(LoadResult::BadFormat, CheckDimensions(-1, 0));
  EXPECT_EQ(LoadResult::BadFormat, CheckDimensions(0, -5));
  EXPECT_EQ(LoadResult::Unsupported, CheckDimensions(kMaxPixels + 1, 1));
  EXPECT_EQ(LoadResult::Unsupported, CheckDimensions(0x7fffffff, 0x7fffffff));
  EXPECT_EQ(LoadResult::LoadOk, CheckDimensions(kMaxPixels, 1));
}

TEST(LoadImageFile, UnknownKeysAreUnsupportedAndFailuresReleaseThePicture) {
  DecodedImage image;
  for (const char* path : {"photo.jpeg", "a.tiff", "jp", "", "\"", "\"x\"", "noext"}) {
    EXPECT_EQ(LoadResult::Unsupported, image.LoadImageFile(path)) << path;
  }
  ASSERT_EQ(LoadResult::LoadOk, image.AllocatePixels(2, 2, PixelKind::Bgr24));
  EXPECT_NE(LoadResult::LoadOk, image.LoadImageFile("/nonexistent/folder/x.bmp"));
  EXPECT_FALSE(image.colour);
  EXPECT_EQ(PixelKind::Empty, image.pixelKind);
}

}  // namespace
}  // namespace norvane
