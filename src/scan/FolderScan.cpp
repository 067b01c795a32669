#include "scan/FolderScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>
#include <utility>

#include "base/Ascii.h"
#include "base/FileDescriptor.h"

namespace norvane {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

EntryType TypeFromDirent(unsigned char type) {
  switch (type) {
    case DT_REG: return EntryType::Regular;
    case DT_DIR: return EntryType::Folder;
    case DT_LNK: return EntryType::Link;
    case DT_UNKNOWN: return EntryType::Unknown;
    default: return EntryType::Other;  // FIFOs, sockets, devices
  }
}

EntryType TypeFromMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryType::Regular;
  if (S_ISDIR(mode)) return EntryType::Folder;
  if (S_ISLNK(mode)) return EntryType::Link;
  return EntryType::Other;
}

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

// The extension is the text from the last "." on; a name without one is
// never an image. Only ASCII letters are folded, whatever the locale.
bool HasImageExtension(const std::string& name, bool gifEnabled, bool pngEnabled) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string_view ext = std::string_view(name).substr(dot);
  return EqualsIgnoringAsciiCase(ext, ".jpg") || EqualsIgnoringAsciiCase(ext, ".bmp") ||
         (gifEnabled && EqualsIgnoringAsciiCase(ext, ".gif")) ||
         (pngEnabled && EqualsIgnoringAsciiCase(ext, ".png"));
}

// Only the low 32 bits of the size are kept, and later stages treat them as
// signed: a file of 5,000,000,000 bytes is recorded as 705,032,704.
std::int32_t LowSizeBits(off_t size) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(size)));
}

// A file of the folder being listed that passed the name test, kept small
// so that sorting a large folder moves little data.
struct FoundFile {
  std::string name;
  std::int32_t size = 0;
  std::int64_t mtime = 0;
};

// The files of one folder, sorted by name, in the order the records get them.
struct FoundFolder {
  std::string folder;
  std::vector<FoundFile> files;
};

// Walks the tree first and builds the records afterwards: the list then
// grows once, to its exact final size, instead of moving every record (each
// carries a large block of statistics) on every doubling and leaving the
// freed blocks behind in the heap.
class Scanner {
 public:
  Scanner(const ScanOptions& options, const FolderLister& lister) : options_(options), lister_(lister) {}

  // Returns false when `folder` or any folder below it could not be listed.
  bool Scan(const std::string& folder) {
    std::vector<FolderEntry> entries;
    errno = 0;
    if (!lister_(folder, entries)) {
      // A lister that fails without saying why still reports a failure.
      const int error = errno != 0 ? errno : EIO;
      if (options_.failures != nullptr) options_.failures->push_back(ScanFailure{folder, error});
      return false;
    }
    // Entries are asked about relative to the folder, which spares the
    // system walking the whole path again for every file. A folder that
    // cannot be opened so is asked about by full paths.
    const UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));

    bool complete = true;
    std::vector<FoundFile> own;
    std::string path;
    const auto info = [&](const std::string& name, struct stat& st, bool follow) {
      if (dir.get() >= 0) return ::fstatat(dir.get(), name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
      path.assign(folder).append("/").append(name);
      return (follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0;
    };
    for (FolderEntry& entry : entries) {
      if (IsDotEntry(entry.name)) continue;

      struct stat st {};
      bool haveInfo = false;
      EntryType type = entry.type;
      // Some file systems do not report the kind in the listing; only then is
      // every entry asked, and without following links.
      if (type == EntryType::Unknown) {
        if (!info(entry.name, st, false)) continue;
        haveInfo = true;
        type = TypeFromMode(st.st_mode);
      }

      if (type == EntryType::Folder && options_.recurse) {
        // A sub-folder that cannot be listed is left out, but its siblings and
        // this folder's own files are still collected.
        if (!Scan(folder + "/" + entry.name)) complete = false;
        continue;
      }
      if (type == EntryType::Other) continue;
      if (!HasImageExtension(entry.name, options_.gifEnabled, options_.pngEnabled)) continue;

      if (type == EntryType::Link) {
        // A link counts as the file it points to; links to folders are never
        // followed, because a link can make the tree loop.
        if (!info(entry.name, st, true) || !S_ISREG(st.st_mode)) continue;
      } else {
        if (!haveInfo && !info(entry.name, st, false)) continue;
        // The entry may have been replaced since it was listed.
        if (TypeFromMode(st.st_mode) != type) continue;
      }
      // A folder that passes the name test (sub-folders off) is recorded with
      // size 0 and its own modification time.
      const std::int32_t size = S_ISDIR(st.st_mode) ? 0 : LowSizeBits(st.st_size);
      own.push_back(FoundFile{std::move(entry.name), size, static_cast<std::int64_t>(st.st_mtime)});
    }
    entries = {};

    std::sort(own.begin(), own.end(),
              [](const FoundFile& a, const FoundFile& b) { return NameBefore(a.name, b.name); });
    if (!own.empty()) {
      fileCount_ += own.size();
      found_.push_back(FoundFolder{folder, std::move(own)});
    }
    return complete;
  }

  // Appends a record for every file found, folder by folder in the order the
  // walk finished them.
  void AppendTo(FileList& list) {
    list.reserve(list.size() + fileCount_);
    for (FoundFolder& found : found_) {
      for (FoundFile& file : found.files) {
        FileRecord& record = list.emplace_back();
        record.folder = found.folder;
        record.path.reserve(found.folder.size() + 1 + file.name.size());
        record.path.assign(found.folder).append("/").append(file.name);
        record.name = std::move(file.name);
        record.size = file.size;
        record.date = FormatScanDate(file.mtime, options_.utcOffset);
      }
      found.files = {};
    }
  }

 private:
  const ScanOptions& options_;
  const FolderLister& lister_;
  std::vector<FoundFolder> found_;
  std::size_t fileCount_ = 0;
};

}  // namespace

bool NameBefore(std::string_view a, std::string_view b) {
  // std::string_view compares chars through char_traits<char>, which orders
  // them as unsigned char, a proper prefix first.
  return a < b;
}

bool ListFolderEntries(const std::string& folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  DirHandle dir(opendir(folder.c_str()));
  if (!dir) return false;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) return errno == 0;
    entries.push_back(FolderEntry{entry->d_name, TypeFromDirent(entry->d_type)});
  }
}

long CurrentUtcOffset() {
  // localtime_r need not look at TZ again by itself; tzset makes a changed
  // zone take effect for this scan.
  tzset();
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  if (localtime_r(&now, &parts) == nullptr) return 0;
  return parts.tm_gmtoff;
}

std::string FormatScanDate(std::int64_t seconds, long utcOffset) {
  std::time_t shifted = 0;
  std::tm parts{};
  if (__builtin_add_overflow(seconds, utcOffset, &shifted) || gmtime_r(&shifted, &parts) == nullptr) {
    // A time beyond the calendar's range still gets a date text of the usual shape.
    return "0000/00/00 00:00:00";
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04lld/%02d/%02d %02d:%02d:%02d",
                static_cast<long long>(parts.tm_year) + 1900, parts.tm_mon + 1, parts.tm_mday,
                parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

bool ScanFolder(const std::string& folder, FileList& list, const ScanOptions& options) {
  const FolderLister lister = options.lister ? options.lister : FolderLister(ListFolderEntries);
  Scanner scanner(options, lister);
  const bool complete = scanner.Scan(folder);
  scanner.AppendTo(list);
  return complete;
}

bool ScanFolder(const std::string& folder, FileList& list, bool recurse, bool gifEnabled,
                bool pngEnabled, std::vector<ScanFailure>* failures) {
  ScanOptions options;
  options.failures = failures;
  options.recurse = recurse;
  options.gifEnabled = gifEnabled;
  options.pngEnabled = pngEnabled;
  options.utcOffset = CurrentUtcOffset();
  return ScanFolder(folder, list, options);
}

}  // namespace norvane
