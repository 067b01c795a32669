#include "image/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvane {

LoadResult OpenImageFile(const std::string& path, UniqueFile& file, std::int64_t& size) {
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it has no
  // effect on reading a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return LoadResult::CannotOpen;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    ::close(fd);
    return LoadResult::CannotOpen;
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) {
    ::close(fd);
    return LoadResult::CannotOpen;
  }
  file.reset(f);
  size = static_cast<std::int64_t>(st.st_size);
  return LoadResult::LoadOk;
}

}  // namespace norvane
