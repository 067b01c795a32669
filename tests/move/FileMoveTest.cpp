// Moving files into the move folder (free names, refusals, and the copy
// that crosses file systems) and into the trash.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "move/FileMove.h"
#include "move/Trash.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

std::string Text(const std::string& path) {
  const test::Bytes bytes = test::ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

// Bigger than one copy buffer, with every byte value.
test::Bytes BigContent() {
  test::Bytes content(200000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 31 + i / 256);
  return content;
}

TEST(FileMoveTest, RefusalsLeaveTheSourceWhereItIsAndAClashTakesTheFirstFreeName) {
  test::TempDir from, to;
  const std::string source = from.File("a.jpg");
  test::WriteFile(source, std::string("new"));
  test::WriteFile(to.File("plain"), std::string("not a folder"));
  const std::tuple<std::string, std::string, int> cases[] = {
      {source, "", ENOENT},                  // no move folder chosen
      {source, to.File("plain"), ENOTDIR},   // a file, not a folder
      {source, from.path(), EEXIST},         // the file's own folder
      {source, from.path() + "/.", EEXIST},  // the same folder spelt differently
      {from.File("gone.jpg"), to.path(), ENOENT},
  };
  for (const auto& [file, folder, error] : cases) {
    const MoveResult result = MoveFileToFolder(file, folder);
    EXPECT_EQ(std::pair(result.error, result.destination), std::pair(error, std::string())) << file << " to '" << folder << "'";
  }
  EXPECT_EQ(test::FolderEntries(from.path()), std::vector<std::string>{"a.jpg"});  // no "a (2).jpg" beside it
  EXPECT_EQ(test::FolderEntries(to.path()), std::vector<std::string>{"plain"});

  EXPECT_EQ(NumberedName("photo.tar.bmp", 3), "photo.tar (3).bmp");
  EXPECT_EQ(NumberedName(".hidden", 2), ".hidden (2)");
  for (const char* name : {"a.jpg", "a (2).jpg", "a (4).jpg"}) test::WriteFile(to.File(name), std::string(name));
  EXPECT_EQ(MoveFileToFolder(source, to.path()).destination, to.File("a (3).jpg"));
  for (const char* name : {"a.jpg", "a (2).jpg", "a (4).jpg"}) EXPECT_EQ(Text(to.File(name)), name);
  EXPECT_EQ(Text(to.File("a (3).jpg")), "new");
  EXPECT_TRUE(test::FolderEntries(from.path()).empty());
}

TEST(FileMoveTest, MoveAcrossFileSystemsCopiesThenDeletes) {
  test::TempDir from;
  const test::ScopedEnv shm("TMPDIR", "/dev/shm");
  const test::TempDir to;
  struct stat a {}, b {};
  if (stat(from.path().c_str(), &a) != 0 || stat(to.path().c_str(), &b) != 0 || a.st_dev == b.st_dev) GTEST_SKIP();
  test::WriteFile(from.File("big.bmp"), BigContent());
  ASSERT_EQ(mkfifo(from.File("pipe.jpg").c_str(), 0600), 0);
  EXPECT_EQ(MoveFileToFolder(from.File("big.bmp"), to.path()).destination, to.File("big.bmp"));
  // A FIFO cannot be copied as a file: the move neither hangs on it nor leaves a trace.
  EXPECT_EQ(MoveFileToFolder(from.File("pipe.jpg"), to.path()).error, EINVAL);
  EXPECT_EQ(test::FolderEntries(from.path()), std::vector<std::string>{"pipe.jpg"});
  EXPECT_EQ(test::FolderEntries(to.path()), std::vector<std::string>{"big.bmp"});
  EXPECT_EQ(test::ReadFile(to.File("big.bmp")), BigContent());
}

TEST(FileMoveTest, CopyCutOffMidwayLeavesNoFileUnderTheImagesNameAndAWholeOneKeepsModeAndTime) {
  // The copy runs in a child process that may write only part of the file:
  // the write then either fails (the signal ignored) or kills the process.
  for (const CopyStaging staging : {CopyStaging::kUnnamedFile, CopyStaging::kHiddenName}) {
    for (const int cut : {0, SIGXFSZ, EFBIG << 8}) {  // the wait status: whole, killed, or exited with EFBIG
      SCOPED_TRACE(testing::Message() << "staging " << static_cast<int>(staging) << " status " << cut);
      test::TempDir from, to;
      const std::string source = from.File("a.jpg");
      test::WriteFile(source, BigContent());
      ASSERT_EQ(chmod(source.c_str(), 0640), 0);
      const struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
      for (const char* name : {"a.jpg", "a (2).jpg", "a (4).jpg"}) test::WriteFile(to.File(name), std::string(name));
      const pid_t child = fork();
      if (child == 0) {
        const struct rlimit noCore = {0, 0}, limit = {100000, 100000};
        setrlimit(RLIMIT_CORE, &noCore);
        if (cut != 0) setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, cut == SIGXFSZ ? SIG_DFL : SIG_IGN);
        const MoveResult moved = MoveByCopy(source, to.path(), staging);
        _exit(moved.ok() && moved.destination != to.File("a (3).jpg") ? 99 : moved.error & 0xff);
      }
      int status = -1;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_EQ(status, cut);
      std::vector<std::string> left = test::FolderEntries(to.path());
      // A killed copy may leave a hidden temporary; nothing that looks like the image.
      if (cut == SIGXFSZ) std::erase_if(left, [](const std::string& name) { return name[0] == '.'; });
      EXPECT_EQ(left.size(), cut ? 3u : 4u);
      for (const char* name : {"a.jpg", "a (2).jpg", "a (4).jpg"}) EXPECT_EQ(Text(to.File(name)), name);
      EXPECT_EQ(test::ReadFile(cut ? source : to.File("a (3).jpg")), BigContent());
      EXPECT_EQ(test::FolderEntries(from.path()).size(), cut ? 1u : 0u);
      struct stat st {};
      stat(to.File("a (3).jpg").c_str(), &st);
      EXPECT_EQ(std::pair(st.st_mtim.tv_sec, st.st_mode & 07777), cut ? std::pair(0L, 0u) : std::pair(1234567890L, 0640u));
    }
  }
}

// Sending files to the desktop's trash: the home trash is found (and made)
// from HOME and XDG_DATA_HOME, the restore note is complete, and the file
// acted on is exactly the one named by the bytes.

// GLib reads HOME and XDG_DATA_HOME once per process, so every trash call
// runs in a child of its own that sets them first. With `fileLimit`, the
// child may write files of at most that many bytes (a full disk). Gives the
// child's exit status: 0 when the file went to the trash, otherwise 1 when
// the reason given is the system's text for a missing file, 2 for any other
// reason, 3 for none.
int TrashInChild(const std::string& path, const std::string& home, const std::string& dataHome, const std::string& workDir,
                 rlim_t fileLimit = RLIM_INFINITY) {
  const pid_t child = fork();
  if (child == 0) {
    const struct rlimit limit = {fileLimit, fileLimit};
    std::signal(SIGXFSZ, SIG_IGN);
    if (setenv("HOME", home.c_str(), 1) != 0 || chdir(workDir.c_str()) != 0 ||
        (dataHome.empty() ? unsetenv("XDG_DATA_HOME") : setenv("XDG_DATA_HOME", dataHome.c_str(), 1)) != 0 ||
        (fileLimit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &limit) != 0)) {
      _exit(4);
    }
    const TrashResult result = MoveToTrash(path);
    if (!result.ok) std::fprintf(stderr, "%s\n", result.message.c_str());
    _exit(result.ok ? 0 : result.message == std::strerror(ENOENT) ? 1 : result.message.empty() ? 3 : 2);
  }
  int status = -1;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 5;
}

TEST(TrashTest, FileGoesIntoTheHomeTrashWithACompleteNote) {
  const struct {
    const char* name;
    const char* noted;     // the name as the note writes it: bytes outside the unreserved set as %XX
                           // (the temporary folders' own paths need no escapes)
    const char* dataHome;  // below the home; "": unset
    const char* trash;     // below the home
  } cases[] = {
      {"a b.jpg", "a%20b.jpg", "", ".local/share/Trash"},  // no data folder yet
      {"c.jpg", "c.jpg", "data", "data/Trash"},
      {"\xff.jpg", "%FF.jpg", "", ".local/share/Trash"},  // a name that is not valid UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.noted);
    test::TempDir home, images, work;
    test::WriteFile(images.File(c.name), std::string("picture"));
    // The name an invalid byte turns into when taken through UTF-16.
    test::WriteFile(images.File("\xef\xbf\xbd.jpg"), std::string("twin"));
    ASSERT_EQ(TrashInChild(images.File(c.name), home.path(), *c.dataHome ? home.File(c.dataHome) : "", work.path()), 0);
    EXPECT_EQ(Text(home.File(c.trash) + "/files/" + c.name), "picture");
    const std::string note = Text(home.File(c.trash) + "/info/" + c.name + ".trashinfo");
    EXPECT_EQ(note.rfind("[Trash Info]\nPath=" + images.File(c.noted) + "\nDeletionDate=", 0), 0u) << note;
    EXPECT_EQ(test::FolderEntries(images.path()), std::vector<std::string>{"\xef\xbf\xbd.jpg"});
    EXPECT_EQ(Text(images.File("\xef\xbf\xbd.jpg")), "twin");
    EXPECT_TRUE(test::FolderEntries(work.path()).empty());
  }
}

TEST(TrashTest, RefusedFileStaysAndTheReasonIsGiven) {
  test::TempDir home, images, work;
  const std::string kept = images.File("kept.jpg");
  test::WriteFile(kept, std::string("picture"));

  // A file that is gone: the system's reason, and no trash is made.
  EXPECT_EQ(TrashInChild(images.File("gone.jpg"), home.path(), "", work.path()), 1);
  EXPECT_TRUE(test::FolderEntries(home.path()).empty());

  // An earlier file of the same name is in the trash already, so the trash
  // would store the next one as "kept.2.jpg".
  test::TempDir earlier;
  test::WriteFile(earlier.File("kept.jpg"), std::string("earlier"));
  ASSERT_EQ(TrashInChild(earlier.File("kept.jpg"), home.path(), "", work.path()), 0);

  // No room for the restore note (a full disk): the file is not trashed.
  EXPECT_EQ(TrashInChild(kept, home.path(), "", work.path(), 1), 2);
  EXPECT_EQ(Text(kept), "picture");
  EXPECT_EQ(test::FolderEntries(home.File(".local/share/Trash/files")), std::vector<std::string>{"kept.jpg"});
  EXPECT_EQ(test::FolderEntries(home.File(".local/share/Trash/info")), std::vector<std::string>{"kept.jpg.trashinfo"});
  EXPECT_TRUE(test::FolderEntries(work.path()).empty());
}

}  // namespace
}  // namespace norvane
