// Moving files into the move folder: free names, refusals, and the copy
// across file systems.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "move/FileMove.h"
#include "support/TempDir.h"

namespace norvane {
namespace {

bool Exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

// A temporary folder on another file system than the usual temporary
// directory, or none when there is no such file system here.
class ForeignDir {
 public:
  explicit ForeignDir(const std::string& near) {
    std::string pattern = "/dev/shm/norvane-move-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    struct stat a{}, b{};
    if (::stat(pattern.c_str(), &a) == 0 && ::stat(near.c_str(), &b) == 0 && a.st_dev != b.st_dev) {
      path_ = pattern;
    } else {
      std::filesystem::remove_all(pattern);
    }
  }
  ~ForeignDir() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(NumberedNameTest, NumberGoesBeforeTheLastExtension) {
  EXPECT_EQ(NumberedName("a.jpg", 1), "a.jpg");
  EXPECT_EQ(NumberedName("photo.tar.bmp", 3), "photo.tar (3).bmp");
  EXPECT_EQ(NumberedName("noext", 4), "noext (4)");
  EXPECT_EQ(NumberedName("写真.jpg", 12), "写真 (12).jpg");
}

TEST(FileMoveTest, NameClashTakesTheFirstFreeNumberAndKeepsEveryFile) {
  test::TempDir from, to;
  test::WriteFile(to.File("a.jpg"), std::string("old 1"));
  test::WriteFile(to.File("a (2).jpg"), std::string("old 2"));
  test::WriteFile(to.File("a (4).jpg"), std::string("old 4"));
  test::WriteFile(from.File("a.jpg"), std::string("new"));
  const MoveResult moved = MoveFileToFolder(from.File("a.jpg"), to.path());
  ASSERT_TRUE(moved.ok());
  EXPECT_EQ(moved.destination, to.File("a (3).jpg"));
  EXPECT_EQ(test::ReadFile(to.File("a.jpg")), test::Bytes({'o', 'l', 'd', ' ', '1'}));
  EXPECT_EQ(test::ReadFile(to.File("a (2).jpg")), test::Bytes({'o', 'l', 'd', ' ', '2'}));
  EXPECT_EQ(test::ReadFile(to.File("a (3).jpg")), test::Bytes({'n', 'e', 'w'}));
  EXPECT_EQ(test::FolderEntries(to.path()).size(), 4u);
}

TEST(FileMoveTest, RefusalsLeaveTheSourceWhereItIs) {
  test::TempDir from, to;
  const std::string source = from.File("a.jpg");
  test::WriteFile(source, std::string("keep"));
  test::WriteFile(to.File("plain"), std::string("not a folder"));

  struct Case {
    std::string folder;
    int error;
  };
  const Case cases[] = {
      {"", ENOENT},                       // no move folder chosen
      {to.File("plain"), ENOTDIR},        // a file, not a folder
      {from.path(), EEXIST},              // the file's own folder
      {from.path() + "/.", EEXIST},       // the same folder spelt differently
  };
  for (const Case& c : cases) {
    const MoveResult result = MoveFileToFolder(source, c.folder);
    EXPECT_EQ(result.error, c.error) << "folder '" << c.folder << "'";
    EXPECT_TRUE(result.destination.empty());
    EXPECT_TRUE(Exists(source));
  }
  EXPECT_EQ(test::FolderEntries(from.path()).size(), 1u);  // no "a (2).jpg" beside the file
  EXPECT_EQ(test::FolderEntries(to.path()).size(), 1u);

  // A file that is gone reports the system's reason and creates nothing.
  const MoveResult missing = MoveFileToFolder(from.File("gone.jpg"), to.path());
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_EQ(ErrorText(missing.error), std::string(std::strerror(ENOENT)));
  EXPECT_EQ(test::FolderEntries(to.path()).size(), 1u);
}

// Bigger than one copy buffer, with every byte value.
test::Bytes BigContent() {
  test::Bytes content(200000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 31 + i / 256);
  return content;
}

// Entries a user would take for files of their own (not hidden).
std::vector<std::string> VisibleEntries(const std::string& folder) {
  std::vector<std::string> names = test::FolderEntries(folder);
  std::erase_if(names, [](const std::string& name) { return name[0] == '.'; });
  return names;
}

TEST(FileMoveTest, MoveAcrossFileSystemsCopiesThenDeletes) {
  test::TempDir from;
  ForeignDir to(from.path());
  if (to.path().empty()) GTEST_SKIP() << "/dev/shm is on the same file system as " << from.path();
  const std::string source = from.File("big.bmp");
  test::WriteFile(source, BigContent());
  const MoveResult moved = MoveFileToFolder(source, to.path());
  ASSERT_TRUE(moved.ok()) << ErrorText(moved.error);
  EXPECT_EQ(moved.destination, to.path() + "/big.bmp");
  EXPECT_FALSE(Exists(source));
  EXPECT_EQ(test::ReadFile(moved.destination), BigContent());
}

TEST(FileMoveTest, CopyTakesAFreeNameAndKeepsModeAndTime) {
  for (const CopyStaging staging : {CopyStaging::kUnnamedFile, CopyStaging::kHiddenName}) {
    SCOPED_TRACE(static_cast<int>(staging));
    test::TempDir from, to;
    const std::string source = from.File("big.bmp");
    test::WriteFile(source, BigContent());
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    const struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    test::WriteFile(to.File("big.bmp"), std::string("old 1"));
    test::WriteFile(to.File("big (2).bmp"), std::string("old 2"));

    const MoveResult moved = MoveByCopy(source, to.path(), staging);
    ASSERT_TRUE(moved.ok()) << ErrorText(moved.error);
    EXPECT_EQ(moved.destination, to.File("big (3).bmp"));
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(test::ReadFile(moved.destination), BigContent());
    EXPECT_EQ(test::ReadFile(to.File("big.bmp")).size(), 5u);
    EXPECT_EQ(test::ReadFile(to.File("big (2).bmp")).size(), 5u);
    EXPECT_EQ(test::FolderEntries(to.path()).size(), 3u);  // no temporary left
    struct stat st{};
    ASSERT_EQ(::stat(moved.destination.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
  }
}

TEST(FileMoveTest, CopyCutOffMidwayLeavesNoFileUnderTheImagesName) {
  // The copy runs in a child process that may write only part of the file:
  // the write either fails (the signal ignored) or kills the process.
  struct Case {
    CopyStaging staging;
    bool killed;
  };
  const Case cases[] = {
      {CopyStaging::kUnnamedFile, false},
      {CopyStaging::kUnnamedFile, true},
      {CopyStaging::kHiddenName, false},
      {CopyStaging::kHiddenName, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "staging " << static_cast<int>(c.staging) << " killed " << c.killed);
    test::TempDir from, to;
    const std::string source = from.File("a.jpg");
    test::WriteFile(source, BigContent());
    test::WriteFile(to.File("a.jpg"), std::string("old"));

    const pid_t child = ::fork();
    if (child == 0) {
      const struct rlimit noCore = {0, 0}, limit = {100000, 100000};
      ::setrlimit(RLIMIT_CORE, &noCore);
      ::setrlimit(RLIMIT_FSIZE, &limit);
      std::signal(SIGXFSZ, c.killed ? SIG_DFL : SIG_IGN);
      ::_exit(MoveByCopy(source, to.path(), c.staging).error & 0xff);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (c.killed) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
      // A hidden temporary may stay behind; nothing that looks like the image.
      EXPECT_EQ(VisibleEntries(to.path()), std::vector<std::string>{"a.jpg"});
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EFBIG) << status;
      EXPECT_EQ(test::FolderEntries(to.path()), std::vector<std::string>{"a.jpg"});
    }
    EXPECT_EQ(test::ReadFile(source), BigContent());
    EXPECT_EQ(test::ReadFile(to.File("a.jpg")).size(), 3u);
  }
}

TEST(FileMoveTest, FailedCopyAcrossFileSystemsLeavesNoTrace) {
  test::TempDir from;
  ForeignDir to(from.path());
  if (to.path().empty()) GTEST_SKIP() << "/dev/shm is on the same file system as " << from.path();

  // A FIFO cannot be copied as a file: the move must neither hang on it nor
  // leave a partial file behind.
  const std::string fifo = from.File("pipe.jpg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(MoveFileToFolder(fifo, to.path()).error, EINVAL);
  EXPECT_TRUE(Exists(fifo));
  EXPECT_EQ(test::FolderEntries(to.path()).size(), 0u);
}

}  // namespace
}  // namespace norvane
