// The plug-in reader against scripted fake plug-ins: library search, how it
// reads what comes back, and what it releases.
#include <gtest/gtest.h>

#include "image/DecodedImage.h"
#include "image/PluginReader.h"
#include "plugins/FakePluginControl.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

using test::Bytes;
using test::Fake;

std::string FakeDir(const char* folder) { return std::string(NORVANE_FAKE_PLUGIN_ROOT) + "/" + folder; }

// Only the given folders, never the system's search.
PluginSearchPath Folders(std::vector<std::string> dirs) { return PluginSearchPath{std::move(dirs), false}; }

// Colour table entry i is (blue i, green 255 - i, red i ^ 0x5A), so that a
// wrong lookup or a wrong channel order shows.
Bytes Colours(std::initializer_list<int> indices, bool reserved = false) {
  Bytes out;
  for (int i : indices) {
    test::PutBytes(out, {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i ^ 0x5A)});
    if (reserved) out.push_back(0);
  }
  return out;
}

// A 40-byte information header followed by a colour table of `colours` entries.
Bytes Info(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel, int colours = 0) {
  Bytes out;
  for (std::int32_t v : {40, width, height}) test::PutI32(out, v);
  for (std::uint16_t v : {1, static_cast<int>(bitsPerPixel)}) test::PutU16(out, v);
  out.resize(40);
  for (int i = 0; i < colours; ++i) test::PutBytes(out, Colours({i}, true));
  return out;
}

class PluginReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake() = test::FakeControl{};
    test::WriteFile(gif_, Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 1, 2});
  }
  void TearDown() override { EXPECT_EQ(Fake().record.loads, Fake().record.unloads) << "a library stayed loaded"; }
  LoadResult ReadGif(DecodedImage& image) { return ReadPluginImage(image, gif_, "gif", Folders({FakeDir("primary")})); }
  void Script(Bytes info, Bytes bits) { Fake().script.info = std::move(info), Fake().script.bits = std::move(bits); }

  test::TempDir dir_;
  std::string gif_ = dir_.File("picture.gif");
};

TEST_F(PluginReaderTest, GifFallsBackToTheSecondLibraryAndTheFirstWinsWhenPresent) {
  Script(Info(1, 1, 24), {1, 2, 3, 0});
  // The path DetectPlugins probed is the one LoadImageFile is handed.
  const PluginFlags flags = DetectPlugins(Folders({dir_.path(), FakeDir("second")}));
  EXPECT_TRUE(flags.gifAvailable);
  EXPECT_FALSE(flags.pngAvailable);
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, image.LoadImageFile(gif_, flags.searchPath));
  EXPECT_EQ("ifgif2.spi", Fake().record.lastLibrary);
  EXPECT_EQ((Bytes{1, 2, 3}), Bytes(image.colour.data(), image.colour.data() + 3));
  // There is no second library for PNG.
  test::WriteFile(dir_.File("picture.png"), Bytes{0x89, 'P', 'N', 'G'});
  EXPECT_EQ(LoadResult::Unsupported, image.LoadImageFile(dir_.File("picture.png"), flags.searchPath));
  EXPECT_EQ(1, Fake().record.calls);
  ASSERT_EQ(LoadResult::LoadOk, ReadPluginImage(image, gif_, "gif", Folders({FakeDir("primary"), FakeDir("second")})));
  EXPECT_EQ("ifgif.spi", Fake().record.lastLibrary);
  // A first library without the entry point is not passed over.
  EXPECT_EQ(LoadResult::Unsupported, ReadPluginImage(image, gif_, "gif", Folders({FakeDir("noentry"), FakeDir("second")})));
  EXPECT_EQ(2, Fake().record.calls);
}

TEST_F(PluginReaderTest, FileReachesThePluginWithoutACopyOnTheHeap) {
  // A large file arrives whole, but the heap does not grow by its size.
  constexpr std::size_t kFile = 8u << 20;
  Bytes content(kFile);
  for (std::size_t i = 0; i < kFile; ++i) content[i] = static_cast<std::uint8_t>(i * 131 >> 7);
  test::WriteFile(gif_, content);
  Script(Info(1, 1, 24), {1, 2, 3, 0});
  const std::size_t before = test::HeapBytesInUse();
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, ReadGif(image));
  EXPECT_LT(Fake().record.heapAtCall, before + kFile / 8);
  EXPECT_EQ(static_cast<long>(kFile), Fake().record.lastLength);
  EXPECT_TRUE(Fake().record.lastBuffer == content);
  // An empty file is handed over as an empty buffer.
  test::WriteFile(gif_, Bytes{});
  Fake().script.status = 1;
  EXPECT_EQ(LoadResult::ReadError, ReadGif(image));
  EXPECT_EQ(0, Fake().record.lastLength);
}

TEST_F(PluginReaderTest, EveryDepthBecomesBgrTopRowFirst) {
  const struct {
    const char* what;
    Bytes info;
    Bytes bits;  // stored rows, bottom row first
    Bytes expected;
  } cases[] = {
      // 3 pixels wide: 9 bytes of pixels and 3 of padding per stored row.
      {"24 bits", Info(3, 2, 24),
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE},
       {11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      // 5 wide: stored rows of 8 bytes; the padding holds an index whose
      // colour must not appear.
      {"8 bits", Info(5, 2, 8, 256), {3, 3, 3, 3, 3, 200, 200, 200, 3, 9, 255, 3, 3, 200, 200, 200},
       Colours({3, 9, 255, 3, 3, 3, 3, 3, 3, 3})},
      // 10 wide at 1 bit: 2 bytes and 2 of padding per row, the bits after
      // the tenth pixel set.
      {"1 bit", Info(10, 2, 1, 2), {0xA0, 0x7F, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0xFF},
       Colours({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1})},
      // 3 wide at 4 bits, high nibble first, the fourth nibble padding.
      {"4 bits", Info(3, 2, 4, 16), {0x12, 0x3F, 0xFF, 0xFF, 0x45, 0x6F, 0xEE, 0xEE}, Colours({4, 5, 6, 1, 2, 3})},
  };
  for (const auto& c : cases) {
    Script(c.info, c.bits);
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, ReadGif(image)) << c.what;
    ASSERT_EQ(PixelKind::Bgr24, image.pixelKind) << c.what;
    EXPECT_EQ(c.expected, Bytes(image.colour.data(), image.colour.data() + image.colour.size())) << c.what;
  }
}

TEST_F(PluginReaderTest, FailedBrokenOrUnsupportedResultsAreRefusedAndEverythingIsReleased) {
  // The heap measure must notice a block of this size, or the checks below prove nothing.
  constexpr std::size_t kBlock = 8u << 20;
  const std::size_t start = test::HeapBytesInUse();
  void* held = std::malloc(kBlock);
  ASSERT_NE(nullptr, held);
  EXPECT_GE(test::HeapBytesInUse(), start + kBlock);
  std::free(held);

  const Bytes rows3x4(48, 7);
  const struct {
    const char* what;
    test::FakeScript script;
    LoadResult expected;
  } cases[] = {
      {"info block shorter than its header", {0, Bytes(12, 0), rows3x4}, LoadResult::ReadError},
      {"the plug-in reports a failure", {3, Info(3, 4, 24), rows3x4}, LoadResult::ReadError},
      {"32 bits per pixel", {0, Info(2, 2, 32), Bytes(16, 0x55)}, LoadResult::Unsupported},
      {"negative height (top-down rows)", {0, Info(3, -4, 24), rows3x4}, LoadResult::Unsupported},
      {"more pixels than any picture may have", {0, Info(1 << 20, 1 << 20, 24), rows3x4}, LoadResult::Unsupported},
      {"fewer rows than the height", {0, Info(3, 4, 24), Bytes(12, 7)}, LoadResult::ReadError},
      {"colour table cut short", {0, Info(2, 1, 8, 4), Bytes{0, 255, 0, 0}}, LoadResult::ReadError},
      {"no bits block", {0, Info(3, 4, 24), {}, false, true}, LoadResult::ReadError},
  };
  for (const auto& c : cases) {
    Fake() = test::FakeControl{};
    Fake().script = c.script;
    // Big blocks where the refusal does not depend on the block sizes.
    if (c.expected != LoadResult::ReadError || c.script.status != 0) Fake().script.minBlockBytes = kBlock;
    const std::size_t before = test::HeapBytesInUse();
    {
      DecodedImage image;
      EXPECT_EQ(c.expected, ReadGif(image)) << c.what;
      EXPECT_EQ(PixelKind::Empty, image.pixelKind) << c.what;
    }
    EXPECT_LT(test::HeapBytesInUse(), before + kBlock / 8) << c.what << ": a block handed over was not freed";
    EXPECT_EQ(1, Fake().record.loads) << c.what;
  }
}

}  // namespace
}  // namespace norvane
