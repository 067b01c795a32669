// The settings file: values read as the profile routine reads them, user
// lines kept, and a file that cannot be read or written never replaced.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <tuple>

#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

TEST(IniFileTest, EveryValueReadsBackExactly) {
  // Reading trims blanks and takes off one pair of quotes.
  EXPECT_EQ("\"unbalanced", IniFile::Parse("[S]\nk= \"unbalanced \n").Get("S", "k"));
  IniFile written;
  for (const std::string value : {"", " lead", "trail\t", "\"quoted\"", "'single'", "\"", "a;b # c", "é/日本"}) {
    ASSERT_TRUE(written.Set("S", "k", value));
    EXPECT_EQ(value, IniFile::Parse(written.Text()).Get("S", "k")) << "[" << value << "]";
  }
}

TEST(IniFileTest, KeysAreFoundAndSetWithinTheirOwnSectionOnly) {
  IniFile file = IniFile::Parse("k=0\n[AB]\nk=1\n[A]\nx=2\n[B]\nk=3\n[A]\nk=4\n");
  // Not from the next section, nor a later [A]; names match without regard to case.
  using Value = std::optional<std::string>;
  EXPECT_EQ((std::vector<Value>{file.Get("A", "k"), file.Get("b", "K"), file.Get("AB", "k"), file.Get("", "k")}),
            (std::vector<Value>{std::nullopt, "3", "1", std::nullopt}));
  ASSERT_TRUE(file.Set("A", "k", "9"));
  EXPECT_EQ("k=0\n[AB]\nk=1\n[A]\nx=2\nk=9\n[B]\nk=3\n[A]\nk=4\n", file.Text());
}

std::string ReadText(const std::string& path) {
  const test::Bytes bytes = test::ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

class SettingsFileTest : public ::testing::Test {
 protected:
  // Loads the settings file, after writing `text` into it if given.
  Settings Load(const std::optional<std::string>& text = {}, SettingsResult expected = SettingsResult::Ok) {
    if (text) test::WriteFile(path_, *text);
    Settings settings;
    settings.SettingsFile = path_;
    EXPECT_EQ(expected, LoadSettings(settings));
    return settings;
  }

  test::ScopedEnv home_{"HOME", "/home/tester"};
  test::TempDir dir_;
  std::string path_ = dir_.File("Norvane.ini");
};

TEST_F(SettingsFileTest, ValuesAreReadLikeTheProfileRoutineAndTheRatioIsClamped) {
  // Digits up to the first other character, wrapping at 32 bits; an empty
  // value or a key of another section leaves the default; weights are
  // unsigned thousandths.
  const Settings s = Load("[General]\nThresHold=  42 \nInitialSort=12abc\nEnableCache=0\nGotoTrashBox=-5\nWeightV=250\n"
                          "weighta =  -1\nEnableSubFolder=\n[Other]\nEnableConfirm=0\n[WindowPos]\nLeft=0x10\n"
                          "Top=2147483648\nRight=\nImgHeightRatio=90\n");
  EXPECT_EQ(std::tie(s.ThresHold, s.InitialSort, s.EnableCache, s.GotoTrashBox, s.WeightV, s.WeightA, s.EnableSubFolder,
                     s.EnableConfirm, s.Left, s.Top, s.Right, s.ImgHeightRatio),
            std::make_tuple(42, 12, false, true, 0.25, 4294967295.0 * 0.001, true, true, 0, -2147483647 - 1, 900, 85));
  for (const auto& [text, ratio] : {std::pair{"85", 85}, {"20", 20}, {"-40", 20}})
    EXPECT_EQ(ratio, Load(std::string("[WindowPos]\nImgHeightRatio=") + text + "\n").ImgHeightRatio) << text;
}

TEST_F(SettingsFileTest, FolderTextCannotInjectAKey) {
  Settings s = Load("[General]\nMoveFolder=/old\n");
  const std::string folders[] = {"/tmp\n[General]\nThresHold=1", "/tmp\rThresHold=1", std::string("/tmp\0/x", 7)};
  for (const std::string& folder : folders) {
    s.MoveFolder = folder;
    EXPECT_EQ(folder[4] ? SettingsResult::TextHasLineBreak : SettingsResult::TextHasNul, SaveSettings(s));
  }
  EXPECT_EQ(std::pair(Load().MoveFolder, Load().ThresHold), std::pair(std::string("/old"), 100));
  EXPECT_EQ(ReadText(path_).find("[General]"), ReadText(path_).rfind("[General]"));
}

TEST_F(SettingsFileTest, FileThatCannotBeWrittenOrReadIsNeverReplaced) {
  const std::string old = "[General]\nThresHold=12\n";
  // What is in the way; the modes of file and folder (root passes every
  // permission check: the write bits decide); the bytes a write may reach;
  // the size the file grows to, sparse.
  const std::tuple<const char*, mode_t, mode_t, rlim_t, off_t> cases[] = {{"read-only file", 0444, 0755, RLIM_INFINITY, 0},
               {"read-only folder", 0644, 0555, RLIM_INFINITY, 0},
               {"write cut off", 0644, 0755, 64, 0},
               {"too large to read", 0644, 0755, RLIM_INFINITY, kMaxIniFileBytes + 1}};
  for (const auto& [what, fileMode, folderMode, sizeLimit, size] : cases) {
    SCOPED_TRACE(what);
    test::WriteFile(path_, old);
    ASSERT_EQ(0, truncate(path_.c_str(), size ? size : static_cast<off_t>(old.size())));
    Settings s = Load({}, size ? SettingsResult::CannotRead : SettingsResult::Ok);
    s.SearchFolder = std::string(3000, 'a');  // a new file far bigger than the size limit
    ASSERT_EQ(0, chmod(path_.c_str(), fileMode));
    ASSERT_EQ(0, chmod(dir_.path().c_str(), folderMode));
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    const rlimit limit{std::min(sizeLimit, saved.rlim_max), saved.rlim_max};
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of ending the test
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
    EXPECT_EQ(size ? SettingsResult::CannotRead : SettingsResult::CannotWrite, SaveSettings(s));
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
    ASSERT_EQ(0, chmod(dir_.path().c_str(), 0755));
    ASSERT_EQ(0, chmod(path_.c_str(), 0644));
    EXPECT_EQ(old, ReadText(path_).substr(0, old.size()));
    EXPECT_EQ(std::vector<std::string>{"Norvane.ini"}, test::FolderEntries(dir_.path()));
  }
  // A FIFO in its place is neither read nor replaced.
  ASSERT_EQ(0, unlink(path_.c_str()));
  ASSERT_EQ(0, mkfifo(path_.c_str(), 0644));
  EXPECT_EQ(SettingsResult::CannotRead, SaveSettings(Load({}, SettingsResult::CannotRead)));
  EXPECT_TRUE(std::filesystem::is_fifo(path_));
}

TEST_F(SettingsFileTest, SaveKeepsUserLinesByteForByteAndWritesThroughSymbolicLinks) {
  // A relative link to a file whose last line has no line break.
  test::MakeDir(dir_.File("real"));
  ASSERT_EQ(0, symlink("real/kept.ini", path_.c_str()));
  Settings s = Load("; by hand\r\n[general]\r\nthresHold = 55\r\nMine=  spaced  \r\nWeightV=250\r\n\r\n[WindowPos]\r\nMine=1");
  EXPECT_EQ(55, s.ThresHold);
  s.ThresHold = 60;
  s.SearchFolder = "/data/photos";
  s.ImgHeightRatio = 90;
  s.WeightV = s.WeightA = 9;  // never written, nor is the language
  s.Language = "ja";
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(s));
  const std::string once = ReadText(dir_.File("real/kept.ini"));
  EXPECT_EQ("; by hand\r\n[general]\r\nthresHold=60\r\nMine=  spaced  \r\nWeightV=250\r\nSearchFolder=/data/photos\r\n"
            "MoveFolder=/home/tester\r\nEnableSubFolder=1\r\nEnableConfirm=1\r\nInitialSort=0\r\nEnableCache=1\r\n"
            "GotoTrashBox=0\r\n\r\n[WindowPos]\r\nMine=1\r\nLeft=100\r\nTop=100\r\nRight=900\r\nBottom=800\r\n"
            "ImgHeightRatio=85\r\n",
            once);
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(Load()));  // a second save changes nothing
  EXPECT_EQ(once, ReadText(dir_.File("real/kept.ini")));
  // A dangling relative link through a second link: the target is made.
  ASSERT_EQ(0, unlink(path_.c_str()));
  ASSERT_EQ(0, symlink("hop", path_.c_str()));
  ASSERT_EQ(0, symlink("real/new.ini", dir_.File("hop").c_str()));
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(s));
  EXPECT_EQ(0u, ReadText(dir_.File("real/new.ini")).find("[General]\n"));
  EXPECT_EQ(60, Load().ThresHold);
  EXPECT_TRUE(std::filesystem::is_symlink(path_) && std::filesystem::is_symlink(dir_.File("hop")));
  // A loop of links is refused, and the links stay as they are.
  ASSERT_EQ(0, unlink(path_.c_str()));
  ASSERT_EQ(0, symlink("Norvane.ini", path_.c_str()));
  EXPECT_EQ(ELOOP, ReplaceFileAtomically(path_, "x"));
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
}

TEST_F(SettingsFileTest, RefusedFolderLineStartsEmptyAndSurvivesASave) {
  const std::string longSearch = "SearchFolder=/" + std::string(kMaxFolderText, 's') + "\r\n";
  const std::string longMove = "MoveFolder= /" + std::string(kMaxFolderText, 'm') + "\r\n";
  Settings s = Load("[General]\r\n" + longSearch + longMove + "ThresHold=9\r\n", SettingsResult::TextTooLong);
  // Neither folder falls back to the home folder, which the user never chose.
  EXPECT_EQ(std::tie(s.SearchFolder, s.MoveFolder, s.ThresHold, s.RefusedKeys),
            std::make_tuple("", "", 9, std::vector<std::string>{"SearchFolder", "MoveFolder"}));
  // Unchanged, both lines are written back byte for byte; a folder the user
  // chose in the meantime replaces its line.
  s.ThresHold = 10;
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(s));
  EXPECT_EQ(0u, ReadText(path_).find("[General]\r\n" + longSearch + longMove + "ThresHold=10\r\n"));
  s.MoveFolder = "/chosen";
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(s));
  EXPECT_EQ(0u, ReadText(path_).find("[General]\r\n" + longSearch + "MoveFolder=/chosen\r\n"));
  // A text of exactly the longest length is a folder like any other.
  const std::string longest = "/" + std::string(kMaxFolderText - 1, 'k');
  s = Load("[General]\nMoveFolder=" + longest + "\n");
  EXPECT_EQ(longest, s.MoveFolder);
  s.SearchFolder = longest;
  EXPECT_EQ(SettingsResult::Ok, SaveSettings(s));
}

}  // namespace
}  // namespace norvane
