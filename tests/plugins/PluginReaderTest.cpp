// The plug-in reader against scripted fake plug-ins (library search, how it
// reads what comes back, what it releases), and the shipped GIF and PNG
// plug-ins, loaded the way the program loads them, on files made with giflib
// and libpng.
#include <gtest/gtest.h>

#include "image/DecodedImage.h"
#include "image/PluginReader.h"
#include "plugins/FakePluginControl.h"
#include "support/GifWriter.h"
#include "support/PngWriter.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using namespace test;

std::string FakeDir(const char* folder) { return std::string(NORVANE_FAKE_PLUGIN_ROOT) + "/" + folder; }

// Only the given folders, never the system's search.
PluginSearchPath Folders(std::vector<std::string> dirs) { return PluginSearchPath{std::move(dirs), false}; }

// A 40-byte information header followed by a colour table of `colours` entries.
Bytes Info(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel, int colours = 0) {
  Bytes out;
  for (std::int32_t v : {40, width, height}) test::PutI32(out, v);
  for (std::uint16_t v : {1, static_cast<int>(bitsPerPixel)}) test::PutU16(out, v);
  out.resize(40);
  test::PutBytes(out, test::DistinctTable(colours));
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
  // The bits are the stored rows, bottom row first.
  const struct { const char* what; Bytes info, bits, expected; } cases[] = {
      // 3 pixels wide: 9 bytes of pixels and 3 of padding per stored row.
      {"24 bits", Info(3, 2, 24),
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE},
       {11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      // 5 wide: stored rows of 8 bytes; the padding holds an index whose
      // colour must not appear.
      {"8 bits", Info(5, 2, 8, 256), {3, 3, 3, 3, 3, 200, 200, 200, 3, 9, 255, 3, 3, 200, 200, 200},
       test::DistinctColours({3, 9, 255, 3, 3, 3, 3, 3, 3, 3})},
      // 10 wide at 1 bit: 2 bytes and 2 of padding per row, the bits after
      // the tenth pixel set.
      {"1 bit", Info(10, 2, 1, 2), {0xA0, 0x7F, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0xFF},
       test::DistinctColours({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1})},
      // 3 wide at 4 bits, high nibble first, the fourth nibble padding.
      {"4 bits", Info(3, 2, 4, 16), {0x12, 0x3F, 0xFF, 0xFF, 0x45, 0x6F, 0xEE, 0xEE}, test::DistinctColours({4, 5, 6, 1, 2, 3})},
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
  const struct { const char* what; test::FakeScript script; LoadResult expected; } cases[] = {
      {"info block shorter than its header", {0, Bytes(12, 0), rows3x4}, LoadResult::ReadError},
      {"the plug-in reports a failure", {3, Info(3, 4, 24), rows3x4}, LoadResult::ReadError},
      {"32 bits per pixel", {0, Info(2, 2, 32), Bytes(16, 0x55)}, LoadResult::Unsupported},
      {"negative height (top-down rows)", {0, Info(3, -4, 24), rows3x4}, LoadResult::Unsupported},
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

Bytes Bgr(const std::vector<GifColour>& colours) {
  Bytes out;
  for (const GifColour& c : colours) test::PutBytes(out, {c.blue, c.green, c.red});
  return out;
}

const GifColour kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

// A 2 x 1 GIF of index 0 made by hand, since giflib will not write an image
// whose indices have no colour map: with a two-entry global map or without.
Bytes HandMadeGif(bool globalMap) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, static_cast<std::uint8_t>(globalMap ? 0x80 : 0), 0, 0};
  if (globalMap) test::PutBytes(gif, {255, 0, 0, 0, 0, 255});
  test::PutBytes(gif, {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0});  // image descriptor, no local map
  test::PutBytes(gif, {2, 2, 0x04, 0x0A, 0, 0x3B});        // clear, 0, 0, end; trailer
  return gif;
}

TEST(ShippedPlugins, EveryLayoutBecomesBgrTopRowFirst) {
  // Only the first frame, at its own size, with its local map.
  const test::GifFrame first{2, 3, 3, 2, {0, 1, 2, 2, 1, 0}, {kGreen, kBlue, kRed}, false};
  const Bytes frames = test::MakeGif({10, 10, {kBlack, kWhite}, {first, test::GifFrame{0, 0, 10, 10, Bytes(100, 1), {}, false}}});
  // Interlaced rows come in four passes; 256 colours fill the whole table.
  std::vector<GifColour> colours, used;
  Bytes indices;
  for (int i = 0; i < 256; ++i) colours.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7});
  for (int i = 0; i < 2 * 11; ++i) indices.push_back(static_cast<std::uint8_t>(255 - i * 3)), used.push_back(colours[indices.back()]);
  const struct { const char* what; const char* name; Bytes file; int width; Bytes expectedBgr; } cases[] = {
      {"GIF frames", "x.gif", frames, 3, Bgr({kGreen, kBlue, kRed, kRed, kBlue, kGreen})},
      {"GIF interlaced", "x.gif", test::MakeGif(2, 11, colours, indices, true), 2, Bgr(used)},
      {"GIF global map", "x.gif", HandMadeGif(true), 2, Bgr({kRed, kRed})},
      // Over white: alpha 255 keeps the sample, alpha 0 is white; 10 at alpha
      // 100 is 158.9 and 1 at alpha 128 is 127.502, both rounded up.
      {"grey + alpha", "x.png", test::MakePng({4, 1, PngColour::GrayAlpha, 8, false, {0, 0, 0, 255, 10, 100, 1, 128}, {}, {}, {}}), 4,
       {255, 255, 255, 0, 0, 0, 159, 159, 159, 128, 128, 128}},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    ASSERT_EQ(LoadResult::LoadOk, test::LoadBytes(image, c.file, c.name)) << c.what << ": are the shipped plug-ins built?";
    EXPECT_EQ(PixelKind::Bgr24, image.pixelKind) << c.what;
    EXPECT_EQ(c.width, image.width) << c.what;
    EXPECT_EQ(c.expectedBgr, test::PixelsOf(image)) << c.what;
  }
}

TEST(ShippedPlugins, BrokenGifsAreReadErrors) {
  // Every cut before the image's last data byte loses pixels; the hand-made
  // file has indices without a colour map.
  const Bytes gif = test::MakeGif(4, 4, {kRed, kBlue}, Bytes(16, 1));
  std::vector<Bytes> files = {HandMadeGif(false)};
  for (std::size_t keep = 0; keep + 2 < gif.size(); ++keep) files.emplace_back(gif.begin(), gif.begin() + keep);
  for (const Bytes& file : files) {
    DecodedImage image;
    EXPECT_EQ(LoadResult::ReadError, test::LoadBytes(image, file, "x.gif")) << file.size() << " bytes";
  }
}

}  // namespace
}  // namespace norvane
