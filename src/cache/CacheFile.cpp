#include "cache/CacheFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>
#include <vector>

#include "base/Decimal.h"
#include "base/FileDescriptor.h"
#include "base/LittleEndian.h"

namespace norvane {
namespace {

constexpr std::size_t kNameOffset = 0;
constexpr std::size_t kNameField = 256;
constexpr std::size_t kDateOffset = 256;
constexpr std::size_t kDateField = 20;
constexpr std::size_t kSizeOffset = 276;
constexpr std::size_t kWidthOffset = 280;
constexpr std::size_t kHeightOffset = 284;
constexpr std::size_t kDigestOffset = 288;
constexpr std::size_t kDigestField = 64;
constexpr std::size_t kGridOffset = 352;
constexpr std::size_t kGridBytes = 768;
static_assert(kGridOffset + kGridBytes == kCacheRecordSize);
static_assert(kGridBytes == kGridCells * 6 * sizeof(double));

constexpr unsigned char kMagic[4] = {'N', 'R', 'V', 0};
constexpr unsigned char kVersionText[4] = {'1', '0', '3', 0};

// Records are read and written this many at a time.
constexpr std::size_t kRecordsPerChunk = 64;

// Reads until `length` bytes are in or the file ends; returns the count read,
// or -1 on a read error.
std::int64_t ReadFull(int fd, unsigned char* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(fd, data + done, length - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

// The text at the start of a field, up to its first zero byte but never
// beyond the field. `terminated` tells whether a zero byte was found.
std::string_view TextInField(const unsigned char* field, std::size_t fieldSize, bool* terminated = nullptr) {
  const void* zero = std::memchr(field, 0, fieldSize);
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - field) : fieldSize;
  if (terminated) *terminated = zero != nullptr;
  return std::string_view(reinterpret_cast<const char*>(field), length);
}

// Whether a text field is as the writer leaves it for the text read from
// it: a terminating zero within the field and nothing but zeros after it.
// (A name that fills its field is read as a record without a signature, which
// the writer would write otherwise.)
bool WrittenLikeThis(const unsigned char* field, std::size_t fieldSize) {
  const auto* zero = static_cast<const unsigned char*>(std::memchr(field, 0, fieldSize));
  return zero != nullptr && std::all_of(zero, field + fieldSize, [](unsigned char byte) { return byte == 0; });
}

bool RecordWrittenLikeThis(const unsigned char* rec) {
  return WrittenLikeThis(rec + kNameOffset, kNameField) && WrittenLikeThis(rec + kDateOffset, kDateField) &&
         WrittenLikeThis(rec + kDigestOffset, kDigestField);
}

void PutText(unsigned char* field, std::size_t fieldSize, std::string_view text, bool mayFill) {
  // The field is already zero; a text that fits keeps a terminating zero.
  const std::size_t room = mayFill ? fieldSize : fieldSize - 1;
  std::memcpy(field, text.data(), std::min(text.size(), room));
}

// The version number as a decimal conversion reads it from the 4 version
// bytes: optional blanks and sign, then digits, stopping at anything else or
// at the end of the field.
long VersionNumber(const unsigned char* field) {
  const DecimalPrefix number = ScanDecimal(std::string_view(reinterpret_cast<const char*>(field), 4), true);
  const auto value = static_cast<long>(number.magnitude);
  return number.negative ? -value : value;
}

// Fills a new record in place: a list of large records is not copied into.
void ParseRecord(const unsigned char* rec, const SharedText& folder, FileRecord& entry) {
  bool nameTerminated = false;
  entry.folder = folder;
  entry.name = TextInField(rec + kNameOffset, kNameField, &nameTerminated);
  entry.date = TextInField(rec + kDateOffset, kDateField);
  entry.size = static_cast<std::int32_t>(GetLe32(rec + kSizeOffset));
  entry.width = static_cast<std::int32_t>(GetLe32(rec + kWidthOffset));
  entry.height = static_cast<std::int32_t>(GetLe32(rec + kHeightOffset));
  entry.digest = TextInField(rec + kDigestOffset, kDigestField);
  const unsigned char* p = rec + kGridOffset;
  SignatureGrid grid;
  for (SignatureCell& cell : grid) {
    cell.meanY = GetLeDouble(p);
    cell.meanCb = GetLeDouble(p + 8);
    cell.meanCr = GetLeDouble(p + 16);
    cell.sdevY = GetLeDouble(p + 24);
    cell.sdevCb = GetLeDouble(p + 32);
    cell.sdevCr = GetLeDouble(p + 40);
    p += 48;
  }
  entry.grid = grid;
  // A name that fills its field may be the cut-off start of a longer one:
  // it must never stand for a file, whatever the file is called.
  if (!nameTerminated) entry.width = 0;
}

void FormatRecord(const FileRecord& entry, unsigned char* rec) {
  std::memset(rec, 0, kCacheRecordSize);
  PutText(rec + kNameOffset, kNameField, entry.name, true);
  PutText(rec + kDateOffset, kDateField, entry.date.text(), false);
  PutLe32(rec + kSizeOffset, static_cast<std::uint32_t>(entry.size));
  PutLe32(rec + kWidthOffset, static_cast<std::uint32_t>(entry.width));
  PutLe32(rec + kHeightOffset, static_cast<std::uint32_t>(entry.height));
  PutText(rec + kDigestOffset, kDigestField, entry.digest.text(), false);
  unsigned char* p = rec + kGridOffset;
  for (const SignatureCell& cell : entry.grid.unpacked()) {
    PutLeDouble(p, cell.meanY);
    PutLeDouble(p + 8, cell.meanCb);
    PutLeDouble(p + 16, cell.meanCr);
    PutLeDouble(p + 24, cell.sdevY);
    PutLeDouble(p + 32, cell.sdevCb);
    PutLeDouble(p + 40, cell.sdevCr);
    p += 48;
  }
}

// A new file next to `cachePath`, named cachePath + ".<pid>.<n>.tmp" and
// created exclusively with `mode`. Returns the open descriptor and its path,
// or -1. The file is locked (flock, exclusive) for as long as the descriptor
// or a duplicate of it stays open, which tells RemoveStrayTemporaries that
// its writer is still at work.
int CreateTemporary(const std::string& cachePath, mode_t mode, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    tempPath = cachePath + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter.fetch_add(1)) + ".tmp";
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      // A file system without flock leaves the file unlocked; the cleaner
      // then never removes it (it cannot take the lock either).
      while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
      }
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// The process id in a temporary file name "<cacheName>.<pid>.<n>.tmp", or 0
// when `name` is not one.
pid_t TemporaryOwner(std::string_view name, std::string_view cacheName) {
  constexpr std::string_view kSuffix = ".tmp";
  if (name.size() <= cacheName.size() + 1 + kSuffix.size() || !name.starts_with(cacheName) ||
      name[cacheName.size()] != '.' || !name.ends_with(kSuffix)) {
    return 0;
  }
  name = name.substr(cacheName.size() + 1, name.size() - cacheName.size() - 1 - kSuffix.size());
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return 0;
  long long pid = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (i == dot) continue;
    if (c < '0' || c > '9') return 0;
    if (i < dot) {
      pid = pid * 10 + (c - '0');
      if (pid > 0x7FFFFFFF) return 0;
    }
  }
  return static_cast<pid_t>(pid);
}

// How old a temporary file of a live process must be before it counts as
// stray: far longer than the moment between its creation and its lock.
constexpr std::time_t kStrayAgeSeconds = 60;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

int RemoveStrayTemporaries(const std::string& cachePath) {
  const std::size_t slash = cachePath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : cachePath.substr(0, slash));
  const std::string cacheName = slash == std::string::npos ? cachePath : cachePath.substr(slash + 1);
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return 0;
  UniqueFd dirFd(::dup(::dirfd(dir.get())));
  if (dirFd.get() < 0) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const pid_t owner = TemporaryOwner(entry->d_name, cacheName);
    if (owner <= 0) continue;
    UniqueFd file(::openat(dirFd.get(), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) continue;
    struct stat st;
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // A writer holds the lock from creation until its rename: a file that
    // cannot be locked is still being written.
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) continue;
    // Between creating its file and locking it, a writer holds no lock yet:
    // only a file whose process is gone, or one long past that moment, is
    // taken for stray.
    const bool ownerGone = ::kill(owner, 0) != 0 && errno == ESRCH;
    const bool old = std::time(nullptr) - st.st_mtime > kStrayAgeSeconds;
    if (!ownerGone && !old) continue;
    // The name must still be the file that was locked.
    struct stat now;
    if (::fstatat(dirFd.get(), entry->d_name, &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != st.st_dev ||
        now.st_ino != st.st_ino) {
      continue;
    }
    if (::unlinkat(dirFd.get(), entry->d_name, 0) == 0) ++removed;
  }
  return removed;
}

bool IsCacheTemporaryName(std::string_view name) { return TemporaryOwner(name, kCacheFileName) > 0; }

std::string CachePathFor(const std::string& folder) { return folder + "/" + kCacheFileName; }

bool IsReusableEntry(const FileRecord& entry) {
  return entry.width > 0 && entry.height >= 0 && entry.digest.canonical();
}

int ReadCacheFile(const std::string& cachePath, const SharedText& folder, FileList& entries,
                  std::size_t maxRecords, CacheFileSeen* seen) {
  // O_NOFOLLOW: never read through a symbolic link; O_NONBLOCK: a FIFO put
  // in the file's place must not hang the search (it is refused below).
  UniqueFd file(::open(cachePath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return -1;
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;

  unsigned char header[kCacheHeaderSize];
  if (ReadFull(file.get(), header, sizeof header) != static_cast<std::int64_t>(sizeof header)) return -1;
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return -1;
  if (VersionNumber(header + 4) < kCacheVersion) return -1;

  // A file of whole records reserves its list exactly.
  FileList read;
  const auto bodySize = static_cast<std::uint64_t>(std::max<off_t>(st.st_size, kCacheHeaderSize)) - kCacheHeaderSize;
  read.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(bodySize / kCacheRecordSize, maxRecords)));
  bool writtenLikeThis = std::memcmp(header + 4, kVersionText, sizeof kVersionText) == 0 &&
                         bodySize % kCacheRecordSize == 0 && bodySize / kCacheRecordSize <= maxRecords;
  std::uint64_t bytesRead = kCacheHeaderSize;
  std::vector<unsigned char> chunk(kCacheRecordSize * kRecordsPerChunk);
  while (read.size() < maxRecords) {
    const std::int64_t got = ReadFull(file.get(), chunk.data(), chunk.size());
    if (got <= 0) break;
    bytesRead += static_cast<std::uint64_t>(got);
    const std::size_t records =
        std::min(static_cast<std::size_t>(got) / kCacheRecordSize, maxRecords - read.size());
    for (std::size_t i = 0; i < records; ++i) {
      const unsigned char* rec = chunk.data() + i * kCacheRecordSize;
      if (seen != nullptr && writtenLikeThis) writtenLikeThis = RecordWrittenLikeThis(rec);
      ParseRecord(rec, folder, read.emplace_back());
    }
    // A short chunk is the end of the file (or a read error): a partial
    // record there is ignored.
    if (static_cast<std::size_t>(got) < chunk.size()) break;
  }
  if (seen != nullptr) {
    // Every byte the file held when it was opened went into the entries.
    *seen = CacheFileSeen{writtenLikeThis && bytesRead == static_cast<std::uint64_t>(st.st_size),
                          st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  }
  entries = std::move(read);
  return 0;
}

namespace {

// The complete file for `entries`, handed to `sink` in pieces of whole
// records (the header in front of the first); stops when `sink` returns false.
template <typename Sink>
bool FormatCacheFile(std::span<const FileRecord* const> entries, Sink sink) {
  std::vector<unsigned char> chunk;
  chunk.reserve(kCacheHeaderSize + kCacheRecordSize * kRecordsPerChunk);
  chunk.insert(chunk.end(), kMagic, kMagic + sizeof kMagic);
  chunk.insert(chunk.end(), kVersionText, kVersionText + sizeof kVersionText);
  for (const FileRecord* entry : entries) {
    const std::size_t at = chunk.size();
    chunk.resize(at + kCacheRecordSize);
    FormatRecord(*entry, chunk.data() + at);
    if (chunk.size() + kCacheRecordSize > chunk.capacity()) {
      if (!sink(chunk.data(), chunk.size())) return false;
      chunk.clear();
    }
  }
  return chunk.empty() || sink(chunk.data(), chunk.size());
}

// Whether the regular file at `cachePath` already holds exactly the bytes
// that writing `entries` would give it: same length, same bytes to the last.
bool HoldsSameContent(const std::string& cachePath, std::span<const FileRecord* const> entries) {
  UniqueFd file(::open(cachePath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return false;
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const std::uint64_t length = kCacheHeaderSize + std::uint64_t{kCacheRecordSize} * entries.size();
  if (static_cast<std::uint64_t>(st.st_size) != length) return false;
  std::vector<unsigned char> disk(kCacheHeaderSize + kCacheRecordSize * kRecordsPerChunk);
  const bool same = FormatCacheFile(entries, [&](const unsigned char* data, std::size_t size) {
    return ReadFull(file.get(), disk.data(), size) == static_cast<std::int64_t>(size) &&
           std::memcmp(disk.data(), data, size) == 0;
  });
  // The file may have grown since fstat: only its end makes it the same.
  unsigned char extra;
  return same && ReadFull(file.get(), &extra, 1) == 0;
}

}  // namespace

int WriteCacheFile(const std::string& cachePath, const FileList& entries) {
  std::vector<const FileRecord*> pointers;
  pointers.reserve(entries.size());
  for (const FileRecord& entry : entries) pointers.push_back(&entry);
  return WriteCacheEntries(cachePath, pointers);
}

int WriteCacheEntries(const std::string& cachePath, std::span<const FileRecord* const> entries, bool sweep,
                      const CacheFileSeen* seen) {
  mode_t mode = 0666;  // narrowed by the umask for a new file
  bool keepMode = false;
  struct stat st;
  if (::lstat(cachePath.c_str(), &st) == 0) {
    // Only a regular file is replaced; a read-only one is the user's choice
    // (a rename would replace it regardless of its permissions).
    if (!S_ISREG(st.st_mode)) return -1;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(cachePath.c_str(), W_OK) != 0) {
      return -1;
    }
    mode = st.st_mode & 07777;
    keepMode = true;
    // A file that already holds these very bytes is left in place: writing
    // it again would give the same file. Its folder is still swept.
    const auto sameTime = [](const timespec& a, const timespec& b) {
      return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    const bool stillSeen = seen != nullptr && seen->rewritesSame && st.st_dev == seen->device &&
                           st.st_ino == seen->inode && st.st_size == seen->size &&
                           sameTime(st.st_mtim, seen->modified) && sameTime(st.st_ctim, seen->changed);
    if (stillSeen || HoldsSameContent(cachePath, entries)) {
      if (sweep) RemoveStrayTemporaries(cachePath);
      return 0;
    }
  }

  std::string tempPath;
  UniqueFd file(CreateTemporary(cachePath, mode, tempPath));
  if (file.get() < 0) return -1;
  if (keepMode) ::fchmod(file.get(), mode);

  bool ok = FormatCacheFile(entries, [&](const unsigned char* data, std::size_t size) {
    return WriteAll(file.get(), data, size) == 0;
  });
  // The duplicate keeps the file locked until it has its final name; the
  // close of the original still reports a late write error.
  const UniqueFd lock(::dup(file.get()));
  ok = file.Close() == 0 && ok;
  if (!ok || ::rename(tempPath.c_str(), cachePath.c_str()) != 0) {
    ::unlink(tempPath.c_str());
    return -1;
  }
  // Each written cache sweeps the folder once for temporaries that a killed
  // search left behind.
  if (sweep) RemoveStrayTemporaries(cachePath);
  return 0;
}

}  // namespace norvane
