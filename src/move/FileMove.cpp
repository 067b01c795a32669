#include "move/FileMove.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <array>

namespace norvane {

namespace {

// Owns one file descriptor.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports the close's own failure (delayed write errors
  // surface here on some file systems).
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) != 0 ? errno : 0;
  }

 private:
  int fd_;
};

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

int WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
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

void SyncFolder(const std::string& folder) {
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

// The move between file systems: copy to `destination` (which must not
// exist yet: EEXIST then), then delete the source. On any failure nothing
// but the untouched source remains.
int CopyThenDelete(const std::string& source, const std::string& destination,
                   const std::string& folder) {
  // Non-blocking, so a FIFO put in the file's place cannot hang the window;
  // it is refused below as not a regular file.
  UniqueFd in(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (in.get() < 0) return errno;
  struct stat original{};
  if (::fstat(in.get(), &original) != 0) return errno;
  if (!S_ISREG(original.st_mode)) return EINVAL;

  UniqueFd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.get() < 0) return errno;
  int error = CopyContent(in.get(), out.get(), original.st_size);
  if (error == 0) {
    // Keep the permissions and the modification time the list shows; a file
    // system that cannot store them still gets the content.
    (void)::fchmod(out.get(), original.st_mode & 07777);
    const struct timespec times[2] = {original.st_atim, original.st_mtim};
    (void)::futimens(out.get(), times);
    error = out.Close();
  }
  if (error == 0) {
    SyncFolder(folder);
    if (::unlink(source.c_str()) != 0) error = errno;
  }
  if (error != 0) {
    out.Close();
    ::unlink(destination.c_str());
  }
  return error;
}

// One attempt at `destination`. EEXIST means: try the next name.
int MoveTo(const std::string& source, const std::string& destination, const std::string& folder) {
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  const int error = errno;
  if (error == EXDEV) return CopyThenDelete(source, destination, folder);
  if (error != EINVAL && error != ENOSYS) return error;
  // A file system without no-replace renames: a hard link is just as
  // exclusive; without hard links, copy.
  if (::link(source.c_str(), destination.c_str()) == 0) {
    if (::unlink(source.c_str()) == 0) return 0;
    const int unlinkError = errno;
    ::unlink(destination.c_str());
    return unlinkError;
  }
  if (errno == EEXIST) return EEXIST;
  return CopyThenDelete(source, destination, folder);
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
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  for (int n = 1; n <= kMaxFreeNameNumber; ++n) {
    std::string destination = prefix + NumberedName(name, n);
    result.error = MoveTo(source, destination, folder);
    if (result.error == 0) {
      result.destination = std::move(destination);
      return result;
    }
    if (result.error != EEXIST) return result;
  }
  return result;
}

std::string ErrorText(int error) {
  std::array<char, 256> buffer{};
  // The GNU strerror_r returns the text, which may or may not be the buffer.
  const char* text = ::strerror_r(error, buffer.data(), buffer.size());
  return text != nullptr ? std::string(text) : std::string("Unknown error ") + std::to_string(error);
}

}  // namespace norvane
