#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "scan/FolderScan.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::NamesOf;
using Texts = std::vector<std::string>;

void SetMtime(const std::string& path, std::int64_t seconds, int flags = 0) {
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, flags)) << path;
}

class ScanTree : public ::testing::Test {
 protected:
  std::string Put(const std::string& relative, const std::string& text = "x") {
    test::MakeDir(dir_.File(relative.substr(0, relative.rfind('/') + 1)));
    test::WriteFile(dir_.File(relative), text);
    return dir_.File(relative);
  }
  // Scans with the real listing, in reverse name order or, without kinds, as
  // a file system that does not report them; with `second`, files are asked
  // about on the second thread, and a slowed listing gives it folders to do.
  FileList Scan(const std::string& folder, bool recurse, bool reversed = false, bool kinds = true, bool second = false) {
    ScanOptions options;
    options.recurse = recurse;
    options.lister = [=](const std::string& at, std::vector<FolderEntry>& all) {
      if (second) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (!ListFolderEntries(at, all)) return false;
      std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.name < b.name; });
      if (reversed) std::reverse(all.begin(), all.end());
      for (FolderEntry& e : all) e.type = kinds ? e.type : EntryType::Unknown;
      return true;
    };
    if (second) options.secondThreadFrom = 0;
    FileList list;
    EXPECT_TRUE(ScanFolder(folder, list, options));
    return list;
  }
  test::TempDir dir_;
};

// Names compare as unsigned bytes, so that UTF-8 sorts after ASCII; only the
// last extension counts, in any letter case; .gif and .png only when their
// plug-ins are there. Sizes keep their low 32 bits, as signed values. Dates
// use the offset in force when the scan runs, for every file: Tokyo kept
// summer time in 1950 (UTC+10) but keeps UTC+9 now.
TEST_F(ScanTree, OwnFilesAreImageNamesSortedByUnsignedBytes) {
  for (const char* name : {"z.jpg", "a.jpg", "B.jpg", "ab.jpg", "x.jpg.jpg", "\xC3\xA9.jpg", "a.b.JPG",
                           "photo.jpg.bak", "x.tif", "x.jpeg", "x.gif", "x.png", "x.jpgjpg"})
    Put(name);
  ASSERT_EQ(0, truncate(dir_.File("z.jpg").c_str(), 5000000000LL));  // sparse: no disk space used
  ASSERT_EQ(0, truncate(dir_.File("a.jpg").c_str(), 3000000000LL));
  SetMtime(dir_.File("B.jpg"), 1700000000);  // 2023-11-14 22:13:20 UTC
  SetMtime(dir_.File("ab.jpg"), -615513600);  // 1950-07-01 00:00:00 UTC
  const FileList list = Scan(dir_.path(), false);
  EXPECT_EQ((Texts{"B.jpg", "a.b.JPG", "a.jpg", "ab.jpg", "x.jpg.jpg", "z.jpg", "\xC3\xA9.jpg"}), NamesOf(list));
  EXPECT_EQ(std::make_tuple(-1294967296, 1, 705032704), std::make_tuple(list[2].size, list[3].size, list[5].size));
  const bool tokyo = access("/usr/share/zoneinfo/Asia/Tokyo", R_OK) == 0;
  test::ScopedEnv zone("TZ", tokyo ? "Asia/Tokyo" : "JST-9");
  for (const bool gif : {false, true}) {
    FileList withPlugIn;
    ASSERT_TRUE(ScanFolder(dir_.path(), withPlugIn, false, gif, !gif));
    ASSERT_EQ(8u, withPlugIn.size());
    EXPECT_EQ(gif ? "x.gif" : "x.png", withPlugIn[gif ? 4 : 5].name);
    EXPECT_EQ("2023/11/15 07:13:20", withPlugIn[0].date);
    EXPECT_TRUE(!tokyo || withPlugIn[3].date == "1950/07/01 09:00:00") << withPlugIn[3].date;
  }
  EXPECT_EQ("0000/00/00 00:00:00", FormatScanDate(INT64_MAX, 3600));  // beyond the calendar
}

// Sub-folders come first, in listing order, then the folder's own files; the
// folder text is used exactly as given, a trailing slash included. A link
// counts as the file it points to and is never followed to a folder; dangling
// links and FIFOs are left out, whether or not the listing tells the kinds.
TEST_F(ScanTree, SubFoldersComeFirstInListingOrderAndLinksCountAsTheirTargetFiles) {
  for (const char* name : {"T/z.jpg", "T/a.jpg", "T/S1/b.jpg", "T/S2/c.jpg", "inner/s.jpg"}) Put(name);
  SetMtime(Put("target.dat", "1234567"), 1000000000);
  ASSERT_EQ(0, symlink("../target.dat", dir_.File("T/l.jpg").c_str()));
  SetMtime(dir_.File("T/l.jpg"), 1500000000, AT_SYMLINK_NOFOLLOW);
  ASSERT_EQ(0, symlink("../inner", dir_.File("T/linkdir.jpg").c_str()));
  ASSERT_EQ(0, symlink("missing.jpg", dir_.File("T/dangling.jpg").c_str()));
  ASSERT_EQ(0, mkfifo(dir_.File("T/f.jpg").c_str(), 0600));
  const std::string t = dir_.File("T/"), b = t + "/S1/b.jpg", c = t + "/S2/c.jpg";
  for (const bool reversed : {false, true}) {
    for (const bool kinds : {false, true}) {
      const FileList list = Scan(t, true, reversed, kinds);
      const char* sub[] = {reversed ? "c.jpg" : "b.jpg", reversed ? "b.jpg" : "c.jpg"};
      ASSERT_EQ((Texts{sub[0], sub[1], "a.jpg", "l.jpg", "z.jpg"}), NamesOf(list));
      EXPECT_EQ(std::make_tuple(list[0].folder.str(), list[0].path()), std::tuple(t + (reversed ? "/S2" : "/S1"), reversed ? c : b));
      EXPECT_EQ(std::make_tuple(list[3].folder.str(), list[3].path(), list[3].size, list[3].date),
                std::make_tuple(t, t + "/l.jpg", 7, "2001/09/09 01:46:40"));
    }
  }
}

// Folders and files listed in falling name order, their files asked about on
// the second thread: the records still come out folder by folder, each
// folder's files sorted by name.
TEST_F(ScanTree, SecondThreadKeepsTheRecordOrder) {
  Texts expected;
  for (const char* folder : {"S3/", "S2/", "S1/"})
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) expected.push_back(Put(folder + std::string(name)));
  FileList list = Scan(dir_.path(), true, true, true, true);
  Texts paths;
  for (const FileRecord& r : list) paths.push_back(r.path());
  EXPECT_EQ(expected, paths);
}

}  // namespace
}  // namespace norvane
