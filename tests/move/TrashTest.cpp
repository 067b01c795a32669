// Sending files to the desktop's trash: the home trash is found (and made)
// from HOME and XDG_DATA_HOME, the restore note is complete, and the file
// acted on is exactly the one named by the bytes.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "move/Trash.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

// GLib reads HOME and XDG_DATA_HOME once per process, so every trash call
// runs in a child of its own that sets them first. With `noteLimit`, the
// child may write files of at most that many bytes (a full disk).
TrashResult TrashInChild(const std::string& path, const std::string& home,
                         const std::optional<std::string>& dataHome, const std::string& workDir,
                         std::optional<rlim_t> noteLimit = std::nullopt) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {false, "pipe"};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    ::setenv("HOME", home.c_str(), 1);
    if (dataHome) {
      ::setenv("XDG_DATA_HOME", dataHome->c_str(), 1);
    } else {
      ::unsetenv("XDG_DATA_HOME");
    }
    if (::chdir(workDir.c_str()) != 0) ::_exit(2);
    if (noteLimit) {
      std::signal(SIGXFSZ, SIG_IGN);
      const struct rlimit limit = {*noteLimit, *noteLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    const TrashResult result = MoveToTrash(path);
    const std::string reply = (result.ok ? "1" : "0") + result.message;
    if (::write(pipeFds[1], reply.data(), reply.size()) < 0) ::_exit(3);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string reply;
  char buffer[256];
  for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) reply.append(buffer, got);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || reply.empty()) return {false, "child failed"};
  return {reply[0] == '1', reply.substr(1)};
}

// The path as a trash note writes it: bytes outside the unreserved set as %XX.
std::string PercentEncoded(const std::string& path) {
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("-._~/", c) != nullptr) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string Text(const test::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(TrashTest, FileGoesIntoTheHomeTrashWithACompleteNote) {
  struct Case {
    const char* what;
    const char* name;
    std::optional<std::string> dataHome;  // below the home; none: unset
    std::string trash;                    // below the home
  };
  const Case cases[] = {
      {"no data folder yet", "a b.jpg", std::nullopt, ".local/share/Trash"},
      {"XDG_DATA_HOME set", "c.jpg", "data", "data/Trash"},
      {"name not valid UTF-8", "\xff.jpg", std::nullopt, ".local/share/Trash"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir home, images, work;
    const std::string source = images.File(c.name);
    test::WriteFile(source, std::string("picture ") + c.name);
    // The name an invalid byte turns into when taken through UTF-16.
    test::WriteFile(images.File("\xef\xbf\xbd.jpg"), std::string("twin"));

    const std::optional<std::string> dataHome =
        c.dataHome ? std::optional<std::string>(home.File(*c.dataHome)) : std::nullopt;
    const TrashResult result = TrashInChild(source, home.path(), dataHome, work.path());
    ASSERT_TRUE(result.ok) << result.message;

    const std::string trash = home.File(c.trash);
    EXPECT_EQ(Text(test::ReadFile(trash + "/files/" + c.name)), std::string("picture ") + c.name);
    const std::string note = Text(test::ReadFile(trash + "/info/" + c.name + ".trashinfo"));
    EXPECT_EQ(note.rfind("[Trash Info]\nPath=" + PercentEncoded(source) + "\nDeletionDate=", 0), 0u) << note;
    EXPECT_EQ(test::FolderEntries(images.path()), std::vector<std::string>{"\xef\xbf\xbd.jpg"});
    EXPECT_EQ(Text(test::ReadFile(images.File("\xef\xbf\xbd.jpg"))), "twin");
    EXPECT_TRUE(test::FolderEntries(work.path()).empty());
  }
}

TEST(TrashTest, RefusedFileStaysAndTheReasonIsGiven) {
  test::TempDir home, images, work;
  const std::string kept = images.File("kept.jpg");
  test::WriteFile(kept, std::string("picture"));

  // A file that is gone: the system's reason, and no trash is made.
  const TrashResult missing = TrashInChild(images.File("gone.jpg"), home.path(), std::nullopt, work.path());
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.message, std::strerror(ENOENT));
  EXPECT_TRUE(test::FolderEntries(home.path()).empty());

  // An earlier file of the same name is in the trash already, so the trash
  // stores the next one as "kept.2.jpg".
  test::TempDir earlier;
  test::WriteFile(earlier.File("kept.jpg"), std::string("earlier"));
  ASSERT_TRUE(TrashInChild(earlier.File("kept.jpg"), home.path(), std::nullopt, work.path()).ok);

  // No room for the restore note (a full disk): the file is not trashed.
  const TrashResult full = TrashInChild(kept, home.path(), std::nullopt, work.path(), 1);
  EXPECT_FALSE(full.ok);
  EXPECT_FALSE(full.message.empty());
  EXPECT_EQ(Text(test::ReadFile(kept)), "picture");
  const std::string trash = home.File(".local/share/Trash");
  EXPECT_EQ(test::FolderEntries(trash + "/files"), std::vector<std::string>{"kept.jpg"});
  EXPECT_EQ(test::FolderEntries(trash + "/info"), std::vector<std::string>{"kept.jpg.trashinfo"});
  EXPECT_TRUE(test::FolderEntries(work.path()).empty());
}

}  // namespace
}  // namespace norvane
