// Sending files to the desktop's trash: the home trash is found (and made)
// from HOME and XDG_DATA_HOME, the restore note is complete, and the file
// acted on is exactly the one named by the bytes.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include "move/Trash.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

// GLib reads HOME and XDG_DATA_HOME once per process, so every trash call
// runs in a child of its own that sets them first. With `fileLimit`, the
// child may write files of at most that many bytes (a full disk).
TrashResult TrashInChild(const std::string& path, const std::string& home, const std::string& dataHome,
                         const std::string& workDir, rlim_t fileLimit = RLIM_INFINITY) {
  int fds[2];
  if (pipe(fds) != 0) return {false, "pipe"};
  const pid_t child = fork();
  if (child == 0) {
    const struct rlimit limit = {fileLimit, fileLimit};
    std::signal(SIGXFSZ, SIG_IGN);
    if (setenv("HOME", home.c_str(), 1) != 0 || chdir(workDir.c_str()) != 0 ||
        (dataHome.empty() ? unsetenv("XDG_DATA_HOME") : setenv("XDG_DATA_HOME", dataHome.c_str(), 1)) != 0 ||
        (fileLimit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &limit) != 0)) {
      _exit(2);
    }
    const TrashResult result = MoveToTrash(path);
    const std::string reply = (result.ok ? "1" : "0") + result.message;
    _exit(write(fds[1], reply.data(), reply.size()) < 0 ? 3 : 0);
  }
  close(fds[1]);
  std::string reply;
  char buffer[256];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) reply.append(buffer, static_cast<std::size_t>(got));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (status != 0 || reply.empty()) return {false, "child failed"};
  return {reply[0] == '1', reply.substr(1)};
}

std::string Text(const std::string& path) {
  const test::Bytes bytes = test::ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

TEST(TrashTest, FileGoesIntoTheHomeTrashWithACompleteNote) {
  const struct {
    const char* name;
    const char* noted;     // the name as the note writes it: bytes outside the unreserved set as %XX
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
    const TrashResult result = TrashInChild(images.File(c.name), home.path(), *c.dataHome ? home.File(c.dataHome) : "", work.path());
    ASSERT_TRUE(result.ok) << result.message;
    const std::string trash = home.File(c.trash);
    EXPECT_EQ(Text(trash + "/files/" + c.name), "picture");
    const std::string note = Text(trash + "/info/" + c.name + ".trashinfo");
    EXPECT_EQ(note.rfind("[Trash Info]\nPath=" + images.File(c.noted) + "\nDeletionDate=", 0), 0u) << note;
    EXPECT_EQ(note.back(), '\n');
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
  const TrashResult missing = TrashInChild(images.File("gone.jpg"), home.path(), "", work.path());
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.message, std::strerror(ENOENT));
  EXPECT_TRUE(test::FolderEntries(home.path()).empty());

  // An earlier file of the same name is in the trash already, so the trash
  // would store the next one as "kept.2.jpg".
  test::TempDir earlier;
  test::WriteFile(earlier.File("kept.jpg"), std::string("earlier"));
  ASSERT_TRUE(TrashInChild(earlier.File("kept.jpg"), home.path(), "", work.path()).ok);

  // No room for the restore note (a full disk): the file is not trashed.
  const TrashResult full = TrashInChild(kept, home.path(), "", work.path(), 1);
  EXPECT_FALSE(full.ok);
  EXPECT_FALSE(full.message.empty());
  EXPECT_EQ(Text(kept), "picture");
  const std::string trash = home.File(".local/share/Trash");
  EXPECT_EQ(test::FolderEntries(trash + "/files"), std::vector<std::string>{"kept.jpg"});
  EXPECT_EQ(test::FolderEntries(trash + "/info"), std::vector<std::string>{"kept.jpg.trashinfo"});
  EXPECT_TRUE(test::FolderEntries(work.path()).empty());
}

}  // namespace
}  // namespace norvane
