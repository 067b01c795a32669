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

// Goes through a plan the way the search does: reused files take the cached
// values, the others are "decoded" by deriving a signature from the file's
// name and state. Counts what it was asked to do, and can fail some files or
// have a stop requested after some files.
struct FakeSearch {
  std::set<std::string> undecodable;
  int stopAfterFiles = -1;  // the stop arrives while this file is on show
  bool stopRequested = false;
  int files = 0;
  std::vector<std::string> decoded;
  std::vector<std::string> confirmed;

  void Update(FileList& group, bool cacheEnabled) {
    FolderPlan plan = PlanFolder(group, cacheEnabled);
    std::size_t computed = 0;
    std::size_t done = 0;
    for (; done < group.size() && !stopRequested; ++done) {
      FileRecord& r = group[done];
      if (plan.reuses(done)) {
        const FileRecord& cached = plan.cached(done);
        EXPECT_GT(cached.width, 0);
        r.width = cached.width;
        r.height = cached.height;
        r.digest = cached.digest;
        r.grid = cached.grid;
        confirmed.push_back(r.name);
      } else {
        // Files are computed exactly in the order of the plan's paths.
        EXPECT_LT(computed, plan.computePaths.size()) << r.name;
        if (computed < plan.computePaths.size()) {
          EXPECT_EQ(plan.computePaths[computed++], r.path);
        }
        decoded.push_back(r.name);
        EXPECT_EQ(r.width, 0);
        if (!undecodable.count(r.name)) {
          r.width = 40 + static_cast<int>(r.name.size());
          r.height = 30;
          r.digest = SignatureDigest(r);
          r.grid[5].meanY = r.size;
        }
      }
      if (++files == stopAfterFiles) stopRequested = true;
    }
    const bool stopped = done < group.size();
    if (!stopped) {
      EXPECT_EQ(computed, plan.computePaths.size());
    }
    CommitFolder(plan, group, done, stopped);
  }
};

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
  FakeSearch first;
  FileList group = Group(dir.path(), {{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}, {"e.jpg"}});
  first.Update(group, true);

  // b grew, the date text of c changed, d is gone, bb and f are new, and
  // A differs from a only in letter case: another file.
  FakeSearch second;
  FileList now = Group(dir.path(), {{"A.jpg"},
                                    {"a.jpg"},
                                    {"b.jpg", 101},
                                    {"bb.jpg"},
                                    {"c.jpg", 100, "2023/05/01 13:00:00"},
                                    {"e.jpg"},
                                    {"f.jpg"}});
  second.Update(now, true);
  EXPECT_EQ(second.decoded, (Strings{"A.jpg", "b.jpg", "bb.jpg", "c.jpg", "f.jpg"}));
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
  FakeSearch fake;
  fake.Update(group, true);
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

  // The stop arrives while b is on show; c is not started.
  FakeSearch fake;
  fake.stopAfterFiles = 2;
  FileList group = Group(dir.path(), {{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}, {"e.jpg"}});
  fake.Update(group, true);
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
  FakeSearch next;
  FileList again = Group(dir.path(), {{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}, {"e.jpg"}});
  next.Update(again, true);
  EXPECT_EQ(next.decoded, (Strings{"c.jpg", "e.jpg"}));
  for (const FileRecord& r : again) EXPECT_EQ(r.digest, SignatureDigest(r)) << r.name;
}

}  // namespace
}  // namespace norvane
