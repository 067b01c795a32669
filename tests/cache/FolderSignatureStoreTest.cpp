#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cache/CacheFile.h"
#include "cache/FolderSignatureStore.h"
#include "signature/PixelDigest.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::NamesOf;
using test::TempDir;

struct FileState {
  std::string name;
  std::int32_t size = 100;
  std::string date = "2023/05/01 12:00:00";
};

// What the folder scan would hand over: one record per file, width 0.
FileList Group(const std::string& folder, const std::vector<FileState>& files) {
  FileList group;
  for (const FileState& f : files) {
    FileRecord r;
    r.index = static_cast<std::int32_t>(group.size()) + 10;
    r.folder = folder;
    r.name = f.name;
    r.path = folder + "/" + f.name;
    r.size = f.size;
    r.date = f.date;
    group.push_back(r);
  }
  return group;
}

// The signature a decode of the file in its current state yields.
std::string SignatureDigest(const FileRecord& r) {
  const std::string key = r.name + "|" + r.date + "|" + std::to_string(r.size);
  char out[kDigestTextLength + 1];
  PixelDigester().HexDigest(reinterpret_cast<const std::uint8_t*>(key.data()), key.size(), out);
  return out;
}

// Stands in for the search run's per-file step: "decodes" by deriving a
// signature from the file's name and state, counts what it was asked to do,
// and can fail some files or have a stop requested after some steps.
struct FakeStep {
  std::set<std::string> undecodable;
  int stopAfterSteps = -1;  // the stop arrives while this step drains messages
  bool stopRequested = false;
  int steps = 0;
  std::vector<std::string> decoded;
  std::vector<std::string> confirmed;
  std::vector<std::string> planned;  // paths announced before the group's first step
  std::size_t plannedTaken = 0;

  int operator()(FileRecord& r, bool listUpdate, bool display, bool compute) {
    EXPECT_TRUE(listUpdate);
    EXPECT_EQ(display, compute);
    if (stopRequested) return kStepStopped;
    int status = kStepDone;
    if (compute) {
      // Files are computed exactly in the order announced beforehand.
      EXPECT_LT(plannedTaken, planned.size()) << r.name;
      if (plannedTaken < planned.size()) {
        EXPECT_EQ(planned[plannedTaken++], r.path);
      }
      decoded.push_back(r.name);
      EXPECT_EQ(r.width, 0);
      if (undecodable.count(r.name)) {
        status = kStepFailed;
      } else {
        r.width = 40 + static_cast<int>(r.name.size());
        r.height = 30;
        r.digest = SignatureDigest(r);
        r.grid[5].meanY = r.size;
      }
    } else {
      confirmed.push_back(r.name);
      EXPECT_GT(r.width, 0);
    }
    if (++steps == stopAfterSteps) stopRequested = true;
    return status;
  }
};

FolderSignatureStore StoreFor(FakeStep& fake) {
  return FolderSignatureStore([&fake](FileRecord& r, bool l, bool d, bool c) { return fake(r, l, d, c); },
                              [&fake](const std::vector<std::string>& paths) {
                                fake.planned = paths;
                                fake.plannedTaken = 0;
                              });
}

FileList CacheOf(const TempDir& dir) {
  FileList entries;
  EXPECT_EQ(ReadCacheFile(dir.File("_cache.nrv"), dir.path(), entries), 0);
  return entries;
}

void ExpectComputed(const FileRecord& r) {
  EXPECT_GT(r.width, 0) << r.name;
  EXPECT_EQ(r.digest, SignatureDigest(r)) << r.name;
  EXPECT_EQ(r.grid[5].meanY, r.size) << r.name;
}

using Strings = std::vector<std::string>;

TEST(FolderSignatureStore, ChangedDeletedAndAddedFiles) {
  TempDir dir;
  FakeStep first;
  FileList group = Group(dir.path(), {{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}, {"e.jpg"}});
  StoreFor(first).Update(group, true);

  // b grew, the date text of c changed, d is gone, bb and f are new, and
  // A differs from a only in letter case: another file.
  FakeStep second;
  FileList now = Group(dir.path(), {{"A.jpg"},
                                    {"a.jpg"},
                                    {"b.jpg", 101},
                                    {"bb.jpg"},
                                    {"c.jpg", 100, "2023/05/01 13:00:00"},
                                    {"e.jpg"},
                                    {"f.jpg"}});
  StoreFor(second).Update(now, true);
  EXPECT_EQ(second.decoded, (Strings{"A.jpg", "b.jpg", "bb.jpg", "c.jpg", "f.jpg"}));
  EXPECT_EQ(second.plannedTaken, second.planned.size());
  EXPECT_EQ(second.confirmed, (Strings{"a.jpg", "e.jpg"}));
  for (const FileRecord& r : now) ExpectComputed(r);
  const FileList cached = CacheOf(dir);
  EXPECT_EQ(NamesOf(cached), NamesOf(now));
  for (std::size_t i = 0; i < now.size(); ++i) {
    EXPECT_EQ(cached[i].size, now[i].size);
    EXPECT_EQ(cached[i].date, now[i].date);
    EXPECT_EQ(cached[i].digest, now[i].digest);
  }
}

TEST(FolderSignatureStore, OutOfOrderEntriesAreNeverReusedForAnotherName) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  FileList group = Group(dir.path(), {{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}});
  FileList valid = group;
  for (FileRecord& e : valid) {
    e.width = 10;
    e.digest = SignatureDigest(e);
  }
  // c, a, d, b: the merge can use c and d only.
  ASSERT_EQ(WriteCacheFile(path, {valid[2], valid[0], valid[3], valid[1]}), 0);
  FakeStep fake;
  StoreFor(fake).Update(group, true);
  EXPECT_EQ(fake.decoded, (Strings{"a.jpg", "b.jpg"}));
  EXPECT_EQ(fake.confirmed, (Strings{"c.jpg", "d.jpg"}));
  for (const FileRecord& r : group) EXPECT_EQ(r.digest, SignatureDigest(r)) << r.name;
  EXPECT_EQ(NamesOf(CacheOf(dir)), NamesOf(group));
}

TEST(FolderSignatureStore, StopKeepsWhatIsValid) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  // Cache: a valid, b stale (size changed since), d valid, x for a file
  // that is gone but is not reached before the stop.
  FileList seed = Group(dir.path(), {{"a.jpg"}, {"b.jpg", 50}, {"d.jpg"}, {"x.jpg"}});
  for (FileRecord& e : seed) {
    e.width = 10;
    e.digest = SignatureDigest(e);
  }
  ASSERT_EQ(WriteCacheFile(path, seed), 0);

  // The stop arrives while the step of b drains messages; c is refused.
  FakeStep fake;
  fake.stopAfterSteps = 2;
  FileList group = Group(dir.path(), {{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}, {"e.jpg"}});
  StoreFor(fake).Update(group, true);
  EXPECT_EQ(fake.decoded, (Strings{"b.jpg"}));
  EXPECT_EQ(fake.confirmed, (Strings{"a.jpg"}));

  const FileList cached = CacheOf(dir);
  ASSERT_EQ(NamesOf(cached), (Strings{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "x.jpg"}));
  EXPECT_EQ(cached[0].digest, seed[0].digest);
  EXPECT_EQ(cached[1].size, 100);  // brought up to date
  EXPECT_EQ(cached[1].digest, group[1].digest);
  EXPECT_EQ(cached[2].width, 0);   // the file at which the stop happened
  EXPECT_EQ(cached[3].digest, seed[2].digest);
  EXPECT_EQ(cached[4].digest, seed[3].digest);

  // The next search reuses a, b and d and computes only c and e.
  FakeStep next;
  FileList again = Group(dir.path(), {{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}, {"e.jpg"}});
  StoreFor(next).Update(again, true);
  EXPECT_EQ(next.decoded, (Strings{"c.jpg", "e.jpg"}));
  for (const FileRecord& r : again) EXPECT_EQ(r.digest, SignatureDigest(r)) << r.name;
}

}  // namespace
}  // namespace norvane
