#include "gather/SignatureGatherer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "support/BmpWriter.h"
#include "support/JpegWriter.h"
#include "support/PngWriter.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"
#include "support/TiffWriter.h"

namespace norvane {
namespace {

using test::Pattern;

// The first decodes of the process, on two threads at once, both through the
// program's plug-in search path: under ThreadSanitizer any state the readers
// fill lazily shows up as a race.
TEST(SignatureGathererThreadsTest, TwoThreadsDecodingAPngFirstShareNothingMutable) {
  test::TempDir dir;
  const std::string path = dir.File("first.png");
  test::WriteFile(path, test::MakePngRgb(5, 3, Pattern(5, 3, 7)));
  std::unique_ptr<DecodedImage> decoded[2];
  std::thread other([&] { decoded[1] = DecodeImageFile(path); });
  decoded[0] = DecodeImageFile(path);
  other.join();
  ASSERT_TRUE(decoded[0] && decoded[1]) << "the shipped PNG plug-in was not found";
  EXPECT_EQ(decoded[0]->width + decoded[1]->width, 10);
}

// The digest and grid of a record that had "previous" and -7, after the search
// applies what the gatherer handed over or, given `path`, after the file is
// decoded and its signature extracted directly.
std::string SignatureOf(const GatheredFile& file, const std::string& path = {}) {
  FileRecord record;
  record.digest = "previous";
  record.grid.Modify([](SignatureGrid& grid) {
    for (SignatureCell& cell : grid) cell.meanY = -7;
  });
  DecodedImage image;
  if (file.image != nullptr) ApplySignature(record, file.signature, file.digest);
  if (!path.empty() && image.LoadImageFile(path) == LoadResult::LoadOk) SignatureExtractor::Extract(record, image);
  const SignatureGrid grid = record.grid.unpacked();
  return record.digest + std::string(reinterpret_cast<const char*>(&grid), sizeof grid);
}

// Files of widely different sizes, so that digests finish in the lanes at
// different times, and failures (broken, missing) between them. Every thread
// count, hasher and look-ahead hands over what a direct decode gives, in
// order; a gatherer dropped midway stops its workers without touching freed
// memory (the sanitizer builds watch this).
TEST(SignatureGathererTest, EveryThreadCountBackendAndLookAheadDeliversExtractsResultsInOrder) {
  test::TempDir dir;
  std::vector<std::string> paths, expected;
  for (int i = 0; i < 23; ++i) {
    const int w = 1 + (i * 13) % 97, h = 1 + (i * 7) % 53;
    paths.push_back(dir.File("f" + std::to_string(100 + i) + (i % 5 == 0 ? ".bmp" : i % 5 == 2 ? ".tif" : ".jpg")));
    if (i % 5 == 0) test::WriteFile(paths.back(), test::MakeBmp24(w, h, Pattern(w, h, i)));
    if (i % 5 == 1) test::WriteFile(paths.back(), test::MakeJpeg(w, h, 3, Pattern(w, h, i)));
    if (i % 5 == 2) test::WriteFile(paths.back(), test::GrayTiff(w, h, 16, test::RandomBytes(w * h * 2, i)).Build());
    if (i % 5 == 3) test::WriteFile(paths.back(), std::string("broken"));
    expected.push_back(SignatureOf({}, paths.back()));
  }
  for (const Md5Backend backend : {Md5Backend::Scalar, Md5Backend::Avx2, Md5Backend::Avx512}) {
    if (!Md5BackendAvailable(backend)) continue;
    for (const int workers : {0, 1, 3}) {
      // The standard look-ahead, one file, one byte.
      for (const auto& [files, bytes] : {std::pair<std::size_t, std::int64_t>{0, 64 << 20}, {1, 64 << 20}, {0, 1}}) {
        SCOPED_TRACE(std::string(Md5BackendName(backend)) + std::to_string(workers) + std::to_string(files + bytes));
        GatherOptions options;
        std::tie(options.workers, options.backend, options.lookAheadFiles, options.lookAheadBytes) =
            std::make_tuple(workers, backend, files, bytes);
        SignatureGatherer gatherer(paths, options);
        for (std::size_t i = 0; i < paths.size(); ++i) {
          ASSERT_EQ(gatherer.NextPath(), paths[i]);
          EXPECT_EQ(SignatureOf(gatherer.TakeNext()), expected[i]) << i;
        }
        EXPECT_EQ(gatherer.NextPath(), "");
        EXPECT_EQ(gatherer.TakeNext().image, nullptr);
        SignatureGatherer dropped(paths, options);
        EXPECT_EQ(SignatureOf(dropped.TakeNext()), expected[0]);
      }
    }
  }
}

// Six equal pictures; after the first is taken every file is removed, so a
// later file arrives decoded only if it was decoded ahead of time. Inline,
// the gatherer decodes ahead until the bounds or the hasher's lanes are full;
// it needs more lanes than the largest bound here.
TEST(SignatureGathererBoundTest, DecodesNoFurtherAheadThanTheFileAndByteBounds) {
  test::TempDir dir;
  std::vector<std::string> paths;
  for (int i = 0; i < 6; ++i) paths.push_back(dir.File("p" + std::to_string(i) + ".bmp"));
  const test::Bytes picture = test::MakeBmp24(4, 4, Pattern(4, 4, 1));
  test::WriteFile(paths[0], picture);
  const auto bytes = static_cast<std::int64_t>(DecodeImageFile(paths[0])->PixelBytes()), big = std::int64_t{64} << 20;
  // Files and bytes held ahead, files decoded by the time the first is handed over.
  const std::tuple<std::size_t, std::int64_t, std::size_t> cases[] = {{2, big, 2}, {3, big, 3}, {0, 2 * bytes, 2}};
  if (!Md5BackendAvailable(Md5Backend::Avx2)) GTEST_SKIP() << "no hasher with more than three lanes here";
  for (const Md5Backend backend : {Md5Backend::Avx2, Md5Backend::Avx512}) {
    if (!Md5BackendAvailable(backend)) continue;
    ASSERT_GT(Md5LaneCount(backend), 3);
    for (const auto& [files, held, ahead] : cases) {
      SCOPED_TRACE(std::to_string(files) + " files " + std::to_string(held) + " bytes");
      for (const std::string& path : paths) test::WriteFile(path, picture);
      GatherOptions options;
      std::tie(options.backend, options.lookAheadFiles, options.lookAheadBytes) = std::make_tuple(backend, files, held);
      SignatureGatherer gatherer(paths, options);
      ASSERT_NE(gatherer.TakeNext().image, nullptr);
      for (const std::string& path : paths) ::unlink(path.c_str());
      for (std::size_t i = 1; i < paths.size(); ++i) EXPECT_EQ(gatherer.TakeNext().image != nullptr, i < ahead) << i;
    }
  }
}

}  // namespace
}  // namespace norvane
