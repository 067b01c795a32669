// Moving files into the move folder: free names, refusals, and the copy
// that crosses file systems.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "move/FileMove.h"
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
  const struct {
    std::string file, folder;
    int error;
  } cases[] = {
      {source, "", ENOENT},                  // no move folder chosen
      {source, to.File("plain"), ENOTDIR},   // a file, not a folder
      {source, from.path(), EEXIST},         // the file's own folder
      {source, from.path() + "/.", EEXIST},  // the same folder spelt differently
      {from.File("gone.jpg"), to.path(), ENOENT},
  };
  for (const auto& c : cases) {
    const MoveResult result = MoveFileToFolder(c.file, c.folder);
    EXPECT_EQ(result.error, c.error) << c.file << " to '" << c.folder << "'";
    EXPECT_EQ(result.destination, "");
  }
  EXPECT_EQ(ErrorText(ENOENT), std::strerror(ENOENT));
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
  if (stat(from.path().c_str(), &a) != 0 || stat(to.path().c_str(), &b) != 0 || a.st_dev == b.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  test::WriteFile(from.File("big.bmp"), BigContent());
  ASSERT_EQ(mkfifo(from.File("pipe.jpg").c_str(), 0600), 0);
  EXPECT_EQ(MoveFileToFolder(from.File("big.bmp"), to.path()).destination, to.File("big.bmp"));
  // A FIFO cannot be copied as a file: the move neither hangs on it nor leaves a trace.
  EXPECT_EQ(MoveFileToFolder(from.File("pipe.jpg"), to.path()).error, EINVAL);
  EXPECT_EQ(test::FolderEntries(from.path()), std::vector<std::string>{"pipe.jpg"});
  EXPECT_EQ(test::FolderEntries(to.path()), std::vector<std::string>{"big.bmp"});
  EXPECT_EQ(test::ReadFile(to.File("big.bmp")), BigContent());
}

TEST(FileMoveTest, CopyTakesAFreeNameAndKeepsModeAndTime) {
  for (const CopyStaging staging : {CopyStaging::kUnnamedFile, CopyStaging::kHiddenName}) {
    SCOPED_TRACE(static_cast<int>(staging));
    test::TempDir from, to;
    const std::string source = from.File("big.bmp");
    test::WriteFile(source, BigContent());
    ASSERT_EQ(chmod(source.c_str(), 0640), 0);
    const struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    for (const char* name : {"big.bmp", "big (2).bmp", "big (4).bmp"}) test::WriteFile(to.File(name), std::string(name));
    EXPECT_EQ(MoveByCopy(source, to.path(), staging).destination, to.File("big (3).bmp"));
    EXPECT_TRUE(test::FolderEntries(from.path()).empty());
    EXPECT_EQ(test::ReadFile(to.File("big (3).bmp")), BigContent());
    for (const char* name : {"big.bmp", "big (2).bmp", "big (4).bmp"}) EXPECT_EQ(Text(to.File(name)), name);
    EXPECT_EQ(test::FolderEntries(to.path()).size(), 4u);  // no temporary left
    struct stat st {};
    ASSERT_EQ(stat(to.File("big (3).bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
  }
}

TEST(FileMoveTest, CopyCutOffMidwayLeavesNoFileUnderTheImagesName) {
  // The copy runs in a child process that may write only part of the file:
  // the write either fails (the signal ignored) or kills the process.
  for (const CopyStaging staging : {CopyStaging::kUnnamedFile, CopyStaging::kHiddenName}) {
    for (const bool killed : {false, true}) {
      SCOPED_TRACE(testing::Message() << "staging " << static_cast<int>(staging) << " killed " << killed);
      test::TempDir from, to;
      const std::string source = from.File("a.jpg");
      test::WriteFile(source, BigContent());
      test::WriteFile(to.File("a.jpg"), std::string("old"));
      const pid_t child = fork();
      if (child == 0) {
        const struct rlimit noCore = {0, 0}, limit = {100000, 100000};
        setrlimit(RLIMIT_CORE, &noCore);
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
        _exit(MoveByCopy(source, to.path(), staging).error & 0xff);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_EQ(status, killed ? SIGXFSZ : EFBIG << 8);  // killed by the signal, or exited with EFBIG
      std::vector<std::string> left = test::FolderEntries(to.path());
      // A killed copy may leave a hidden temporary; nothing that looks like the image.
      if (killed) std::erase_if(left, [](const std::string& name) { return name[0] == '.'; });
      EXPECT_EQ(left, std::vector<std::string>{"a.jpg"});
      EXPECT_EQ(test::ReadFile(source), BigContent());
      EXPECT_EQ(Text(to.File("a.jpg")), "old");
    }
  }
}

}  // namespace
}  // namespace norvane
