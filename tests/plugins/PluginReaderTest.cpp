// The plug-in reader against scripted fake plug-ins: library search, how it
// reads what comes back, and what it releases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

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

// A 40-byte information header followed by `table` (4 bytes per entry).
Bytes Info(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel, const Bytes& table = {}) {
  Bytes out;
  test::PutU32(out, 40);
  test::PutI32(out, width);
  test::PutI32(out, height);
  test::PutU16(out, 1);
  test::PutU16(out, bitsPerPixel);
  for (int i = 0; i < 6; ++i) test::PutU32(out, 0);
  test::PutBytes(out, table);
  return out;
}

// A table of 1 << bits entries, entry i = (i, i, i, 0) except the ones given.
Bytes Table(int bits, std::initializer_list<std::pair<int, PaletteEntry>> entries = {}) {
  Bytes table;
  for (int i = 0; i < (1 << bits); ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    test::PutBytes(table, {v, v, v, 0});
  }
  for (const auto& [index, e] : entries) {
    table[4 * index] = e.blue;
    table[4 * index + 1] = e.green;
    table[4 * index + 2] = e.red;
  }
  return table;
}

Bytes PixelRow(const DecodedImage& image, int y) {
  const std::uint8_t* row = image.colour.data() + static_cast<std::size_t>(y) * image.width * 3;
  return Bytes(row, row + static_cast<std::size_t>(image.width) * 3);
}

// BGR pixels of a grey table's indices.
Bytes Grey(std::initializer_list<std::uint8_t> indices) {
  Bytes out;
  for (std::uint8_t i : indices) test::PutBytes(out, {i, i, i});
  return out;
}

class PluginReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake() = test::FakeControl{};
    gif_ = dir_.File("picture.gif");
    png_ = dir_.File("picture.png");
    test::WriteFile(gif_, Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 1, 2});
    test::WriteFile(png_, Bytes{0x89, 'P', 'N', 'G'});
  }

  // Every library loaded was released again.
  void ExpectReleased() const {
    EXPECT_EQ(Fake().record.loads, Fake().record.unloads);
  }

  LoadResult ReadGif(DecodedImage& image) { return ReadPluginImage(image, gif_, "gif", Folders({FakeDir("primary")})); }

  test::TempDir dir_;
  std::string gif_;
  std::string png_;
};

TEST_F(PluginReaderTest, GifFallsBackToTheSecondLibraryAndTheFirstWinsWhenPresent) {
  Fake().script.info = Info(1, 1, 24);
  Fake().script.bits = Bytes{1, 2, 3, 0};
  {
    // The path DetectPlugins probed is the one LoadImageFile is handed.
    const PluginFlags flags = DetectPlugins(Folders({dir_.path(), FakeDir("second")}));
    EXPECT_TRUE(flags.gifAvailable);
    EXPECT_FALSE(flags.pngAvailable);
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, image.LoadImageFile(gif_, flags.searchPath));
    EXPECT_EQ("ifgif2.spi", Fake().record.lastLibrary);
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind);
    EXPECT_EQ((Bytes{1, 2, 3}), PixelRow(image, 0));
    // There is no second library for PNG.
    EXPECT_EQ(LoadResult::Unsupported, image.LoadImageFile(png_, flags.searchPath));
    EXPECT_EQ(1, Fake().record.calls);
  }
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, ReadPluginImage(image, gif_, "gif", Folders({FakeDir("primary"), FakeDir("second")})));
  EXPECT_EQ("ifgif.spi", Fake().record.lastLibrary);
  ExpectReleased();
}

TEST_F(PluginReaderTest, ThirtyTwoBitResultIsUnsupportedAndEverythingIsReleased) {
  constexpr std::size_t kBlock = 8u << 20;
  // The heap measure must notice a block of this size, or the check below proves nothing.
  {
    const std::size_t before = test::HeapBytesInUse();
    void* held = std::malloc(kBlock);
    ASSERT_NE(nullptr, held);
    EXPECT_GE(test::HeapBytesInUse(), before + kBlock);
    std::free(held);
  }
  Fake().script.info = Info(2, 2, 32);
  Fake().script.bits = Bytes(16, 0x55);
  Fake().script.minBlockBytes = kBlock;
  const std::size_t before = test::HeapBytesInUse();
  {
    DecodedImage image;
    EXPECT_EQ(LoadResult::Unsupported, ReadGif(image));
    EXPECT_EQ(PixelKind::Empty, image.pixelKind);
  }
  const std::size_t after = test::HeapBytesInUse();
  EXPECT_EQ(2, Fake().record.blocksHandedOut);
  EXPECT_EQ(1, Fake().record.loads);
  ExpectReleased();
  EXPECT_LT(after, before + kBlock / 8) << "a block the plug-in handed over was not freed";
}

TEST_F(PluginReaderTest, FileReachesThePluginWithoutACopyOnTheHeap) {
  // A large file arrives whole, but the heap does not grow by its size.
  constexpr std::size_t kFile = 8u << 20;
  Bytes content(kFile);
  for (std::size_t i = 0; i < kFile; ++i) content[i] = static_cast<std::uint8_t>(i * 131 >> 7);
  test::WriteFile(gif_, content);
  Fake().script.info = Info(1, 1, 24);
  Fake().script.bits = Bytes{1, 2, 3, 0};
  const std::size_t before = test::HeapBytesInUse();
  DecodedImage image;
  ASSERT_EQ(LoadResult::LoadOk, ReadGif(image));
  EXPECT_LT(Fake().record.heapAtCall, before + kFile / 8);
  EXPECT_EQ(static_cast<long>(kFile), Fake().record.lastLength);
  EXPECT_TRUE(Fake().record.lastBuffer == content);

  // An empty file is handed over as an empty buffer.
  test::WriteFile(gif_, Bytes{});
  Fake().script.status = 1;
  DecodedImage none;
  EXPECT_EQ(LoadResult::ReadError, ReadGif(none));
  EXPECT_EQ(2, Fake().record.calls);
  EXPECT_EQ(0, Fake().record.lastLength);
  ExpectReleased();
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
      {"8 bits", Info(5, 2, 8, Table(8, {{3, PaletteEntry{0, 0, 255, 0}}, {9, PaletteEntry{10, 20, 30, 0}}})),
       {3, 3, 3, 3, 3, 200, 200, 200, 3, 9, 3, 3, 3, 200, 200, 200},
       {0, 0, 255, 10, 20, 30, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255}},
      // Grey table: index i is (i, i, i). 10 wide at 1 bit: 2 bytes and 2 of
      // padding per row, the bits after the tenth pixel set.
      {"1 bit", Info(10, 2, 1, Table(1)), {0xA0, 0x7F, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0xFF},
       Grey({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1})},
      // 3 wide at 4 bits, high nibble first, the fourth nibble padding.
      {"4 bits", Info(3, 2, 4, Table(4)), {0x12, 0x3F, 0xFF, 0xFF, 0x45, 0x6F, 0xEE, 0xEE}, Grey({4, 5, 6, 1, 2, 3})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fake().script.info = c.info;
    Fake().script.bits = c.bits;
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, ReadGif(image));
    ASSERT_EQ(PixelKind::Bgr24, image.pixelKind);
    EXPECT_EQ(c.expected, Bytes(image.colour.data(), image.colour.data() + image.colour.size()));
  }
  ExpectReleased();
}

TEST_F(PluginReaderTest, FailedOrBrokenResultsAreRefusedAndReleased) {
  struct Case {
    const char* what;
    test::FakeScript script;
    LoadResult expected;
  };
  const Bytes rows3x4(48, 7);
  std::vector<Case> cases = {
      {"the plug-in reports a failure", {3, Info(3, 4, 24), rows3x4}, LoadResult::ReadError},
      {"negative height (top-down rows)", {0, Info(3, -4, 24), rows3x4}, LoadResult::Unsupported},
      {"more pixels than any picture may have", {0, Info(1 << 20, 1 << 20, 24), rows3x4}, LoadResult::Unsupported},
      {"fewer rows than the height", {0, Info(3, 4, 24), Bytes(12, 7)}, LoadResult::ReadError},
      {"colour table cut short", {0, Info(2, 1, 8, Bytes(16, 1)), Bytes{0, 255, 0, 0}}, LoadResult::ReadError},
      {"info block shorter than its header", {0, Bytes(12, 0), rows3x4}, LoadResult::ReadError},
  };
  test::FakeScript noBits{0, Info(3, 4, 24), {}, false, true};
  cases.push_back({"no bits block", noBits, LoadResult::ReadError});

  for (const Case& c : cases) {
    Fake() = test::FakeControl{};
    Fake().script = c.script;
    DecodedImage image;
    EXPECT_EQ(c.expected, ReadGif(image)) << c.what;
    EXPECT_EQ(PixelKind::Empty, image.pixelKind) << c.what;
    EXPECT_EQ(1, Fake().record.loads) << c.what;
    EXPECT_EQ(1, Fake().record.unloads) << c.what;
  }
}

}  // namespace
}  // namespace norvane
