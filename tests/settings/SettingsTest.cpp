#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include <cerrno>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

std::string ReadText(const std::string& path) {
  const test::Bytes bytes = test::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

class SettingsFileTest : public ::testing::Test {
 protected:
  Settings Load(const std::string& text, SettingsResult expected = SettingsResult::Ok) {
    test::WriteFile(path_, text);
    return LoadFile(expected);
  }
  Settings LoadFile(SettingsResult expected = SettingsResult::Ok) {
    Settings settings;
    settings.SettingsFile = path_;
    EXPECT_EQ(expected, LoadSettings(settings));
    return settings;
  }
  // Loads `text`, saves the result unchanged and gives the file's text.
  std::string LoadAndSave(const std::string& text) {
    const Settings settings = Load(text);
    EXPECT_EQ(SettingsResult::Ok, SaveSettings(settings));
    return ReadText(path_);
  }

  test::ScopedEnv home_{"HOME", "/home/tester"};
  test::TempDir dir_;
  std::string path_ = dir_.File("Norvane.ini");
};

TEST_F(SettingsFileTest, MissingFileGivesEveryDefault) {
  const Settings s = LoadFile();
  EXPECT_EQ(std::tie(s.SearchFolder, s.MoveFolder, s.ThresHold, s.EnableCache, s.InitialSort, s.EnableSubFolder,
                     s.EnableConfirm, s.GotoTrashBox, s.ImgHeightRatio, s.Left, s.Top, s.WeightV, s.WeightA),
            std::make_tuple("/home/tester", "/home/tester", 100, true, 0, true, true, false, 75, 100, 100, 1.0, 1.0));
  EXPECT_EQ(800, s.Right - s.Left);
  EXPECT_EQ(700, s.Bottom - s.Top);
  EXPECT_EQ(path_, s.SettingsFile);

  // Stale values in the record do not survive a load, and a file without
  // our sections behaves the same.
  Settings stale = Load("; nothing here\n[Elsewhere]\nThresHold=5\n");
  EXPECT_EQ(100, stale.ThresHold);
  stale.ThresHold = 7;
  stale.WeightV = 3;
  EXPECT_EQ(SettingsResult::Ok, LoadSettings(stale));
  EXPECT_EQ(100, stale.ThresHold);
  EXPECT_EQ(1.0, stale.WeightV);
}

TEST_F(SettingsFileTest, ImgHeightRatioIsClampedOnReadAndWrite) {
  const struct {
    const char* text;
    int read;
  } cases[] = {{"90", 85}, {"85", 85}, {"20", 20}, {"-40", 20}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.read, Load(std::string("[WindowPos]\nImgHeightRatio=") + c.text + "\n").ImgHeightRatio) << c.text;
  }
  EXPECT_NE(std::string::npos, LoadAndSave("[WindowPos]\nImgHeightRatio=90\n").find("\nImgHeightRatio=85\n"));
}

TEST_F(SettingsFileTest, IntegersReadLikeTheProfileRoutine) {
  const struct {
    const char* text;
    int value;
  } cases[] = {{"  42 ", 42}, {"12abc", 12}, {"0x10", 0}, {"", 100}, {"2147483648", -2147483647 - 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.value, Load(std::string("[General]\nThresHold=") + c.text + "\n").ThresHold) << c.text;
  }
  EXPECT_FALSE(Load("[General]\nEnableCache=0\n").EnableCache);
  EXPECT_TRUE(Load("[General]\nGotoTrashBox=-5\n").GotoTrashBox);
  EXPECT_FALSE(Load("[General]\nEnableConfirm=off\n").EnableConfirm);
}

TEST_F(SettingsFileTest, WeightsAndLanguageAreReadButNeverWritten) {
  Settings s = Load("[General]\nWeightV=250\nweighta =  -1\n");
  EXPECT_EQ(0.25, s.WeightV);
  EXPECT_EQ(4294967295.0 * 0.001, s.WeightA);  // the value is taken as unsigned
  EXPECT_EQ(0.0, Load("[General]\nWeightV=0\n").WeightV);

  s = Load("[General]\nWeightV=250\n[WindowPos]\nLanguage=de\n");
  EXPECT_EQ("", s.Language);  // only its own section counts
  s = Load("[General]\nWeightV=250\nlanguage = en\n");
  EXPECT_EQ("en", s.Language);
  s.WeightV = 9;
  s.WeightA = 9;
  s.Language = "ja";
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(s));
  const std::string saved = ReadText(path_);
  EXPECT_EQ("[General]\nWeightV=250\nlanguage = en\n", saved.substr(0, 36));
  EXPECT_EQ(std::string::npos, saved.find("WeightA"));
  EXPECT_EQ(0.25, LoadFile().WeightV);
}

TEST_F(SettingsFileTest, SaveKeepsUserLinesByteForByte) {
  const std::string before =
      "; written by hand\r\n"
      "[general]\r\n"
      "thresHold = 55\r\n"
      "MyOwnKey=  spaced value  \r\n"
      "\r\n"
      "[Plugins]\r\n"
      "Path=/opt/x";  // no line break after the last line
  Settings s = Load(before);
  EXPECT_EQ(55, s.ThresHold);
  s.ThresHold = 60;
  s.SearchFolder = "/data/photos";
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(s));
  EXPECT_EQ(
      "; written by hand\r\n"
      "[general]\r\n"
      "thresHold=60\r\n"
      "MyOwnKey=  spaced value  \r\n"
      "SearchFolder=/data/photos\r\n"
      "MoveFolder=/home/tester\r\n"
      "EnableSubFolder=1\r\n"
      "EnableConfirm=1\r\n"
      "InitialSort=0\r\n"
      "EnableCache=1\r\n"
      "GotoTrashBox=0\r\n"
      "\r\n"
      "[Plugins]\r\n"
      "Path=/opt/x\r\n"
      "\r\n"
      "[WindowPos]\r\n"
      "Left=100\r\n"
      "Top=100\r\n"
      "Right=900\r\n"
      "Bottom=800\r\n"
      "ImgHeightRatio=75\r\n",
      ReadText(path_));
  // A second save of the same record changes nothing.
  const std::string once = ReadText(path_);
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(LoadFile()));
  EXPECT_EQ(once, ReadText(path_));
}

TEST_F(SettingsFileTest, FolderTextCannotInjectAKey) {
  test::WriteFile(path_, "[General]\nMoveFolder=/old\n");
  Settings s = LoadFile();
  s.MoveFolder = "/tmp\n[General]\nThresHold=1";
  EXPECT_EQ(SettingsResult::TextHasLineBreak, SaveSettings(s));
  s.MoveFolder = "/tmp\rThresHold=1";
  EXPECT_EQ(SettingsResult::TextHasLineBreak, SaveSettings(s));
  s.MoveFolder = std::string("/tmp\0/x", 7);
  EXPECT_EQ(SettingsResult::TextHasNul, SaveSettings(s));
  const Settings back = LoadFile();
  EXPECT_EQ("/old", back.MoveFolder);
  EXPECT_EQ(100, back.ThresHold);
  EXPECT_EQ(1u, ReadText(path_).find("General"));  // still one section, not a second one
  EXPECT_EQ(ReadText(path_).find("[General]"), ReadText(path_).rfind("[General]"));
}

TEST_F(SettingsFileTest, FailedWriteKeepsTheOldFile) {
  const std::string old = "[General]\nThresHold=12\n";
  test::WriteFile(path_, old);
  Settings s = LoadFile();
  s.ThresHold = 13;
  s.SearchFolder = std::string(3000, 'a');  // makes the new file far bigger than the limit below
  {
    // Root ignores permissions, so make the write itself fail: a file-size
    // limit of 64 bytes stops the new file part way (EFBIG).
    rlimit saved{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &saved));
    rlimit small = saved;
    small.rlim_cur = 64;
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
    const SettingsResult result = SaveSettings(s);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(SettingsResult::CannotWrite, result);
  }
  EXPECT_EQ(old, ReadText(path_));
  EXPECT_EQ(std::vector<std::string>{"Norvane.ini"}, test::FolderEntries(dir_.path()));
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST_F(SettingsFileTest, FileOrFolderTheUserCannotWriteIsLeftAlone) {
  // Root passes every permission check, so the write bits decide.
  const std::string old = "[General]\nThresHold=12\n";
  const struct {
    const char* what;
    mode_t fileMode;
    mode_t folderMode;
  } cases[] = {{"read-only file", 0444, 0755}, {"read-only folder", 0644, 0555}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFile(path_, old);
    ASSERT_EQ(0, ::chmod(path_.c_str(), c.fileMode));
    ASSERT_EQ(0, ::chmod(dir_.path().c_str(), c.folderMode));
    const ino_t inode = InodeOf(path_);
    Settings s = LoadFile();
    s.ThresHold = 13;
    EXPECT_EQ(SettingsResult::CannotWrite, SaveSettings(s));
    ASSERT_EQ(0, ::chmod(dir_.path().c_str(), 0755));
    EXPECT_EQ(old, ReadText(path_));
    EXPECT_EQ(inode, InodeOf(path_));
    EXPECT_EQ(std::vector<std::string>{"Norvane.ini"}, test::FolderEntries(dir_.path()));
    ASSERT_EQ(0, ::chmod(path_.c_str(), 0644));
  }
}

TEST_F(SettingsFileTest, SaveWritesThroughSymbolicLinks) {
  // A relative link to a file, and a dangling relative link through a
  // second link: both stay links and their target gets the text.
  test::MakeDir(dir_.File("real"));
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> links;  // link name, link text
    const char* target;
    const char* before;  // "" when the target does not exist
  } cases[] = {
      {"good link", {{"Norvane.ini", "real/kept.ini"}}, "real/kept.ini", "; mine\n[General]\nThresHold=5\n"},
      {"dangling link", {{"Norvane.ini", "hop"}, {"hop", "real/new.ini"}}, "real/new.ini", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& [name, text] : c.links) {
      ::unlink(dir_.File(name).c_str());
      ASSERT_EQ(0, ::symlink(text.c_str(), dir_.File(name).c_str()));
    }
    if (*c.before) test::WriteFile(dir_.File(c.target), c.before);
    Settings s = LoadFile();
    s.ThresHold = 77;
    ASSERT_EQ(SettingsResult::Ok, SaveSettings(s));
    for (const auto& link : c.links) {
      struct stat st {};
      ASSERT_EQ(0, ::lstat(dir_.File(link.first).c_str(), &st));
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << link.first;
    }
    const std::string after = ReadText(dir_.File(c.target));
    EXPECT_EQ(0u, after.find(*c.before ? "; mine\n[General]\nThresHold=77\n" : "[General]\n"));
    EXPECT_EQ(77, LoadFile().ThresHold);
  }
  // A loop of links is refused, and the links stay as they are.
  ::unlink(path_.c_str());
  ASSERT_EQ(0, ::symlink("Norvane.ini", path_.c_str()));
  std::string target;
  EXPECT_EQ(ELOOP, ResolveSymbolicLinks(path_, target));
  EXPECT_EQ(ELOOP, ReplaceFileAtomically(path_, "x"));
  struct stat st {};
  ASSERT_EQ(0, ::lstat(path_.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(SettingsFileTest, RefusedFolderLineStartsEmptyAndSurvivesASave) {
  const std::string longSearch = "SearchFolder=/" + std::string(kMaxFolderText, 's') + "\r\n";
  const std::string longMove = "MoveFolder= /" + std::string(kMaxFolderText, 'm') + "\r\n";
  const std::string before = "[General]\r\n" + longSearch + longMove + "ThresHold=9\r\n";
  Settings s = Load(before, SettingsResult::TextTooLong);
  // Neither folder falls back to the home folder, which the user never chose.
  EXPECT_EQ("", s.SearchFolder);
  EXPECT_EQ("", s.MoveFolder);
  EXPECT_EQ((std::vector<std::string>{"SearchFolder", "MoveFolder"}), s.RefusedKeys);
  EXPECT_EQ(9, s.ThresHold);
  // Unchanged, both lines are written back byte for byte; a folder the user
  // chose in the meantime replaces its line.
  s.ThresHold = 10;
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(s));
  std::string after = ReadText(path_);
  EXPECT_EQ(0u, after.find("[General]\r\n" + longSearch + longMove + "ThresHold=10\r\n"));
  s.MoveFolder = "/chosen";
  ASSERT_EQ(SettingsResult::Ok, SaveSettings(s));
  after = ReadText(path_);
  EXPECT_EQ(0u, after.find("[General]\r\n" + longSearch + "MoveFolder=/chosen\r\n"));
  // A text of exactly the longest length is a folder like any other.
  const std::string longest = "/" + std::string(kMaxFolderText - 1, 'k');
  s = Load("[General]\nMoveFolder=" + longest + "\n");
  EXPECT_EQ(longest, s.MoveFolder);
  s.SearchFolder = longest;
  EXPECT_EQ(SettingsResult::Ok, SaveSettings(s));
}

TEST_F(SettingsFileTest, FileThatCannotBeReadIsNeverReplaced) {
  // A FIFO, and a file larger than any settings file (sparse, so cheap).
  ASSERT_EQ(0, ::mkfifo(path_.c_str(), 0644));
  EXPECT_EQ(SettingsResult::CannotRead, SaveSettings(LoadFile(SettingsResult::CannotRead)));
  struct stat st {};
  ASSERT_EQ(0, ::lstat(path_.c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ::unlink(path_.c_str());

  test::WriteFile(path_, "[General]\nThresHold=3\n");
  ASSERT_EQ(0, ::truncate(path_.c_str(), static_cast<off_t>(kMaxIniFileBytes) + 1));
  const ino_t inode = InodeOf(path_);
  EXPECT_EQ(SettingsResult::CannotRead, SaveSettings(LoadFile(SettingsResult::CannotRead)));
  ASSERT_EQ(0, ::lstat(path_.c_str(), &st));
  EXPECT_EQ(inode, st.st_ino);
  EXPECT_EQ(static_cast<off_t>(kMaxIniFileBytes) + 1, st.st_size);
  EXPECT_EQ(std::vector<std::string>{"Norvane.ini"}, test::FolderEntries(dir_.path()));
}

}  // namespace
}  // namespace norvane
