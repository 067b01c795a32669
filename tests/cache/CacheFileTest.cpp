#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <ctime>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>

#include "cache/CacheFile.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

using test::Bytes;
using test::TempDir;

const std::string kDigest = "0123456789abcdef0123456789abcdef";

// The magic and a version field of four bytes, zero-filled after the text.
Bytes Header(const std::string& version = "103") {
  Bytes out = {'N', 'R', 'V', 0};
  for (std::size_t i = 0; i < 4; ++i) out.push_back(i < version.size() ? version[i] : 0);
  return out;
}

// One record laid out by hand, independently of the writer.
Bytes HandRecord(const std::string& name, const std::string& date, std::uint32_t size, std::int32_t width,
                 std::int32_t height, const std::string& digest, double gridValue) {
  Bytes rec(1120, 0);
  std::memcpy(rec.data(), name.data(), std::min<std::size_t>(name.size(), 256));
  std::memcpy(rec.data() + 256, date.data(), std::min<std::size_t>(date.size(), 20));
  Bytes ints;
  test::PutU32(ints, size);
  test::PutI32(ints, width);
  test::PutI32(ints, height);
  std::memcpy(rec.data() + 276, ints.data(), 12);
  std::memcpy(rec.data() + 288, digest.data(), std::min<std::size_t>(digest.size(), 64));
  const auto bits = std::bit_cast<std::uint64_t>(gridValue);
  for (int d = 0; d < 96; ++d) {
    for (int b = 0; b < 8; ++b) rec[352 + d * 8 + b] = static_cast<std::uint8_t>(bits >> (8 * b));
  }
  return rec;
}

Bytes FileOf(const Bytes& header, std::initializer_list<Bytes> records) {
  Bytes out = header;
  for (const Bytes& r : records) out.insert(out.end(), r.begin(), r.end());
  return out;
}

FileRecord Entry(const std::string& name, int seed) {
  FileRecord e;
  e.name = name;
  e.date = "2024/02/29 23:59:0" + std::to_string(seed % 10);
  e.size = 1000 + seed;
  e.width = 640 + seed;
  e.height = 480;
  e.digest = kDigest;
  double v = 0.1 * seed;
  for (SignatureCell& c : e.grid) {
    c = {v, -v, v / 3, v * v, 1 / (v + 1), -0.0};
    v += 1.25;
  }
  return e;
}

// Bit-for-bit: NaN payloads and the sign of zero count.
bool SameGrid(const SignatureGrid& a, const SignatureGrid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(ReadCacheFile, HeaderAndRecordCounting) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  FileList entries = {Entry("old.jpg", 1)};

  test::WriteFile(path, Header());
  EXPECT_EQ(ReadCacheFile(path, dir.path(), entries), 0);
  EXPECT_TRUE(entries.empty());

  // Three whole records and a torn fourth.
  Bytes file = FileOf(Header(), {HandRecord("a.jpg", "2020/01/01 00:00:00", 1, 2, 3, kDigest, 1.0),
                                 HandRecord("b.jpg", "2020/01/01 00:00:01", 4, 5, 6, kDigest, 2.0),
                                 HandRecord("c.jpg", "2020/01/01 00:00:02", 7, 8, 9, kDigest, 3.0)});
  const Bytes torn = HandRecord("d.jpg", "x", 1, 1, 1, kDigest, 4.0);
  file.insert(file.end(), torn.begin(), torn.begin() + 500);
  ASSERT_EQ(file.size(), 8u + 1120 * 3 + 500);
  test::WriteFile(path, file);
  ASSERT_EQ(ReadCacheFile(path, dir.path(), entries), 0);
  ASSERT_EQ(entries.size(), 3u);
  const FileRecord& b = entries[1];
  EXPECT_EQ(std::tie(b.name, b.folder, b.path, b.date, b.size, b.width, b.height, b.digest),
            std::make_tuple("b.jpg", dir.path(), dir.path() + "/b.jpg", "2020/01/01 00:00:01", 4, 5, 6, kDigest));
  EXPECT_EQ(entries[2].grid[15].sdevCr, 3.0);

  // More records than one read chunk holds.
  Bytes many = Header();
  for (int i = 0; i < 150; ++i) {
    const Bytes r = HandRecord("f" + std::to_string(1000 + i), "d", i, 1, 1, kDigest, i);
    many.insert(many.end(), r.begin(), r.end());
  }
  test::WriteFile(path, many);
  ASSERT_EQ(ReadCacheFile(path, dir.path(), entries), 0);
  ASSERT_EQ(entries.size(), 150u);
  EXPECT_EQ(entries[149].name, "f1149");
  EXPECT_EQ(entries[149].grid[0].meanY, 149.0);
  // A limit on the records taken, here across a chunk boundary.
  ASSERT_EQ(ReadCacheFile(path, dir.path(), entries, 70), 0);
  ASSERT_EQ(entries.size(), 70u);
  EXPECT_EQ(entries[69].name, "f1069");
}

TEST(ReadCacheFile, NameFillingItsFieldStopsThereAndIsNeverReused) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  test::WriteFile(path, FileOf(Header(), {HandRecord(std::string(256, 'n'), "2020/01/01 00:00:00", 1, 7, 8, kDigest, 1.0),
                                          HandRecord(std::string(255, 'm'), "2020/01/01 00:00:01", 1, 7, 8, kDigest, 1.0)}));
  FileList entries;
  ASSERT_EQ(ReadCacheFile(path, dir.path(), entries), 0);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(std::tie(entries[0].name, entries[0].date, entries[0].width, entries[0].height),
            std::make_tuple(std::string(256, 'n'), "2020/01/01 00:00:00", 0, 8));
  EXPECT_EQ(std::tie(entries[1].name, entries[1].width), std::make_tuple(std::string(255, 'm'), 7));
}

TEST(ReadCacheFile, RejectedHeadersLeaveTheList) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  const Bytes rec = HandRecord("a.jpg", "d", 1, 1, 1, kDigest, 1.0);
  struct Case {
    Bytes header;
    int expected;
  } cases[] = {
      {Header("104"), 0},
      {Header("102"), -1},
      {{'N', 'R', 'W', 0, '1', '0', '3', 0}, -1},
      {{'N', 'R', 'V', 0, '1', '0'}, -1},  // short header
      {{}, -1},
  };
  for (const Case& c : cases) {
    FileList entries = {Entry("kept.jpg", 1)};
    test::WriteFile(path, FileOf(c.header, {rec}));
    EXPECT_EQ(ReadCacheFile(path, dir.path(), entries), c.expected);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, c.expected == 0 ? "a.jpg" : "kept.jpg");
  }
  FileList entries;
  EXPECT_EQ(ReadCacheFile(dir.File("missing"), dir.path(), entries), -1);
}

TEST(WriteCacheFile, ExactLayoutWithZeroPadding) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  EXPECT_EQ(WriteCacheFile(path, {}), 0);
  EXPECT_EQ(test::ReadFile(path), Header());

  FileList entries = {Entry("a.jpg", 1), Entry("\xe7\x94\xbb\xe5\x83\x8f.jpg", 2), Entry("c.bmp", 3)};
  entries[1].width = -5;
  entries[2].digest.clear();
  ASSERT_EQ(WriteCacheFile(path, entries), 0);
  const Bytes file = test::ReadFile(path);
  ASSERT_EQ(file.size(), 8u + 1120 * 3);
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + 8, Header().begin()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const FileRecord& e = entries[i];
    Bytes expected = HandRecord(e.name, e.date, static_cast<std::uint32_t>(e.size), e.width, e.height, e.digest, 0);
    // The grid part is checked through the round trip; compare the rest.
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 352, file.begin() + 8 + 1120 * i)) << i;
  }
  // A name too long for its field fills it, without running into the date.
  FileList longName = {Entry(std::string(300, 'x'), 4)};
  ASSERT_EQ(WriteCacheFile(path, longName), 0);
  const Bytes one = test::ReadFile(path);
  ASSERT_EQ(one.size(), 8u + 1120);
  EXPECT_EQ(one[8 + 255], 'x');
  EXPECT_EQ(one[8 + 256], '2');  // first byte of the date
}

TEST(WriteCacheFile, RoundTripKeepsEveryBit) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  FileList entries = {Entry("a.jpg", 1), Entry("b.jpg", 2)};
  const double odd[] = {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
                        std::bit_cast<double>(std::uint64_t{0x7ff0000000000123}),  // signalling NaN payload
                        std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
                        -0.0, 1e308, 0.1 + 0.2};
  int k = 0;
  for (SignatureCell& c : entries[1].grid) {
    c.meanY = odd[k++ % 8];
    c.sdevCb = odd[k++ % 8];
  }
  ASSERT_EQ(WriteCacheFile(path, entries), 0);
  FileList back;
  ASSERT_EQ(ReadCacheFile(path, "/some/folder", back), 0);
  ASSERT_EQ(back.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const FileRecord &a = back[i], &b = entries[i];
    EXPECT_EQ(std::tie(a.name, a.date, a.size, a.width, a.height, a.digest),
              std::tie(b.name, b.date, b.size, b.width, b.height, b.digest));
    EXPECT_EQ(a.path, "/some/folder/" + b.name);
    EXPECT_TRUE(SameGrid(a.grid, b.grid)) << "entry " << i;
  }
}

TEST(WriteCacheFile, ReplacesOnlyWhatItMay) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  const FileList entries = {Entry("a.jpg", 1)};

  // Replacing an existing file keeps its permissions and leaves no
  // temporary file behind.
  test::WriteFile(path, Bytes{1, 2, 3});
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(WriteCacheFile(path, entries), 0);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(test::ReadFile(path).size(), 8u + 1120);
  EXPECT_EQ(test::FolderEntries(dir.path()), std::vector<std::string>{"_cache.nrv"});
  ::unlink(path.c_str());

  // A symbolic link is neither followed nor replaced, for reading or writing.
  const std::string target = dir.File("target");
  test::WriteFile(target, FileOf(Header(), {HandRecord("a.jpg", "d", 1, 1, 1, kDigest, 1.0)}));
  ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
  FileList read;
  EXPECT_EQ(ReadCacheFile(path, dir.path(), read), -1);
  EXPECT_TRUE(read.empty());
  EXPECT_EQ(WriteCacheFile(path, entries), -1);
  struct stat lst;
  ASSERT_EQ(::lstat(path.c_str(), &lst), 0);
  EXPECT_TRUE(S_ISLNK(lst.st_mode));
  EXPECT_EQ(test::ReadFile(target).size(), 8u + 1120);
  ::unlink(path.c_str());

  // A FIFO is refused at once instead of blocking the search.
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  EXPECT_EQ(ReadCacheFile(path, dir.path(), read), -1);
  EXPECT_EQ(WriteCacheFile(path, entries), -1);
  ASSERT_EQ(::lstat(path.c_str(), &lst), 0);
  EXPECT_TRUE(S_ISFIFO(lst.st_mode));
  ::unlink(path.c_str());
}

// A file that already holds the very bytes is left alone (same inode, same
// time); any other content, however small the difference, is replaced.
TEST(WriteCacheFile, RewritesOnlyAFileWhoseBytesDiffer) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  const FileList entries = {Entry("a.jpg", 1), Entry("b.jpg", 2)};
  ASSERT_EQ(WriteCacheFile(path, entries), 0);
  const Bytes good = test::ReadFile(path);
  Bytes lastBit = good;
  lastBit.back() ^= 1;  // the top bit of the last double
  Bytes cut(good.begin(), good.end() - 1);
  Bytes longer = good;
  longer.push_back(0);  // a damaged tail: part of a record more
  Bytes version = good;
  version[6] = '4';
  const struct {
    const char* what;
    Bytes before;
    bool rewritten;
  } cases[] = {
      {"same bytes", good, false},   {"one bit", lastBit, true}, {"cut short", cut, true},
      {"partial tail", longer, true}, {"version", version, true},
  };
  for (const auto& c : cases) {
    test::WriteFile(path, c.before);
    const timeval old[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimes(path.c_str(), old), 0);
    struct stat before, after;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_EQ(WriteCacheFile(path, entries), 0) << c.what;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(test::ReadFile(path), good) << c.what;
    EXPECT_EQ(after.st_ino != before.st_ino, c.rewritten) << c.what;
    EXPECT_EQ(after.st_mtime != before.st_mtime, c.rewritten) << c.what;
  }
}

// The write bits decide for everyone, root included; a write that fails part
// way changes nothing either.
TEST(WriteCacheFile, ReadOnlyCacheAndFailedWriteKeepTheOldFile) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  const Bytes old = FileOf(Header(), {HandRecord("a.jpg", "d", 1, 1, 1, kDigest, 1.0)});
  FileList many;
  for (int i = 0; i < 8; ++i) many.push_back(Entry("f" + std::to_string(i) + ".jpg", i));
  struct stat before;

  test::WriteFile(path, old);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  EXPECT_EQ(WriteCacheFile(path, many), -1);

  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;  // the new file stops part way (EFBIG)
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int result = WriteCacheFile(path, many);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result, -1);

  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(test::ReadFile(path), old);
  EXPECT_EQ(test::FolderEntries(dir.path()), std::vector<std::string>{"_cache.nrv"});
}

// A process id that is certainly not running: a child that has exited and
// been reaped.
pid_t DeadProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

TEST(WriteCacheFile, RemovesOnlyTemporariesNoSearchIsWriting) {
  TempDir dir;
  const std::string path = dir.File("_cache.nrv");
  const std::string dead = std::to_string(DeadProcess());
  const std::string self = std::to_string(::getpid());
  const struct {
    std::string name;
    bool locked;     // held by a writer (another descriptor, as another process would)
    bool hourOld;    // last written an hour ago
    bool removed;
  } cases[] = {
      {"_cache.nrv." + dead + ".0.tmp", false, false, true},    // a killed search's file
      {"_cache.nrv." + self + ".0.tmp", false, true, true},     // left long ago under a pid now reused
      {"_cache.nrv." + self + ".1.tmp", true, true, false},     // being written
      {"_cache.nrv." + dead + ".1.tmp", true, false, false},    // being written (pid of another namespace)
      {"_cache.nrv." + self + ".2.tmp", false, false, false},   // just created, not locked yet
      {"_cache.nrv." + dead + ".x.tmp", false, true, false},    // not a name the writer makes
      {"other.nrv." + dead + ".0.tmp", false, true, false},
  };
  std::vector<int> locks;
  std::vector<std::string> expected = {"_cache.nrv"};
  for (const auto& c : cases) {
    const std::string file = dir.File(c.name);
    test::WriteFile(file, Bytes{1, 2});
    if (c.hourOld) {
      const timeval times[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
      ASSERT_EQ(::utimes(file.c_str(), times), 0);
    }
    if (c.locked) {
      locks.push_back(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
      ASSERT_EQ(::flock(locks.back(), LOCK_EX), 0);
    }
    if (!c.removed) expected.push_back(c.name);
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(WriteCacheFile(path, {Entry("a.jpg", 1)}), 0);
  EXPECT_EQ(test::FolderEntries(dir.path()), expected);
  for (const int fd : locks) ::close(fd);
}

}  // namespace
}  // namespace norvane
