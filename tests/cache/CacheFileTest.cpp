#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <tuple>

#include "cache/CacheFile.h"
#include "base/FileDescriptor.h"
#include "cache/FolderSignatureStore.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using namespace test;
using Strings = std::vector<std::string>;

// The magic and a version field of four bytes, zero-filled after the text.
Bytes Header(const std::string& version = "103") {
  Bytes out = {'N', 'R', 'V', 0, 0, 0, 0, 0};
  std::copy(version.begin(), version.end(), out.begin() + 4);
  return out;
}

// The records laid out by hand, independently of the writer: texts cut to
// their fields, the name alone allowed to fill its field.
Bytes FileOf(const FileList& entries, Bytes out = Header()) {
  for (const FileRecord& e : entries) {
    Bytes rec(1120, 0);
    std::memcpy(rec.data(), e.name.data(), std::min<std::size_t>(e.name.size(), 256));
    const std::string date = e.date, digest = e.digest.str();
    std::memcpy(rec.data() + 256, date.data(), std::min<std::size_t>(date.size(), 19));
    const std::int32_t ints[3] = {e.size, e.width, e.height};
    for (int i = 0; i < 12; ++i) rec[276 + i] = static_cast<std::uint8_t>(ints[i / 4] >> (8 * (i % 4)));
    std::memcpy(rec.data() + 288, digest.data(), std::min<std::size_t>(digest.size(), 63));
    for (std::size_t at = 352; const SignatureCell& c : e.grid.unpacked()) {
      for (const double v : {c.meanY, c.meanCb, c.meanCr, c.sdevY, c.sdevCb, c.sdevCr}) {
        for (int b = 0; b < 64; b += 8) rec[at++] = static_cast<std::uint8_t>(std::bit_cast<std::uint64_t>(v) >> b);
      }
    }
    out.insert(out.end(), rec.begin(), rec.end());
  }
  return out;
}

// An entry whose six values differ in every cell.
FileRecord Entry(const std::string& name, int seed = 1) {
  FileRecord e;
  e.name = name;
  e.date = "2024/02/29 23:59:0" + std::to_string(seed % 10);
  std::tie(e.size, e.width, e.height, e.digest) = std::make_tuple(1000 + seed, 640 + seed, 480, std::string(32, 'c'));
  double v = 0.1 * seed;
  SignatureGrid grid;
  for (std::size_t k = 0; k < grid.size(); ++k, v += 1.25) grid[k] = {v, -v, v / 3, v * v, 1 / (v + 1), -0.0};
  e.grid = grid;
  return e;
}

FileList Read(const std::string& path, int expected = 0, std::size_t limit = kMaxCacheRecords) {
  FileList entries;
  EXPECT_EQ(ReadCacheFile(path, "/some/folder", entries, limit), expected);
  return entries;
}

void MakeOld(const std::string& path) {
  const timespec old[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
}

// Every byte of the file as laid out by hand, and every bit back through the
// reader, over more records than the reader and writer take at a time: NaN
// payloads and the sign of zero count. A name of 255 bytes keeps its
// terminator; a longer one fills the field and is never reused.
TEST(WriteCacheFile, ExactLayoutWithZeroPaddingAndEveryBitBack) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  ASSERT_EQ(WriteCacheFile(path, {}), 0);
  EXPECT_EQ(test::ReadFile(path), Header());

  FileList entries;
  for (int i = 0; i < 150; ++i) entries.push_back(Entry("f" + std::to_string(1000 + i), i));
  entries[0].name = "\xe7\x94\xbb\xe5\x83\x8f.jpg";
  entries[0].width = -5;
  entries[1].name = std::string(255, 'm');
  entries[2].name = std::string(300, 'x');
  entries[3].digest.clear();
  const double odd[] = {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
                        std::bit_cast<double>(std::uint64_t{0x7ff0000000000123}),
                        std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
                        -0.0, 1e308, 0.1 + 0.2};
  SignatureGrid grid = entries[1].grid.unpacked();
  for (std::size_t k = 0; k < 16; ++k) grid[k].meanY = grid[15 - k].sdevCr = odd[k % 8];
  entries[1].grid = grid;
  ASSERT_EQ(WriteCacheFile(path, entries), 0);
  EXPECT_TRUE(test::ReadFile(path) == FileOf(entries));

  FileList back = Read(path);
  ASSERT_EQ(back.size(), entries.size());
  entries[2].name = std::string(256, 'x');
  entries[2].width = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const FileRecord &a = back[i], &b = entries[i];
    EXPECT_EQ(std::tie(a.name, a.date, a.size, a.width, a.height, a.digest),
              std::tie(b.name, b.date, b.size, b.width, b.height, b.digest)) << i;
    EXPECT_EQ(std::make_tuple(a.folder.str(), a.path()), std::make_tuple("/some/folder", "/some/folder/" + b.name));
    EXPECT_TRUE(a.grid == b.grid) << i;
  }
  EXPECT_EQ(NamesOf(Read(path, 0, 70)), NamesOf(FileList(entries.begin(), entries.begin() + 70)));
  Bytes torn = FileOf({entries[0], entries[1]});
  torn.resize(torn.size() - 500);  // a torn last record is ignored
  test::WriteFile(path, torn);
  EXPECT_EQ(NamesOf(Read(path)), Strings{entries[0].name});

  // A later version is read; an older one, another magic or a short header
  // leaves the list as it was.
  const Bytes headers[] = {Header("104"), Header("102"), {'N', 'R', 'W', 0, '1', '0', '3', 0},
                           {'N', 'R', 'V', 'X', '1', '0', '3', 0}, {'N', 'R', 'V', 0, '1', '0'}, {}};
  for (const Bytes& header : headers) {
    test::WriteFile(path, FileOf({Entry("a.jpg")}, header));
    back = {Entry("kept.jpg")};
    EXPECT_EQ(ReadCacheFile(path, dir.path(), back), &header == headers ? 0 : -1);
    EXPECT_EQ(NamesOf(back), Strings{&header == headers ? "a.jpg" : "kept.jpg"});
  }
}

// A file that already holds the very bytes is left alone (same inode, same
// time); any other content, however small the difference, is replaced, its
// permissions kept. A read-only file (the write bits decide, for root too),
// a write that fails part way, a symbolic link or a FIFO (neither followed,
// for reading or writing; a FIFO must not block the search) keep the old
// file. No temporary file is left behind.
// Dates and digests of the usual shape are held packed, any other text as it
// is: every one reads back and is written back byte for byte, and two
// digests are equal exactly when their texts are.
TEST(WriteCacheFile, DateAndDigestTextsOfEveryShapeComeBackByteForByte) {
  const std::string dates[] = {"1999/12/31 23:59:59", "0000/00/00 00:00:00", "9999/19/39 29:59:59",
                               "1999/12/31T23:59:59", "1999-12-31 23:59:59", "1999/12/31 23:59:5x",
                               "1999/12/31 23:59:5",  "",                    "99/12/31"};
  const std::string digests[] = {"0123456789abcdef0123456789abcdef", std::string(32, '0'),
                                 "0123456789ABCDEF0123456789abcdef", "0123456789abcdef0123456789abcdeg",
                                 std::string(31, 'a'),               std::string(33, 'a'),
                                 std::string(63, 'z'),               "",
                                 std::string(17, '\0')};
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  FileList entries;
  for (std::size_t i = 0; i < std::size(dates); ++i) {
    entries.push_back(Entry("f" + std::to_string(i) + ".jpg"));
    std::tie(entries[i].date, entries[i].digest) = std::tie(dates[i], digests[i]);
  }
  entries.pop_back();  // a digest holding zero bytes cannot come from a file
  test::WriteFile(path, FileOf(entries));
  const FileList back = Read(path);
  ASSERT_EQ(back.size(), entries.size());
  for (std::size_t i = 0; i < back.size(); ++i) {
    EXPECT_EQ(std::make_tuple(back[i].date.str(), back[i].digest.str()), std::make_tuple(dates[i], digests[i]));
    EXPECT_EQ(IsReusableEntry(back[i]), i < 2) << i;
  }
  test::WriteFile(path, Bytes{});  // so that the writer cannot leave the file as it was
  ASSERT_EQ(WriteCacheFile(path, back), 0);
  EXPECT_TRUE(test::ReadFile(path) == FileOf(entries));

  for (const std::string& a : digests) {
    for (const std::string& b : digests) {
      const DigestField x = a, y = b;
      EXPECT_EQ(x == y, a == b) << a << " / " << b;
      EXPECT_EQ(x.key() == y.key(), a == b) << a << " / " << b;
    }
  }
}

TEST(WriteCacheFile, RewritesOnlyAFileWhoseBytesDifferAndMayBeReplaced) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv"), target = dir.File("target");
  const FileList entries = {Entry("a.jpg", 1), Entry("b.jpg", 2)};
  const Bytes good = FileOf(entries);
  Bytes lastBit = good, version = good, longer = good;
  lastBit.back() ^= 1;
  version[6] = '4';
  longer.push_back(0);
  // Old content, what the file is, whether the write replaces it.
  const std::tuple<Bytes, std::string, bool> cases[] = {
      {good, "", false}, {lastBit, "", true}, {version, "", true}, {Bytes(good.begin(), good.end() - 1), "", true},
      {longer, "", true}, {lastBit, "read-only", false}, {lastBit, "cut off", false}, {lastBit, "link", false},
      {lastBit, "fifo", false}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& [content, kind, replaced] = cases[i];
    SCOPED_TRACE(i);
    const bool other = kind == "link" || kind == "fifo";
    ::unlink(path.c_str());
    test::WriteFile(other ? target : path, content);
    MakeOld(other ? target : path);
    ASSERT_EQ(kind == "link"   ? ::symlink(target.c_str(), path.c_str())
              : kind == "fifo" ? ::mkfifo(path.c_str(), 0644)
                               : ::chmod(path.c_str(), kind == "read-only" ? 0444 : 0640),
              0);
    struct stat was, now;
    ASSERT_EQ(::lstat(path.c_str(), &was), 0);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    if (kind == "cut off") small.rlim_cur = 1024;  // the new file stops part way (EFBIG)
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = WriteCacheFile(path, entries);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, replaced || kind.empty() ? 0 : -1);
    ASSERT_EQ(::lstat(path.c_str(), &now), 0);
    EXPECT_EQ(std::pair(now.st_ino != was.st_ino, now.st_mtime != was.st_mtime), std::pair(replaced, replaced));
    EXPECT_EQ(now.st_mode & 07777, other ? was.st_mode & 07777 : kind == "read-only" ? 0444u : 0640u);
    EXPECT_EQ(test::ReadFile(other ? target : path), replaced ? good : content);
    EXPECT_EQ(test::FolderEntries(dir.path()), (other ? Strings{"_cache.nrv", "target"} : Strings{"_cache.nrv"}));
    if (other) Read(path, -1);
  }
}

TEST(WriteCacheFile, RemovesOnlyTemporariesNoSearchIsWriting) {
  TempDir dir;
  // A process id above any the system hands out is certainly not running.
  const std::string dead = ".nrv.2147483647", self = ".nrv." + std::to_string(::getpid());
  // Name, held locked by a writer (another descriptor, as another process
  // would), last written an hour ago, to be removed.
  const std::tuple<std::string, bool, bool, bool> cases[] = {
      {"_cache" + dead + ".0.tmp", false, false, true},   // a killed search's file
      {"_cache" + self + ".0.tmp", false, true, true},    // left long ago under a pid now reused
      {"_cache" + self + ".1.tmp", true, true, false},    // being written
      {"_cache" + dead + ".1.tmp", true, false, false},   // being written (pid of another namespace)
      {"_cache" + self + ".2.tmp", false, false, false},  // just created, not locked yet
      {"_cache" + dead + ".x.tmp", false, true, false},   // not a name the writer makes
      {"other" + dead + ".0.tmp", false, true, false},
  };
  std::vector<int> locks;
  Strings expected = {"_cache.nrv"};
  for (const auto& [name, locked, hourOld, removed] : cases) {
    test::WriteFile(dir.File(name), Bytes{1, 2});
    if (hourOld) MakeOld(dir.File(name));
    if (locked) locks.push_back(::open(dir.File(name).c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_TRUE(!locked || ::flock(locks.back(), LOCK_EX) == 0);
    if (!removed) expected.push_back(name);
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(WriteCacheFile(dir.File("_cache.nrv"), {Entry("a.jpg")}), 0);
  EXPECT_EQ(test::FolderEntries(dir.path()), expected);
  for (const int fd : locks) ::close(fd);
}

// What the folder scan hands over for the named files of `dir`, of size 100
// unless the name is followed by its size ("b.jpg:101").
FileList Group(const TempDir& dir, const Strings& files) {
  FileList group;
  for (const std::string& file : files) {
    FileRecord& r = group.emplace_back();
    r.name = file.substr(0, file.find(':'));
    std::tie(r.folder, r.date) = std::make_tuple(dir.path(), "2023/05/01 12:00:00");
    r.size = r.name == file ? 100 : std::stoi(file.substr(r.name.size() + 1));
  }
  return group;
}

// The signature a decode of the file in its current state yields.
std::string Digest(const FileRecord& r) {
  char out[33];
  std::snprintf(out, sizeof out, "%032zx", std::hash<std::string>()(r.name + r.date + std::to_string(r.size)));
  return out;
}

// Goes through the folder's plan as the search does, up to a stop after
// `stopAfter` files: reused files take the cached values, the others are
// "decoded" in the order of the plan's paths. Returns the names decoded.
Strings Search(FileList& group, std::size_t stopAfter = 1000) {
  FolderPlan plan = PlanFolder(group, true);
  Strings decoded;
  std::size_t done = 0;
  for (; done < std::min(stopAfter, group.size()); ++done) {
    FileRecord& r = group[done];
    const bool reuse = plan.reuses(done);
    EXPECT_TRUE(reuse || plan.computePaths.at(decoded.size()) == r.path()) << r.name;
    if (!reuse) decoded.push_back(r.name);
    r.width = reuse ? plan.cached(done).width : 40;
    r.digest = reuse ? plan.cached(done).digest.str() : Digest(r);
  }
  CommitFolder(plan, group, done, done < group.size());
  return decoded;
}

TEST(FolderSignatureStore, ReusesAnEntryOnlyForItsOwnUnchangedFileAndAStopKeepsWhatIsValid) {
  TempDir dir;
  // Without a cache file every file keeps an entry, unsigned from the stop on.
  FileList group = Group(dir, {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
  EXPECT_EQ(Search(group, 1), Strings{"a.jpg"});
  FileList cached = Read(dir.File(kCacheFileName));
  ASSERT_EQ(NamesOf(cached), NamesOf(group));
  EXPECT_EQ(std::tie(cached[0].width, cached[1].width, cached[4].width), std::make_tuple(40, 0, 0));
  EXPECT_EQ(Search(group).size(), 4u);

  // b grew, the date of c differs, d is gone, bb and f are new, and A
  // differs from a only in letter case.
  FileList now = Group(dir, {"A.jpg", "a.jpg", "b.jpg:101", "bb.jpg", "c.jpg", "e.jpg", "f.jpg"});
  now[4].date = "2023/05/01 13:00:00";
  EXPECT_EQ(Search(now), (Strings{"A.jpg", "b.jpg", "bb.jpg", "c.jpg", "f.jpg"}));
  for (const FileRecord& r : now) EXPECT_EQ(r.digest, Digest(r)) << r.name;
  EXPECT_EQ(NamesOf(Read(dir.File(kCacheFileName))), NamesOf(now));

  // Cache: a valid, b stale (size changed since), d valid, x for a file that
  // is gone but is not reached before the stop. The stop arrives while b is
  // on show; c is not started.
  FileList seed = Group(dir, {"a.jpg", "b.jpg:50", "d.jpg", "x.jpg"});
  for (FileRecord& e : seed) std::tie(e.width, e.digest) = std::make_tuple(10, Digest(e));
  ASSERT_EQ(WriteCacheFile(dir.File(kCacheFileName), seed), 0);
  group = Group(dir, {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
  EXPECT_EQ(Search(group, 2), Strings{"b.jpg"});
  cached = Read(dir.File(kCacheFileName));
  ASSERT_EQ(NamesOf(cached), (Strings{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "x.jpg"}));
  EXPECT_EQ(std::tie(cached[0].digest, cached[1].size, cached[1].digest, cached[2].width, cached[3].digest),
            std::tie(seed[0].digest, group[1].size, group[1].digest, group[2].width, seed[2].digest));
  EXPECT_EQ(cached[4].digest, seed[3].digest);

  // The next search reuses a, b and d and computes only c and e; a stop
  // where b is next keeps its entry as it was.
  FileList again = Group(dir, {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
  EXPECT_EQ(Search(again), (Strings{"c.jpg", "e.jpg"}));
  for (const FileRecord& r : again) EXPECT_EQ(r.digest, Digest(r)) << r.name;
  Search(again, 1);
  EXPECT_EQ(Read(dir.File(kCacheFileName))[1].width, 40);
}

// A folder whose files all reuse their entries writes back the entries read.
// The file stays as it is only when it holds the writer's very bytes and is
// still the file read; bytes the reader passes over (after a text's end,
// another version, a torn tail) or a change after the read get it rewritten.
TEST(FolderSignatureStore, LeavesACacheFileAloneOnlyWhenItHoldsTheWritersBytes) {
  TempDir dir;
  const std::string path = dir.File(kCacheFileName);
  FileList seed = Group(dir, {"a.jpg", "b.jpg"});
  for (FileRecord& e : seed) std::tie(e.width, e.digest) = std::make_tuple(40, Digest(e));
  const Bytes good = FileOf(seed);
  Bytes afterName = good, afterDigest = good, version = good, torn = good;
  afterName[8 + 10] = 'x';
  afterDigest[8 + 1120 + 288 + 40] = 'x';
  version[6] = '4';
  torn.push_back(0);
  const std::pair<Bytes, bool> cases[] = {{good, false}, {afterName, false}, {afterDigest, false},
                                          {version, false}, {torn, false}, {good, true}};
  for (const auto& [content, changedAfterRead] : cases) {
    SCOPED_TRACE(&content - &cases[0].first);
    test::WriteFile(path, content);
    struct stat was, now;
    ASSERT_EQ(::stat(path.c_str(), &was), 0);
    FileList group = Group(dir, {"a.jpg", "b.jpg"});
    FolderPlan plan = PlanFolder(group, true);
    for (std::size_t i = 0; i < group.size(); ++i) {
      ASSERT_TRUE(plan.reuses(i));
      std::tie(group[i].width, group[i].digest) = std::tie(plan.cached(i).width, plan.cached(i).digest);
    }
    if (changedAfterRead) {
      const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
      ASSERT_EQ(::pwrite(fd.get(), "x", 1, 8 + 352), 1);
    }
    CommitFolder(plan, group, group.size(), false);
    EXPECT_TRUE(test::ReadFile(path) == good);
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino == was.st_ino, &content == &cases[0].first);
  }
  // A file without entries still gets one per file, even when none decodes.
  test::WriteFile(path, Header());
  FileList undecoded = Group(dir, {"a.jpg", "b.jpg"});
  FolderPlan plan = PlanFolder(undecoded, true);
  CommitFolder(plan, undecoded, undecoded.size(), false);
  EXPECT_EQ(NamesOf(Read(path)), NamesOf(undecoded));
}

}  // namespace
}  // namespace norvane
