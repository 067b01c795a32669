#include "search/SearchSession.h"

#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>

#include "cache/CacheFile.h"
#include "search/RecordOrder.h"
#include "search/RecordingView.h"
#include "support/BmpWriter.h"
#include "support/JpegWriter.h"
#include "support/TempDir.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using namespace test;
using Strings = std::vector<std::string>;

void WriteBmp(const std::string& path, int seed, int width = 4, int height = 4) {
  test::WriteFile(path, test::MakeBmp24(width, height, Pattern(width, height, seed)));
}

struct Search {
  Settings settings;
  test::RecordingView view{settings};
  SearchSession session{view, settings, PluginFlags{}};

  explicit Search(const std::string& text, bool sub = false) { view.folderText = text; settings.EnableSubFolder = sub; }
  // Runs `action` once, at the first pump or wait after the status `status`.
  void At(const std::string& status, std::function<void()> action, bool inWait = false) {
    (inWait ? view.onWait : view.onPump) = [this, status, action, fired = false]() mutable {
      if (!fired && !view.statusTexts.empty() && view.statusTexts.back() == status) { fired = true; action(); }
    };
  }
};

// A press still queued when the ordering begins is asked about but no longer
// stops anything.
TEST(SearchSessionTest, EveryPhaseCallsTheViewInOrderWithTheExactTexts) {
  TempDir dir;
  WriteBmp(dir.File("a.bmp"), 1);
  std::vector<std::uint8_t> nearCopy = Pattern(4, 4, 1);
  nearCopy[0] ^= 1;  // other pixels, almost the same signature
  test::WriteFile(dir.File("b.bmp"), test::MakeBmp24(4, 4, nearCopy));
  Search run(dir.path());
  run.At("比較中", [&] { run.session.OnStart(); });
  run.session.OnStart();

  ASSERT_EQ(test::NamesOf(run.session.records()), (Strings{"a.bmp", "b.bmp"}));
  const std::string a = run.session.records()[0].date, b = run.session.records()[1].date;
  const auto info = [&](const char* name, const std::string& date, const char* dims) {
    return "SetInfoText 0 " + dir.File(name) + "\r\n" + date + "\r\n" + dims + "\r\n102 BYTE ";
  };
  const Strings expected = {
      "CommitEdits", "SetStartButton 中止 on", "EnableCommands off", "ClearPanes", "ListDeleteAll",
      // first fill, no pumping
      "ListInsertRow 0 0", "ListSetText 0 1 a.bmp", "ListSetText 0 2 102", "ListSetText 0 3 " + a,
      "ListInsertRow 1 1", "ListSetText 1 1 b.bmp", "ListSetText 1 2 102", "ListSetText 1 3 " + b,
      // signatures
      "SetStatusText 検索中\n\r1/2", info("a.bmp", a, ""), "SetInfoText 1 ", "SetLeftImage a.bmp",
      info("a.bmp", a, "( 4 * 4 )"), "ListSetText 0 4 4", "ListSetText 0 5 4", "RepaintLeftPane", "PumpMessages",
      "SetStatusText 検索中\n\r2/2", info("b.bmp", b, ""), "SetInfoText 1 ", "SetLeftImage b.bmp",
      info("b.bmp", b, "( 4 * 4 )"), "ListSetText 1 4 4", "ListSetText 1 5 4", "RepaintLeftPane", "PumpMessages",
      // ordering, with the press asked about
      "PumpMessages", "SetStartButton 中止 off", "SetStatusText 比較中", "PumpMessages",
      "AskYesNo 処理を中止します。 確認", "ListDeleteAll", "ListInsertRow 0 0", "ListSetText 0 1 a.bmp",
      "ListSetText 0 2 102", "ListSetText 0 3 " + a, "ListSetText 0 4 4", "ListSetText 0 5 4", "PumpMessages",
      "ListInsertRow 1 1", "ListSetText 1 1 b.bmp", "ListSetText 1 2 102", "ListSetText 1 3 " + b,
      "ListSetText 1 4 4", "ListSetText 1 5 4", "PumpMessages",
      // comparison
      "SetStatusText 比較中\n\r1/2", "PumpMessages", "ListSetText 0 6 ", "ListSetText 0 7 ", "ListSetText 0 8 ",
      "ListSetText 0 6 b.bmp", "ListSetText 0 7 1", "ListSetText 0 8 1", "ListSetText 1 6 ", "ListSetText 1 7 ",
      "ListSetText 1 8 ", "ListKeepSelectionVisible", "PumpMessages", "SortListByDifference 2", "PumpMessages",
      // finish
      "SelectFirstRow", "SetStartButton 開始 on", "EnableCommands on", "SetStatusText ",
  };
  EXPECT_EQ(run.view.log, expected);
  EXPECT_FALSE(run.session.searching());
  EXPECT_NE(run.session.records()[0].digest, run.session.records()[1].digest);
}

// BMPs and JPEGs of different sizes (so the digests finish at different times
// in the hashing lanes), grey JPEGs, undecodable and empty files, pictures
// too small for a grid, a sub-folder, and a copy to find. Each thread count
// starts from the same cache state: none, then what a stopped run left, then
// a full one (every signature reused).
TEST(SearchSessionTest, ThreadCountChangesNothingTheViewOrTheCacheSees) {
  TempDir dir;
  test::MakeDir(dir.File("sub"));
  for (int i = 0; i < 30; ++i) {
    const std::string path = dir.File((i % 3 == 0 ? "sub/f" : "f") + std::to_string(10 + i));
    const int w = 3 + (i * 7) % 61, h = 2 + (i * 5) % 47;
    const std::vector<std::uint8_t> pixels = Pattern(w, h, i);
    if (i % 6 == 0) WriteBmp(path + ".bmp", i, w, h);
    if (i % 6 == 1) test::WriteFile(path + ".jpg", test::MakeJpeg(w, h, 3, pixels));
    if (i % 6 == 2) test::WriteFile(path + ".jpg", test::MakeJpeg(w, h, 1, {pixels.begin(), pixels.begin() + w * h}));
    if (i % 6 == 3) test::WriteFile(path + ".bmp", std::string("not a picture"));
    if (i % 6 == 4) test::WriteFile(path + ".jpg", std::string());
    if (i % 6 == 5) WriteBmp(path + ".bmp", i, i % 2 + 1, 2);
  }
  test::WriteFile(dir.File("f99.bmp"), test::ReadFile(dir.File("sub/f10.bmp")));
  const std::string root = CachePathFor(dir.path()), sub = CachePathFor(dir.File("sub"));
  std::vector<std::tuple<Strings, std::vector<ResultRow>, test::Bytes, test::Bytes>> first;
  for (const auto& [jobs, offThread] : {std::pair{1, false}, {1, true}, {2, false}, {5, false}}) {
    for (const std::string& cache : {root, sub}) ::unlink(cache.c_str());
    for (std::size_t k = 0; k < 3; ++k) {
      SCOPED_TRACE(std::to_string(jobs) + (offThread ? " off the thread, run " : ", run ") + std::to_string(k));
      Search run(dir.path(), true);
      run.session.SetJobs(jobs);
      run.session.SetDecodeOffCallingThread(offThread);
      if (k == 0) run.view.onPump = [&] {  // a close request after the 17th file
        if (run.view.statusTexts.size() >= 17) run.session.RequestStop();
      };
      run.session.OnStart();
      const auto trace = std::tuple(run.view.log, run.view.table.TextRows(), test::ReadFile(root), test::ReadFile(sub));
      if (first.size() < 3) first.push_back(trace);
      EXPECT_EQ(trace, first[k]);
    }
  }
  // The stopped run kept a part of the files, the next all of them.
  EXPECT_LT(std::get<1>(first[0]).size(), std::get<1>(first[1]).size());
  EXPECT_EQ(std::get<1>(first[1]).size(), 31u);
}

// A stop confirmed in the pump after a file or while the window waits for a
// file decoded elsewhere, or a close request, keeps the file on show and is
// honoured before the next. The stopped folder's cache keeps every file; the
// next folder's is rewritten with its first file alone, unsigned.
TEST(SearchSessionTest, StopDuringTheWaitForAFileKeepsThatFileAndRewritesTheNextFolder) {
  for (const auto& [how, jobs, kept] : {std::tuple<std::string, int, int>{"close", 1, 1}, {"close", 1, 2},
                                        {"pump", 1, 2}, {"wait", 1, 2}, {"wait", 2, 1}}) {
    SCOPED_TRACE(how + " jobs " + std::to_string(jobs));
    TempDir dir;
    test::MakeDir(dir.File("sub"));
    for (const char* name : {"a.bmp", "b.bmp", "sub/c.bmp", "sub/d.bmp"}) WriteBmp(dir.File(name), name[0]);
    Search run(dir.path(), true);
    run.session.SetJobs(jobs);
    run.session.SetDecodeOffCallingThread(how == "wait");
    const std::string k = std::to_string(kept), row = std::to_string(kept - 1);
    const auto press = [&] { how == "close" ? run.session.RequestStop() : run.session.OnStart(); };
    run.At("検索中\n\r" + k + "/4", press, how == "wait");
    run.session.OnStart();
    EXPECT_EQ(run.view.Calls("AskYesNo"), how == "close" ? Strings{} : Strings{"AskYesNo 処理を中止します。 確認"});
    EXPECT_EQ(run.session.stopIndex(), kept);
    EXPECT_EQ(test::NamesOf(run.session.records()), (kept == 1 ? Strings{"c.bmp"} : Strings{"c.bmp", "d.bmp"}));
    Strings deletions;
    for (int r = 3; r >= kept; --r) deletions.push_back("ListDeleteRow " + std::to_string(r));
    EXPECT_EQ(run.view.Calls("ListDeleteRow"), deletions);
    EXPECT_EQ(run.view.Calls("ListSetText " + row + " 4"), Strings(2, "ListSetText " + row + " 4 4"));
    EXPECT_EQ(run.view.Calls("SortListByDifference"), Strings{"SortListByDifference " + k});
    FileList stopped, next;
    ASSERT_EQ(ReadCacheFile(CachePathFor(dir.File("sub")), dir.path(), stopped), 0);
    ASSERT_EQ(ReadCacheFile(CachePathFor(dir.path()), dir.path(), next), 0);
    EXPECT_EQ(test::NamesOf(stopped), (Strings{"c.bmp", "d.bmp"}));
    EXPECT_EQ(std::make_tuple(test::NamesOf(next), next.at(0).width), std::make_tuple(Strings{"a.bmp"}, 0));
  }
}

// The scan tells the cache writes which folders hold temporary cache files;
// a search removes the one a killed search left in a sub-folder.
TEST(SearchSessionTest, TemporaryLeftByAKilledSearchGoes) {
  TempDir dir;
  WriteBmp(dir.File("a.bmp"), 1);
  MakeDir(dir.File("S"));
  WriteBmp(dir.File("S/b.bmp"), 2);
  const std::string stray = dir.File("S/_cache.nrv." + std::to_string(::getpid()) + ".7.tmp");
  WriteFile(stray, std::string("x"));
  const timeval hourAgo[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimes(stray.c_str(), hourAgo), 0);
  Search run(dir.path(), true);
  run.session.OnStart();
  EXPECT_EQ(FolderEntries(dir.File("S")), (Strings{"_cache.nrv", "b.bmp"}));
}

// A text of exactly the longest length is searched like any other; a longer
// one is refused before anything changes.
TEST(SearchSessionTest, OverlongFolderTextIsRefusedBeforeAnythingChanges) {
  Search run("/" + std::string(kMaxFolderText, 'x'));
  run.session.OnStart();
  EXPECT_EQ(run.view.log, (Strings{"CommitEdits", "Inform " + std::string(kFolderTooLongText) + " 情報"}));
  EXPECT_FALSE(run.session.searching());
  Search longest("/" + std::string(kMaxFolderText - 1, 'x'));
  longest.session.OnStart();
  ASSERT_GE(longest.view.log.size(), 2u);
  EXPECT_EQ(longest.view.log[1], "SetStartButton 中止 on");
}

// Each mode orders by its key alone and keeps the scan order among equal
// keys, in both directions: records a and c share size and date, a and e the
// width, f to t the size, and i to t (more than a sort takes one at a time)
// every key. Names and dates compare as unsigned bytes (0x80 and above after
// ASCII, a proper prefix first), the numbers as signed values. Modes 0 and 11
// keep the scan order.
TEST(RecordOrderTest, EveryModeOrdersByItsKeyAndKeepsScanOrderAmongEqualKeys) {
  std::vector<std::tuple<std::string, std::int32_t, std::string, std::int32_t, std::int32_t>> scanned = {
      {"b.jpg", 300, "2024/01/02 10:00:00", 640, 480}, {"d.jpg", 100, "2023/12/31 23:59:59", 0, 0},
      {"B.jpg", 300, "2024/01/02 10:00:00", 800, 600}, {"a.jpg", 200, "2025/06/01 00:00:00", 320, 240},
      {"c.jpg", -5, "2024/01/02 09:59:59", 640, 1000}, {"\xc3\xa9", 7, "\xc3\xa9", -1, -1},
      {"\x80.jpg", 7, "\x80", -1, -1}, {"\x80", 7, "2024/01/02 10:00:00x", -1, -1}};
  scanned.insert(scanned.end(), 12, {"t", 7, "t", 7, 7});
  // The scan positions, as letters, in the order of each mode.
  const char* expected[] = {
      "abcdefghijklmnopqrst", "cdaebijklmnopqrsthgf", "fghijklmnopqrstbeadc", "efghijklmnopqrstbdac",
      "acdbfghijklmnopqrste", "beachdijklmnopqrstgf", "fgijklmnopqrstdhaceb", "fghbijklmnopqrstdaec",
      "caedijklmnopqrstbfgh", "fghbijklmnopqrstdace", "ecadijklmnopqrstbfgh", "abcdefghijklmnopqrst"};
  for (int mode = 0; mode <= 11; ++mode) {
    FileList list;
    for (const auto& [name, size, date, width, height] : scanned) {
      FileRecord& r = list.emplace_back();
      std::tie(r.name, r.size, r.date, r.width, r.height) = std::tie(name, size, date, width, height);
      r.index = static_cast<std::int32_t>(list.size()) - 1;
    }
    SortRecords(list, mode);
    std::string order;
    for (const FileRecord& r : list) order += static_cast<char>('a' + r.index);
    EXPECT_EQ(order, expected[mode]) << "mode " << mode;
  }
}

}  // namespace
}  // namespace norvane
