#include "search/SearchSession.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cache/CacheFile.h"
#include "search/RecordingView.h"
#include "support/BmpWriter.h"
#include "support/JpegWriter.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::RecordingView;
using test::Pattern;
using test::TempDir;

void WriteBmp(const std::string& path, int width, int height, const std::vector<std::uint8_t>& bgr) {
  test::WriteFile(path, test::MakeBmp24(width, height, bgr));
}

void WriteBmp(const std::string& path, int seed, int side = 4) {
  WriteBmp(path, side, side, Pattern(side, side, seed));
}

struct Search {
  Settings settings;
  RecordingView view{settings};
  SearchSession session{view, settings, PluginFlags{}};

  explicit Search(const std::string& folder, bool subFolders = false) {
    view.folderText = folder;
    settings.EnableSubFolder = subFolders;
  }
  std::vector<std::string> RecordNames() const { return test::NamesOf(session.records()); }
  // Fires `action` once, at the pump that follows the progress text `status`.
  void AtStatus(const std::string& status, std::function<void()> action) {
    view.onPump = [this, status, action, fired = false]() mutable {
      if (!fired && !view.statusTexts.empty() && view.statusTexts.back() == status) {
        fired = true;
        action();
      }
    };
  }
};

TEST(SearchSessionTest, EveryPhaseCallsTheViewInOrderWithTheExactTexts) {
  TempDir dir;
  WriteBmp(dir.File("a.bmp"), 1);
  std::vector<std::uint8_t> nearCopy = Pattern(4, 4, 1);
  nearCopy[0] ^= 1;  // other pixels, almost the same signature
  WriteBmp(dir.File("b.bmp"), 4, 4, nearCopy);

  Search run(dir.path());
  run.session.OnStart();

  ASSERT_EQ(run.RecordNames(), (std::vector<std::string>{"a.bmp", "b.bmp"}));
  const std::string dateA = run.session.records()[0].date;
  const std::string dateB = run.session.records()[1].date;
  const std::vector<std::string> expected = {
      "CommitEdits", "SetStartButton 中止 on", "EnableCommands off", "ClearPanes", "ListDeleteAll",
      // first fill, no pumping
      "ListInsertRow 0 0", "ListSetText 0 1 a.bmp", "ListSetText 0 2 102", "ListSetText 0 3 " + dateA,
      "ListInsertRow 1 1", "ListSetText 1 1 b.bmp", "ListSetText 1 2 102", "ListSetText 1 3 " + dateB,
      // signatures
      "SetStatusText 検索中\n\r1/2", "SetInfoText 0 a.bmp", "SetInfoText 1 -", "SetLeftImage a.bmp",
      "SetInfoText 0 a.bmp", "ListSetText 0 4 4", "ListSetText 0 5 4", "RepaintLeftPane", "PumpMessages",
      "SetStatusText 検索中\n\r2/2", "SetInfoText 0 b.bmp", "SetInfoText 1 -", "SetLeftImage b.bmp",
      "SetInfoText 0 b.bmp", "ListSetText 1 4 4", "ListSetText 1 5 4", "RepaintLeftPane", "PumpMessages",
      // ordering
      "PumpMessages", "SetStartButton 中止 off", "SetStatusText 比較中", "PumpMessages", "ListDeleteAll",
      "ListInsertRow 0 0", "ListSetText 0 1 a.bmp", "ListSetText 0 2 102", "ListSetText 0 3 " + dateA,
      "ListSetText 0 4 4", "ListSetText 0 5 4", "PumpMessages",
      "ListInsertRow 1 1", "ListSetText 1 1 b.bmp", "ListSetText 1 2 102", "ListSetText 1 3 " + dateB,
      "ListSetText 1 4 4", "ListSetText 1 5 4", "PumpMessages",
      // comparison
      "SetStatusText 比較中\n\r1/2", "PumpMessages",
      "ListSetText 0 6 ", "ListSetText 0 7 ", "ListSetText 0 8 ",
      "ListSetText 0 6 b.bmp", "ListSetText 0 7 1", "ListSetText 0 8 1",
      "ListSetText 1 6 ", "ListSetText 1 7 ", "ListSetText 1 8 ",
      "ListKeepSelectionVisible", "PumpMessages", "SortListByDifference 2", "PumpMessages",
      // finish
      "SelectFirstRow", "SetStartButton 開始 on", "EnableCommands on", "SetStatusText ",
  };
  EXPECT_EQ(run.view.log, expected);
  EXPECT_FALSE(run.session.searching());
  EXPECT_EQ(run.settings.SearchFolder, dir.path());

  // Information text before decoding has no dimensions, after it has them.
  ASSERT_EQ(run.view.infoTexts[0].size(), 4u);
  const std::string path = dir.File("a.bmp");
  EXPECT_EQ(run.view.infoTexts[0][0], path + "\r\n" + dateA + "\r\n\r\n102 BYTE ");
  EXPECT_EQ(run.view.infoTexts[0][1], path + "\r\n" + dateA + "\r\n( 4 * 4 )\r\n102 BYTE ");
  EXPECT_EQ(run.view.infoTexts[1][0], "");
  // The records carry their first-list positions and signatures.
  EXPECT_EQ(run.session.records()[1].index, 1);
  EXPECT_EQ(run.session.records()[0].digest.size(), 32u);
  EXPECT_NE(run.session.records()[0].digest, run.session.records()[1].digest);
}

// A tree of many kinds of file: BMPs and JPEGs of different sizes (so the
// digests finish at different times in the hashing lanes), grey JPEGs,
// undecodable and empty files, pictures too small for a grid, a sub-folder.
void WriteMixedTree(const TempDir& dir) {
  test::MakeDir(dir.File("sub"));
  for (int i = 0; i < 30; ++i) {
    const std::string folder = i % 3 == 0 ? "sub/" : "";
    const std::string stem = folder + "f" + std::to_string(10 + i);
    const int w = 3 + (i * 7) % 61;
    const int h = 2 + (i * 5) % 47;
    switch (i % 6) {
      case 0: WriteBmp(dir.File(stem + ".bmp"), w, h, Pattern(w, h, i)); break;
      case 1: test::WriteFile(dir.File(stem + ".jpg"), test::MakeJpeg(w, h, 3, Pattern(w, h, i))); break;
      case 2: {
        std::vector<std::uint8_t> grey = Pattern(w, h, i);
        grey.resize(static_cast<std::size_t>(w * h));
        test::WriteFile(dir.File(stem + ".jpg"), test::MakeJpeg(w, h, 1, grey));
        break;
      }
      case 3: test::WriteFile(dir.File(stem + ".bmp"), std::string("not a picture")); break;
      case 4: test::WriteFile(dir.File(stem + ".jpg"), std::string()); break;
      default: WriteBmp(dir.File(stem + ".bmp"), i % 2 + 1, 2, Pattern(i % 2 + 1, 2, i)); break;
    }
  }
  // A copy, so that the comparison has a known pair to find.
  test::WriteFile(dir.File("f99.bmp"), test::ReadFile(dir.File("sub/f10.bmp")));
  // One fixed modification time: the trees compared are written at different
  // moments, and a date that ticks over in between must not tell them apart.
  const timespec fixed[2] = {{1600000000, 0}, {1600000000, 0}};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    if (entry.is_regular_file()) {
      EXPECT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), fixed, 0), 0);
    }
  }
}

// Everything a run leaves behind that the thread count must not change.
struct RunTrace {
  std::vector<std::string> log;
  std::vector<ResultRow> rows;
  test::Bytes cacheRoot, cacheSub;
};

// `stopAfter` > 0: a close request at the first pump after that many files.
// `offThread`: decoding never on the calling thread, as in the window.
RunTrace SearchWithJobs(const TempDir& dir, int jobs, bool offThread, std::size_t stopAfter) {
  Search run(dir.path(), true);
  run.session.SetJobs(jobs);
  run.session.SetDecodeOffCallingThread(offThread);
  if (stopAfter > 0) {
    run.view.onPump = [&] {
      if (run.view.statusTexts.size() >= stopAfter) run.session.RequestStop();
    };
  }
  run.session.OnStart();
  return {run.view.log, run.view.table.rows(), test::ReadFile(CachePathFor(dir.path())),
          test::ReadFile(CachePathFor(dir.File("sub")))};
}

TEST(SearchSessionTest, ThreadCountChangesNothingTheViewOrTheCacheSees) {
  // Each thread count starts from the same cache state: none, then what a
  // stopped run left, then a full one (every signature reused).
  std::vector<RunTrace> traces[3];
  for (const auto& [jobs, offThread] : {std::pair{1, false}, {1, true}, {2, false}, {5, false}}) {
    SCOPED_TRACE(jobs);
    TempDir dir;
    WriteMixedTree(dir);
    traces[0].push_back(SearchWithJobs(dir, jobs, offThread, 17));
    traces[1].push_back(SearchWithJobs(dir, jobs, offThread, 0));
    traces[2].push_back(SearchWithJobs(dir, jobs, offThread, 0));
  }
  for (const std::vector<RunTrace>& runs : traces) {
    ASSERT_FALSE(runs[0].cacheRoot.empty());
    ASSERT_FALSE(runs[0].cacheSub.empty());
    for (std::size_t k = 1; k < runs.size(); ++k) {
      EXPECT_EQ(runs[k].log, runs[0].log);
      EXPECT_EQ(runs[k].rows, runs[0].rows);
      EXPECT_EQ(runs[k].cacheRoot, runs[0].cacheRoot);
      EXPECT_EQ(runs[k].cacheSub, runs[0].cacheSub);
    }
  }
  // The stopped run kept a part of the files (how many depends on where the
  // undecodable ones fall), and the known pair was found once the search
  // ran to its end.
  EXPECT_GE(traces[0][0].rows.size(), 17u);
  EXPECT_LT(traces[0][0].rows.size(), 31u);
  EXPECT_EQ(traces[1][0].rows.size(), 31u);
  const ResultRow& top = traces[1][0].rows.front();
  EXPECT_EQ(top[kColumnDifference], "0");
  EXPECT_TRUE((top[kColumnName] == "f10.bmp") != (top[kColumnName] == "f99.bmp"));
}

TEST(SearchSessionTest, StopAfterTheThirdFileKeepsExactlyTheFirstThree) {
  TempDir dir;
  for (int i = 0; i < 5; ++i) WriteBmp(dir.File(std::string(1, char('a' + i)) + ".bmp"), i + 1);
  Search run(dir.path());
  run.AtStatus("検索中\n\r3/5", [&] { run.session.OnStart(); });
  run.session.OnStart();

  EXPECT_EQ(run.view.Calls("AskYesNo"), (std::vector<std::string>{"AskYesNo 処理を中止します。 確認"}));
  EXPECT_TRUE(run.session.stopRequested());
  EXPECT_EQ(run.session.stopIndex(), 3);
  EXPECT_EQ(run.view.loads, 3);
  EXPECT_EQ(run.RecordNames(), (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp"}));
  EXPECT_EQ(run.view.Calls("ListDeleteRow"),
            (std::vector<std::string>{"ListDeleteRow 3", "ListDeleteRow 3"}));
  EXPECT_EQ(run.view.table.RowCount(), 3);
  EXPECT_EQ(run.view.Calls("SortListByDifference"), (std::vector<std::string>{"SortListByDifference 3"}));
  for (const std::string& status : run.view.statusTexts) EXPECT_NE(status, "検索中\n\r4/5");
  EXPECT_EQ(run.view.log.back(), "SetStatusText ");
}

// A window handles its events while it waits for a picture decoded
// elsewhere: a stop confirmed then still lets the file waited for be shown
// and kept, and is honoured before the next file.
TEST(SearchSessionTest, StopDuringTheWaitForAFileKeepsThatFile) {
  TempDir dir;
  for (int i = 0; i < 5; ++i) WriteBmp(dir.File(std::string(1, char('a' + i)) + ".bmp"), i + 1);
  for (const int jobs : {1, 2}) {
    SCOPED_TRACE(jobs);
    Search run(dir.path());
    run.session.SetJobs(jobs);
    run.session.SetDecodeOffCallingThread(true);
    run.settings.EnableCache = false;
    run.view.onWait = [&] {
      if (run.view.statusTexts.back() == "検索中\n\r2/5") run.session.OnStart();
    };
    run.session.OnStart();
    EXPECT_EQ(run.view.Calls("AskYesNo").size(), 1u);
    EXPECT_EQ(run.view.loads, 2);
    EXPECT_EQ(run.RecordNames(), (std::vector<std::string>{"a.bmp", "b.bmp"}));
    EXPECT_EQ(run.view.Calls("ListSetText 1 4"), (std::vector<std::string>{"ListSetText 1 4 4", "ListSetText 1 4 4"}));
  }
}

TEST(SearchSessionTest, AfterAStopTheNextFolderIsRewrittenWithItsFirstFileAlone) {
  // The stop arrives while the first or the last file of the first folder
  // is on show.
  for (const int kept : {1, 2}) {
    SCOPED_TRACE(kept);
    TempDir dir;
    test::MakeDir(dir.File("sub"));
    WriteBmp(dir.File("a.bmp"), 1);
    WriteBmp(dir.File("b.bmp"), 2);
    WriteBmp(dir.File("sub/c.bmp"), 3);
    WriteBmp(dir.File("sub/d.bmp"), 4);
    Search run(dir.path(), true);
    run.AtStatus("検索中\n\r" + std::to_string(kept) + "/4", [&] { run.session.RequestStop(); });
    run.session.OnStart();

    ASSERT_EQ(run.RecordNames().size(), static_cast<std::size_t>(kept));
    EXPECT_EQ(run.session.stopIndex(), kept);
    EXPECT_EQ(run.view.Calls("ListDeleteRow").size(), static_cast<std::size_t>(4 - kept));
    // The first folder's cache has both files; the next folder's, a file
    // with its first file alone, unsigned.
    const std::string first = run.session.records()[0].folder;
    const std::string next = first == dir.path() ? dir.File("sub") : dir.path();
    FileList entries;
    ASSERT_EQ(ReadCacheFile(CachePathFor(first), first, entries), 0);
    EXPECT_EQ(entries.size(), 2u);
    ASSERT_EQ(ReadCacheFile(CachePathFor(next), next, entries), 0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].width, 0);
  }
}

TEST(SearchSessionTest, APressQueuedWhenOrderingBeginsIsAskedButNoLongerStops) {
  TempDir dir;
  for (int i = 0; i < 3; ++i) WriteBmp(dir.File(std::string(1, char('a' + i)) + ".bmp"), i + 1);
  Search run(dir.path());
  // The first pump right after another pump is the one that opens the ordering.
  run.view.onPump = [&, fired = false]() mutable {
    const auto& log = run.view.log;
    if (!fired && log.size() >= 2 && log[log.size() - 2] == "PumpMessages") {
      fired = true;
      run.session.OnStart();
    }
  };
  run.session.OnStart();

  EXPECT_EQ(run.view.Calls("AskYesNo").size(), 1u);
  EXPECT_TRUE(run.session.stopRequested());
  EXPECT_EQ(run.view.table.RowCount(), 3);
  EXPECT_TRUE(run.view.Calls("ListDeleteRow").empty());
}

TEST(SearchSessionTest, UndecodableFileStaysListedWithoutSignatureOrPartner) {
  TempDir dir;
  WriteBmp(dir.File("a.bmp"), 1);
  test::WriteFile(dir.File("bad.bmp"), std::string("BM but nothing else"));
  test::WriteFile(dir.File("c.bmp"), test::ReadFile(dir.File("a.bmp")));  // identical to a
  Search run(dir.path());
  run.session.OnStart();

  // A failed decode returns at once: no repaint and no pump for that file.
  const auto& log = run.view.log;
  const auto failed = std::find(log.begin(), log.end(), "SetLeftImage bad.bmp failed");
  ASSERT_NE(failed, log.end());
  EXPECT_EQ(*(failed + 1), "SetStatusText 検索中\n\r3/3");

  ASSERT_EQ(run.view.table.RowCount(), 3);
  // Sorted by difference: a (0 to c) first, then the rows without partner.
  const auto& rows = run.view.table.rows();
  EXPECT_EQ(rows[0][kColumnName], "a.bmp");
  EXPECT_EQ(rows[0][kColumnPartnerName], "c.bmp");
  EXPECT_EQ(rows[0][kColumnDifference], "0");
  EXPECT_EQ(rows[1][kColumnName], "bad.bmp");
  EXPECT_EQ(rows[1][kColumnWidth], "0");
  EXPECT_EQ(rows[1][kColumnHeight], "0");
  EXPECT_EQ(rows[1][kColumnDifference], "");
  EXPECT_EQ(run.session.records()[1].partner, -1);
}

// The scan tells the cache writes which folders hold temporary cache files;
// a search removes the one a killed search left in a sub-folder.
TEST(SearchSessionTest, TemporaryLeftByAKilledSearchGoes) {
  TempDir dir;
  WriteBmp(dir.File("a.bmp"), 1);
  test::MakeDir(dir.File("S"));
  WriteBmp(dir.File("S/b.bmp"), 2);
  const std::string stray = dir.File("S/_cache.nrv." + std::to_string(::getpid()) + ".7.tmp");
  test::WriteFile(stray, std::string("x"));
  const timeval hourAgo[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimes(stray.c_str(), hourAgo), 0);
  Search run(dir.path(), true);
  run.session.OnStart();
  EXPECT_EQ(test::FolderEntries(dir.File("S")), (std::vector<std::string>{"_cache.nrv", "b.bmp"}));
}

TEST(SearchSessionTest, OverlongFolderTextIsRefusedBeforeAnythingChanges) {
  Search run("/" + std::string(kMaxFolderText, 'x'));
  run.session.OnStart();
  EXPECT_EQ(run.view.log,
            (std::vector<std::string>{"CommitEdits", "Inform " + std::string(kFolderTooLongText) + " 情報"}));
  EXPECT_FALSE(run.session.searching());
  // A text of exactly the longest length is searched like any other.
  Search longest("/" + std::string(kMaxFolderText - 1, 'x'));
  longest.session.OnStart();
  ASSERT_GE(longest.view.log.size(), 2u);
  EXPECT_EQ(0u, longest.view.log[1].rfind("SetStartButton", 0));
}


}  // namespace
}  // namespace norvane
