#include "move/FileMove.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <utility>

#include "base/FileDescriptor.h"

namespace norvane {

namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool SameDirectory(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Copies `in` (of `expected` bytes) into `out`, flushes it to the disk and
// checks that the copy holds exactly that many bytes.
int CopyContent(int in, int out, off_t expected) {
  std::array<char, 1 << 16> buffer;
  off_t total = 0;
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) break;
    if (const int error = WriteAll(out, buffer.data(), static_cast<std::size_t>(got)); error != 0) {
      return error;
    }
    total += got;
  }
  if (::fsync(out) != 0) return errno;
  struct stat copied{};
  if (::fstat(out, &copied) != 0) return errno;
  if (total != expected || copied.st_size != expected) return EIO;
  return 0;
}

// Removes a hidden temporary file unless it was given its final name.
class TemporaryName {
 public:
  TemporaryName(int dir, std::string name) : dir_(dir), name_(std::move(name)) {}
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  ~TemporaryName() {
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
  }
  const std::string& name() const { return name_; }
  void Release() { name_.clear(); }

 private:
  int dir_;
  std::string name_;
};

// Opens a new hidden file in `dir` whose name says what it is, so that a
// copy cut off by a crash is never taken for the image.
int OpenHiddenTemporary(int dir, std::string& name, UniqueFd& out) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::array<unsigned char, 8> random{};
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (::getentropy(random.data(), random.size()) != 0) return errno;
    name = ".norvane-move-";
    for (unsigned char c : random) name += kLetters[c % (sizeof kLetters - 1)];
    name += ".tmp";
    const int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      out = UniqueFd(fd);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// Gives the unnamed file `fd` the name `name` in `dir`; EEXIST when taken.
int LinkUnnamed(int fd, int dir, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT) return errno;
  // No /proc: linking the descriptor itself needs a privilege, but try.
  if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
  return errno;
}

// Gives the hidden temporary `from` the name `name` in `dir` without ever
// replacing a file; EEXIST when taken.
int RenameHidden(int dir, const std::string& from, const std::string& name) {
  if (::renameat2(dir, from.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without no-replace renames: a hard link is just as exclusive.
  if (::linkat(dir, from.c_str(), dir, name.c_str(), 0) != 0) return errno;
  ::unlinkat(dir, from.c_str(), 0);
  return 0;
}

// Tries `place` with the file's own name, then with "stem (2).ext", ...,
// while the name is taken.
template <typename Place>
MoveResult PlaceUnderFreeName(const std::string& folder, std::string_view name, Place place) {
  MoveResult result;
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  for (int n = 1; n <= kMaxFreeNameNumber; ++n) {
    std::string numbered = NumberedName(name, n);
    result.error = place(numbered);
    if (result.error == 0) {
      result.destination = prefix + numbered;
      return result;
    }
    if (result.error != EEXIST) return result;
  }
  return result;
}

}  // namespace

MoveResult MoveByCopy(const std::string& source, const std::string& folder, CopyStaging staging) {
  MoveResult result;
  const std::string_view name = FileNameOf(source);
  if (folder.empty() || name.empty()) {
    result.error = folder.empty() ? ENOENT : EISDIR;
    return result;
  }
  // Non-blocking, so a FIFO put in the file's place cannot hang the window;
  // it is refused below as not a regular file.
  UniqueFd in(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat original{};
  if (in.get() < 0 || ::fstat(in.get(), &original) != 0) {
    result.error = errno;
    return result;
  }
  if (!S_ISREG(original.st_mode)) {
    result.error = EINVAL;
    return result;
  }
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    result.error = errno;
    return result;
  }

  // The copy is made where no one sees it: an unnamed file of the folder,
  // or where the file system has none, a hidden temporary name. It gets the
  // image's name only once it is complete and on the disk, so a copy cut
  // off at any point never shows up as the image.
  UniqueFd out;
  if (staging == CopyStaging::kUnnamedFile) {
    out = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (out.get() < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      result.error = errno;
      return result;
    }
  }
  std::string hiddenName;
  if (out.get() < 0) {
    if (const int error = OpenHiddenTemporary(dir.get(), hiddenName, out); error != 0) {
      result.error = error;
      return result;
    }
  }
  TemporaryName hidden(dir.get(), hiddenName);

  if (const int error = CopyContent(in.get(), out.get(), original.st_size); error != 0) {
    result.error = error;
    return result;
  }
  // Keep the permissions and the modification time the list shows; a file
  // system that cannot store them still gets the content.
  (void)::fchmod(out.get(), original.st_mode & 07777);
  const struct timespec times[2] = {original.st_atim, original.st_mtim};
  (void)::futimens(out.get(), times);

  result = PlaceUnderFreeName(folder, name, [&](const std::string& numbered) {
    return hidden.name().empty() ? LinkUnnamed(out.get(), dir.get(), numbered)
                                 : RenameHidden(dir.get(), hidden.name(), numbered);
  });
  if (!result.ok()) return result;
  hidden.Release();
  if (const int error = out.Close(); error != 0) result.error = error;
  if (result.ok() && ::fsync(dir.get()) != 0 && errno != EINVAL) result.error = errno;
  if (result.ok() && ::unlink(source.c_str()) != 0) result.error = errno;
  if (!result.ok()) {
    // The source stays; the copy goes again.
    ::unlinkat(dir.get(), std::string(FileNameOf(result.destination)).c_str(), 0);
    result.destination.clear();
  }
  return result;
}

namespace {

// One rename attempt at `destination`. EEXIST means: try the next name;
// EXDEV: the folder lies on another file system.
int RenameTo(const std::string& source, const std::string& destination) {
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  const int error = errno;
  if (error != EINVAL && error != ENOSYS) return error;
  // A file system without no-replace renames: a hard link is just as
  // exclusive. Without hard links, the copy takes over.
  if (::link(source.c_str(), destination.c_str()) != 0) return errno == EEXIST ? EEXIST : EXDEV;
  if (::unlink(source.c_str()) == 0) return 0;
  const int unlinkError = errno;
  ::unlink(destination.c_str());
  return unlinkError;
}

}  // namespace

std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string NumberedName(std::string_view name, int n) {
  if (n < 2) return std::string(name);
  const std::size_t dot = name.rfind('.');
  const std::size_t cut = dot == std::string_view::npos || dot == 0 ? name.size() : dot;
  std::string numbered(name.substr(0, cut));
  numbered += " (";
  numbered += std::to_string(n);
  numbered += ')';
  numbered += name.substr(cut);
  return numbered;
}

MoveResult MoveFileToFolder(const std::string& source, const std::string& folder) {
  MoveResult result;
  // An empty folder would put the file into "/" or the working directory.
  if (folder.empty()) {
    result.error = ENOENT;
    return result;
  }
  const std::string_view name = FileNameOf(source);
  if (name.empty()) {
    result.error = EISDIR;
    return result;
  }
  struct stat target{};
  if (::stat(folder.c_str(), &target) != 0) {
    result.error = errno;
    return result;
  }
  if (!S_ISDIR(target.st_mode)) {
    result.error = ENOTDIR;
    return result;
  }
  if (SameDirectory(FolderOf(source), folder)) {
    result.error = EEXIST;
    return result;
  }
  result = PlaceUnderFreeName(folder, name, [&](const std::string& numbered) {
    return RenameTo(source, (folder.back() == '/' ? folder : folder + "/") + numbered);
  });
  if (result.error == EXDEV) return MoveByCopy(source, folder, CopyStaging::kUnnamedFile);
  return result;
}

std::string ErrorText(int error) {
  std::array<char, 256> buffer{};
  // The GNU strerror_r returns the text, which may or may not be the buffer.
  const char* text = ::strerror_r(error, buffer.data(), buffer.size());
  return text != nullptr ? std::string(text) : std::string("Unknown error ") + std::to_string(error);
}

}  // namespace norvane
