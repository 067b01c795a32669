#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <thread>

#include "scan/FolderScan.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::MakeDir;
using test::NamesOf;
using test::TempDir;
using test::WriteFile;
using Texts = std::vector<std::string>;

Texts Paths(const FileList& list) {
  Texts paths;
  for (const FileRecord& r : list) paths.push_back(r.path);
  return paths;
}

void SetMtime(const std::string& path, std::int64_t seconds, int flags = 0) {
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, flags)) << path;
}

// The real listing, reordered so that the named entries come first in the
// given order.
FolderLister Steered(Texts first) {
  return [first](const std::string& folder, std::vector<FolderEntry>& entries) {
    if (!ListFolderEntries(folder, entries)) return false;
    auto rank = [&](const FolderEntry& e) {
      return std::find(first.begin(), first.end(), e.name) - first.begin();
    };
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const FolderEntry& a, const FolderEntry& b) { return rank(a) < rank(b); });
    return true;
  };
}

// The real listing as a file system that does not report entry kinds.
bool ListWithoutKinds(const std::string& folder, std::vector<FolderEntry>& entries) {
  if (!ListFolderEntries(folder, entries)) return false;
  for (FolderEntry& e : entries) e.type = EntryType::Unknown;
  return true;
}

ScanOptions Options(bool recurse, FolderLister lister = {}) {
  ScanOptions options;
  options.recurse = recurse;
  options.lister = std::move(lister);
  return options;
}

class ScanTree : public ::testing::Test {
 protected:
  std::string Put(const std::string& relative, const std::string& text = "x") {
    if (const auto slash = relative.rfind('/'); slash != std::string::npos) Dir(relative.substr(0, slash));
    WriteFile(dir_.File(relative), text);
    return dir_.File(relative);
  }
  std::string Dir(const std::string& relative) {
    MakeDir(dir_.File(relative));
    return dir_.File(relative);
  }
  TempDir dir_;
};

TEST_F(ScanTree, OwnFilesAreImageNamesSortedByUnsignedBytes) {
  for (const char* name : {"z.jpg", "a.jpg", "B.jpg", "ab.jpg", "x.jpg.jpg", "\xC3\xA9.jpg", "a.b.JPG",
                           "photo.jpg.bak", "x.tif", "x.jpeg", "x.gif", "x.png", "x.jpgjpg"}) {
    Put(name);
  }
  FileList list;
  ASSERT_TRUE(ScanFolder(dir_.path(), list, false, false, false));
  for (const FileRecord& r : list) {
    EXPECT_EQ(dir_.path(), r.folder);
    EXPECT_EQ(dir_.path() + "/" + r.name, r.path);
  }
  EXPECT_EQ((Texts{"B.jpg", "a.b.JPG", "a.jpg", "ab.jpg", "x.jpg.jpg", "z.jpg", "\xC3\xA9.jpg"}), NamesOf(list));

  FileList withPlugins;
  ASSERT_TRUE(ScanFolder(dir_.path(), withPlugins, false, true, true));
  ASSERT_EQ(9u, withPlugins.size());
  EXPECT_EQ("x.gif", withPlugins[4].name);
  EXPECT_EQ("x.png", withPlugins[6].name);
}

TEST_F(ScanTree, SizeKeepsTheLowThirtyTwoBitsAsSigned) {
  const std::map<std::string, std::pair<off_t, std::int32_t>> files = {
      {"five.jpg", {5000000000LL, 705032704}},
      {"three.jpg", {3000000000LL, -1294967296}},
      {"small.bmp", {3, 3}},
  };
  for (const auto& [name, sizes] : files) {
    Put(name, "");
    ASSERT_EQ(0, truncate(dir_.File(name).c_str(), sizes.first));  // sparse: no disk space used
  }
  FileList list;
  ASSERT_TRUE(ScanFolder(dir_.path(), list, false, false, false));
  ASSERT_EQ(3u, list.size());
  for (const FileRecord& r : list) EXPECT_EQ(files.at(r.name).second, r.size) << r.name;
}

TEST_F(ScanTree, DateUsesTheZoneOffsetInForceWhenScanning) {
  SetMtime(Put("a.jpg"), 1700000000);  // 2023-11-14 22:13:20 UTC
  auto dateIn = [&](const char* zone) {
    test::ScopedEnv guard("TZ", zone);
    FileList list;
    EXPECT_TRUE(ScanFolder(dir_.path(), list, false, false, false));
    return list.empty() ? std::string() : list[0].date.str();
  };
  EXPECT_EQ("2023/11/14 22:13:20", dateIn("UTC0"));
  EXPECT_EQ("2023/11/15 07:13:20", dateIn("JST-9"));

  ScanOptions options = Options(false);
  options.utcOffset = -3600;
  FileList list;
  ASSERT_TRUE(ScanFolder(dir_.path(), list, options));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("2023/11/14 21:13:20", list[0].date);

  // Tokyo kept summer time in 1950 (UTC+10) but keeps UTC+9 now: the file's
  // own offset must not be used.
  if (access("/usr/share/zoneinfo/Asia/Tokyo", R_OK) == 0) {
    SetMtime(dir_.File("a.jpg"), -615513600);  // 1950-07-01 00:00:00 UTC
    EXPECT_EQ("1950/07/01 09:00:00", dateIn("Asia/Tokyo"));
  }
  // Times outside the calendar still give a date of the usual shape.
  EXPECT_EQ(19u, FormatScanDate(INT64_MAX, 3600).size());
}

TEST_F(ScanTree, LinksCountAsTheirTargetFilesAndNeverAsFolders) {
  Put("target.dat", "1234567");
  SetMtime(dir_.File("target.dat"), 1000000000);
  Put("inner/s.jpg");
  Put("dir/plain.jpg");
  ASSERT_EQ(0, symlink("../target.dat", dir_.File("dir/l.jpg").c_str()));
  SetMtime(dir_.File("dir/l.jpg"), 1500000000, AT_SYMLINK_NOFOLLOW);
  ASSERT_EQ(0, symlink("../inner", dir_.File("dir/linkdir.jpg").c_str()));
  ASSERT_EQ(0, symlink("missing.jpg", dir_.File("dir/dangling.jpg").c_str()));
  ASSERT_EQ(0, mkfifo(dir_.File("dir/f.jpg").c_str(), 0600));

  for (bool recurse : {false, true}) {
    for (FolderLister lister : {FolderLister{}, FolderLister(ListWithoutKinds)}) {
      FileList list;
      ASSERT_TRUE(ScanFolder(dir_.File("dir"), list, Options(recurse, lister)));
      ASSERT_EQ((Texts{dir_.File("dir/l.jpg"), dir_.File("dir/plain.jpg")}), Paths(list));
      EXPECT_EQ(7, list[0].size);
      EXPECT_EQ("2001/09/09 01:46:40", list[0].date);
    }
  }
}

TEST_F(ScanTree, SubFoldersComeFirstInListingOrderThenOwnFiles) {
  const std::string t = Dir("T");
  Put("T/z.jpg");
  Put("T/a.jpg");
  Put("T/S1/b.jpg");
  Put("T/S2/c.jpg");
  FileRecord kept;
  kept.path = "kept";
  for (const bool s1First : {true, false}) {
    FileList list{kept};
    const Texts order = s1First ? Texts{"S1", "S2"} : Texts{"S2", "S1"};
    ASSERT_TRUE(ScanFolder(t, list, Options(true, Steered(order))));
    const std::string b = t + "/S1/b.jpg", c = t + "/S2/c.jpg";
    EXPECT_EQ((Texts{"kept", s1First ? b : c, s1First ? c : b, t + "/a.jpg", t + "/z.jpg"}), Paths(list));
    EXPECT_EQ(s1First ? t + "/S1" : t + "/S2", list[1].folder);
  }
}

// Folders listed with their names in falling order; a second thread that
// asks about some of them must still hand over the same sorted list. The
// listing is slowed so that the second thread gets folders to do.
TEST_F(ScanTree, SecondThreadKeepsTheRecordOrder) {
  Texts falling;
  for (const char* folder : {"S3", "S2", "S1"}) {
    for (const char* name : {"c.jpg", "b.jpg", "a.jpg"}) Put(std::string(folder) + "/" + name);
    falling.push_back(folder);
  }
  Put("z.jpg");
  Put("y.jpg");
  falling.insert(falling.end(), {"z.jpg", "y.jpg", "c.jpg", "b.jpg", "a.jpg"});
  Texts expected;
  for (const char* path : {"S3/a.jpg", "S3/b.jpg", "S3/c.jpg", "S2/a.jpg", "S2/b.jpg", "S2/c.jpg", "S1/a.jpg",
                           "S1/b.jpg", "S1/c.jpg", "y.jpg", "z.jpg"}) {
    expected.push_back(dir_.File(path));
  }
  for (const std::size_t secondThreadFrom : {std::size_t{4096}, std::size_t{0}}) {
    ScanOptions options = Options(true, [steered = Steered(falling)](const std::string& folder, auto& entries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return steered(folder, entries);
    });
    options.secondThreadFrom = secondThreadFrom;
    FileList list;
    ASSERT_TRUE(ScanFolder(dir_.path(), list, options));
    EXPECT_EQ(expected, Paths(list)) << secondThreadFrom;
  }
}

TEST_F(ScanTree, FolderTextIsUsedExactlyAsGiven) {
  Put("a.jpg");
  Put("S/b.jpg");
  const std::string given = dir_.path() + "/";
  FileList list;
  ASSERT_TRUE(ScanFolder(given, list, true, false, false));
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(given + "/S", list[0].folder);
  EXPECT_EQ(given + "/S/b.jpg", list[0].path);
  EXPECT_EQ(given, list[1].folder);
  EXPECT_EQ(given + "/a.jpg", list[1].path);
}

}  // namespace
}  // namespace norvane
