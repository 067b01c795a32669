// The per-folder signature cache file "_cache.nrv": an 8-byte header ("NRV",
// zero, "103", zero) followed by 1120-byte records, one per image file of the
// folder. Little-endian integers, doubles stored verbatim, texts zero-ended
// and zero-filled. There is no count: a reader takes every complete record.
//
// Record layout (offsets within the record):
//     0  256  name, zero-ended
//   256   20  date text, zero-ended
//   276    4  size (low 32 bits)
//   280    4  width (0: no valid signature)
//   284    4  height
//   288   64  digest text, zero-ended
//   352  768  grid: 16 cells x 6 doubles
//
// The file is untrusted input: it may be damaged, foreign, stale or planted.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "scan/FileRecord.h"

namespace norvane {

inline constexpr char kCacheFileName[] = "_cache.nrv";
inline constexpr std::size_t kCacheHeaderSize = 8;
inline constexpr std::size_t kCacheRecordSize = 1120;
inline constexpr int kCacheVersion = 103;
// Records read from one file at most: far more image files than a real
// folder holds, and a bound on the memory a planted giant file can claim
// (each entry takes about a kilobyte). Records beyond it are ignored, which
// only means that their files are decoded again.
inline constexpr std::size_t kMaxCacheRecords = std::size_t{1} << 18;

// folder + "/_cache.nrv"
std::string CachePathFor(const std::string& folder);

// Replaces `entries` with the records of the cache file at `cachePath`; each
// entry gets `folder` and the path folder + "/" + name. Returns 0 when the
// header was accepted (even with no records) and -1 otherwise, leaving
// `entries` as it was. Only a regular file is read: a symbolic link, FIFO,
// device or folder under that name is refused without opening it for long.
// A partial record at the end is ignored. Texts are taken within their
// fields only; a name field without its terminating zero yields an entry
// that can never be reused (its width is set to 0). At most `maxRecords`
// records are taken.
//
// With `seen`, it also tells which file was read and whether writing back
// exactly the entries read would give that file's very bytes.
struct CacheFileSeen {
  bool rewritesSame = false;  // our header, whole records only, all taken, fields as the writer fills them
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
};
int ReadCacheFile(const std::string& cachePath, const SharedText& folder, FileList& entries,
                  std::size_t maxRecords = kMaxCacheRecords, CacheFileSeen* seen = nullptr);

// Writes `entries` as a complete cache file: to a new temporary file in the
// same folder, renamed over `cachePath` once written, so that a reader never
// sees a half-written file in its place. The temporary file stays locked
// (flock) until it is renamed. An existing regular, writable file that
// already holds exactly those bytes is left as it is (same inode and time).
// Returns 0, or -1 when nothing was
// replaced: the folder is not writable, the write failed, or an existing
// `cachePath` is not a regular file or is read-only (those are left alone).
// A name of 256 bytes or more fills its field without terminator.
int WriteCacheFile(const std::string& cachePath, const FileList& entries);
// The same for entries that live elsewhere, so that no record is copied.
// Without `sweep` the folder is not swept for stray temporaries: for a
// caller that has just listed the folder and seen none.
//
// With `seen`, the caller vouches that `entries` are the entries read from
// the file `seen` describes, unchanged and in their order: when the file at
// `cachePath` is still that one (same inode, size and times) and rewriting
// it would give its very bytes, it is left as it is without being read again.
int WriteCacheEntries(const std::string& cachePath, std::span<const FileRecord* const> entries,
                      bool sweep = true, const CacheFileSeen* seen = nullptr);

// Removes the temporary files cachePath + ".<pid>.<n>.tmp" that writers
// which are no longer running left in the cache file's folder (a search
// killed between writing and renaming). A file is removed only when it is a
// regular file that no writer holds locked and either its process is gone or
// it is more than a minute old, so that a search running at the same time
// in another process keeps its file. Returns the number removed.
// WriteCacheFile calls it after every cache file it puts or leaves in place.
int RemoveStrayTemporaries(const std::string& cachePath);

// Whether a folder entry's name is that of a temporary cache file, which
// RemoveStrayTemporaries would look at.
bool IsCacheTemporaryName(std::string_view name);

// Whether a cache entry may stand in for decoding its file: a computed
// signature (width above 0, height not negative) with a well-formed digest.
bool IsReusableEntry(const FileRecord& entry);

}  // namespace norvane
