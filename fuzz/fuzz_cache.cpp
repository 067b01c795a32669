// Feeds arbitrary bytes to the cache file reader. A cache file is untrusted:
// whatever it holds, reading must stay inside the file and its records, and
// what was read must survive being written and read again unchanged.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cache/CacheFile.h"

namespace {

// One folder for the whole run, removed when the fuzzer exits (each input's
// file is removed after it), so that runs leave nothing behind.
struct Scratch {
  std::string path;
  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/norvane-fuzz-cache-XXXXXX";
    if (mkdtemp(path.data()) == nullptr) std::abort();
  }
  ~Scratch() { ::rmdir(path.c_str()); }
};

const std::string& ScratchFolder() {
  static const Scratch scratch;
  return scratch.path;
}

// The writer keeps a terminating zero in the date and digest fields, so a
// field that arrived full comes back one byte shorter; everything else must
// come back exactly.
bool SameEntry(const norvane::FileRecord& a, const norvane::FileRecord& b) {
  return a.name == b.name && a.date.str().substr(0, 19) == b.date && a.size == b.size && a.width == b.width &&
         a.height == b.height && a.digest.str().substr(0, 63) == b.digest && a.grid == b.grid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string folder = ScratchFolder();
  const std::string path = norvane::CachePathFor(folder);
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }

  norvane::FileList entries;
  if (norvane::ReadCacheFile(path, folder, entries) == 0) {
    if (entries.size() != (size - norvane::kCacheHeaderSize) / norvane::kCacheRecordSize) __builtin_trap();
    for (const auto& entry : entries) {
      if (norvane::IsReusableEntry(entry) && (entry.width <= 0 || entry.digest.size() != 32)) __builtin_trap();
    }
    if (norvane::WriteCacheFile(path, entries) != 0) __builtin_trap();
    norvane::FileList again;
    if (norvane::ReadCacheFile(path, folder, again) != 0 || again.size() != entries.size()) __builtin_trap();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!SameEntry(entries[i], again[i])) __builtin_trap();
    }
  }
  std::remove(path.c_str());
  return 0;
}
