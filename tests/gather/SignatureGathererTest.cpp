#include "gather/SignatureGatherer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "signature/PixelDigest.h"
#include "support/BmpWriter.h"
#include "support/JpegWriter.h"
#include "support/PngWriter.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"
#include "support/TiffWriter.h"

namespace norvane {
namespace {

using test::Pattern;

// A record whose digest and grid are set, so that "left as it was" shows.
FileRecord MarkedRecord() {
  FileRecord record;
  record.digest = "previous";
  for (SignatureCell& cell : record.grid) cell.meanY = -7;
  return record;
}

bool SameSignature(const FileRecord& a, const FileRecord& b) {
  return a.digest == b.digest && std::memcmp(&a.grid, &b.grid, sizeof a.grid) == 0;
}

// What the gatherer hands over, applied the way the search applies it.
FileRecord Applied(const GatheredFile& file) {
  FileRecord record = MarkedRecord();
  if (file.image != nullptr) ApplySignature(record, file.signature, file.digest);
  return record;
}

TEST(SignatureGathererThreadsTest, TwoThreadsDecodingAPngFirstShareNothingMutable) {
  // The first decodes of the process, on two threads at once, both through
  // the program's plug-in search path: under ThreadSanitizer any state the
  // readers fill lazily shows up as a race.
  test::TempDir dir;
  const std::string path = dir.File("first.png");
  test::WriteFile(path, test::MakePngRgb(5, 3, Pattern(5, 3, 7)));
  std::unique_ptr<DecodedImage> decoded[2];
  std::thread other([&] { decoded[1] = DecodeImageFile(path); });
  decoded[0] = DecodeImageFile(path);
  other.join();
  for (const auto& image : decoded) {
    ASSERT_NE(image, nullptr) << "the shipped PNG plug-in was not found";
    EXPECT_EQ(image->width, 5);
  }
}

class SignatureGathererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Sizes differ widely, so that digests finish in the lanes at different
    // times; failures sit between good files.
    for (int i = 0; i < 23; ++i) {
      const std::string path = dir_.File("f" + std::to_string(100 + i));
      const int w = 1 + (i * 13) % 97;
      const int h = 1 + (i * 7) % 53;
      switch (i % 5) {
        case 0: test::WriteFile(path + ".bmp", test::MakeBmp24(w, h, Pattern(w, h, i))); break;
        case 1: test::WriteFile(path + ".jpg", test::MakeJpeg(w, h, 3, Pattern(w, h, i))); break;
        case 2: {
          test::Bytes samples(static_cast<std::size_t>(w * h * 2));
          for (std::size_t k = 0; k < samples.size(); ++k) samples[k] = static_cast<std::uint8_t>(k * 31 + i);
          test::WriteFile(path + ".tif", test::GrayTiff(w, h, 16, samples).Build());
          break;
        }
        case 3: test::WriteFile(path + ".jpg", std::string("broken")); break;
        default: paths_.push_back(path + ".png"); continue;  // missing and unreadable
      }
      paths_.push_back(path + (i % 5 == 0 ? ".bmp" : i % 5 == 2 ? ".tif" : ".jpg"));
    }
    for (const std::string& path : paths_) {
      FileRecord record = MarkedRecord();
      DecodedImage image;
      if (image.LoadImageFile(path) == LoadResult::LoadOk) SignatureExtractor::Extract(record, image);
      expected_.push_back(record);
    }
  }

  test::TempDir dir_;
  std::vector<std::string> paths_;
  std::vector<FileRecord> expected_;
};

TEST_F(SignatureGathererTest, EveryThreadCountBackendAndLookAheadDeliversExtractsResultsInOrder) {
  for (const Md5Backend backend : {Md5Backend::Scalar, Md5Backend::Avx2, Md5Backend::Avx512}) {
    if (!Md5BackendAvailable(backend)) continue;
    for (const int workers : {0, 1, 3}) {
      for (const int lookAhead : {0, 1, 2}) {  // standard, one file, one byte
        SCOPED_TRACE(std::string(Md5BackendName(backend)) + " workers " + std::to_string(workers) +
                     " look-ahead " + std::to_string(lookAhead));
        GatherOptions options;
        options.workers = workers;
        options.backend = backend;
        if (lookAhead == 1) options.lookAheadFiles = 1;
        if (lookAhead == 2) options.lookAheadBytes = 1;
        SignatureGatherer gatherer(paths_, options);
        for (std::size_t i = 0; i < paths_.size(); ++i) {
          ASSERT_EQ(gatherer.NextPath(), paths_[i]);
          const GatheredFile file = gatherer.TakeNext();
          EXPECT_EQ(file.image != nullptr, expected_[i].digest != "previous") << paths_[i];
          EXPECT_TRUE(SameSignature(Applied(file), expected_[i])) << paths_[i];
        }
        EXPECT_EQ(gatherer.NextPath(), "");
        EXPECT_EQ(gatherer.TakeNext().image, nullptr);
      }
    }
  }
}

TEST_F(SignatureGathererTest, DroppingTheGathererMidwayStopsItsWorkers) {
  // Files taken before the drop are complete; the rest, decoded ahead or in
  // the hasher, is discarded without touching freed memory (the sanitizer
  // build watches this).
  for (const int workers : {0, 2}) {
    GatherOptions options;
    options.workers = workers;
    SignatureGatherer gatherer(paths_, options);
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_TRUE(SameSignature(Applied(gatherer.TakeNext()), expected_[i]));
    }
  }
  SignatureGatherer nothing({}, GatherOptions{});
  EXPECT_EQ(nothing.TakeNext().image, nullptr);
}

TEST(SignatureGathererBoundTest, DecodesNoFurtherAheadThanTheFileAndByteBounds) {
  // Six equal pictures; after the first is taken every file is removed, so
  // a later file arrives decoded only if it was decoded ahead of time.
  test::TempDir dir;
  std::vector<std::string> paths;
  for (int i = 0; i < 6; ++i) {
    paths.push_back(dir.File("p" + std::to_string(i) + ".bmp"));
    test::WriteFile(paths.back(), test::MakeBmp24(4, 4, Pattern(4, 4, 1)));
  }
  DecodedImage one;
  ASSERT_EQ(one.LoadImageFile(paths[0]), LoadResult::LoadOk);
  const auto bytes = static_cast<std::int64_t>(one.PixelBytes());
  const struct {
    std::size_t files;
    std::int64_t bytes;
    std::size_t ahead;  // files decoded by the time the first is handed over
  } cases[] = {{2, std::int64_t{64} << 20, 2}, {3, std::int64_t{64} << 20, 3}, {0, 2 * bytes, 2}};
  // Inline, the gatherer decodes ahead until the bounds or the hasher's lanes
  // are full; it needs more lanes than the largest bound here.
  int backends = 0;
  for (const Md5Backend backend : {Md5Backend::Avx2, Md5Backend::Avx512}) {
    if (!Md5BackendAvailable(backend) || Md5LaneCount(backend) <= 3) continue;
    ++backends;
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.files) + " files " + std::to_string(c.bytes) + " bytes");
      for (const std::string& path : paths) test::WriteFile(path, test::MakeBmp24(4, 4, Pattern(4, 4, 1)));
      GatherOptions options;
      options.backend = backend;
      options.lookAheadFiles = c.files;
      options.lookAheadBytes = c.bytes;
      SignatureGatherer gatherer(paths, options);
      ASSERT_NE(gatherer.TakeNext().image, nullptr);
      for (const std::string& path : paths) ::unlink(path.c_str());
      for (std::size_t i = 1; i < paths.size(); ++i) {
        EXPECT_EQ(gatherer.TakeNext().image != nullptr, i < c.ahead) << i;
      }
    }
  }
  if (backends == 0) GTEST_SKIP() << "no hasher with more than three lanes here";
}

}  // namespace
}  // namespace norvane
