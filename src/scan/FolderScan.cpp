#include "scan/FolderScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
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

// An entry of the folder being listed that passed the name test, with its
// kind as the listing gave it (or, where the listing gave none, as asked),
// and once asked about, its size and time. Kept small so that sorting a
// large folder moves little data.
struct FoundFile {
  std::string name;
  EntryType type = EntryType::Unknown;
  bool haveInfo = false;
  mode_t mode = 0;
  off_t size = 0;
  std::int64_t mtime = 0;

  void Take(const struct stat& st) {
    haveInfo = true;
    mode = st.st_mode;
    size = st.st_size;
    mtime = static_cast<std::int64_t>(st.st_mtime);
  }
};

// One folder's files: listed by the walk, asked about by whichever thread
// takes the job, which also sorts them by name.
struct FolderJob {
  std::string folder;
  std::vector<FoundFile> files;
};

// Walks the tree first and builds the records afterwards: the list then
// grows once, to its exact final size, instead of moving every record (each
// carries a large block of statistics) on every doubling and leaving the
// freed blocks behind in the heap. The jobs are numbered in the order of
// the records (each sub-folder's before its folder's own files), so the
// order does not depend on which thread asked about which folder.
class Scanner {
 public:
  Scanner(const ScanOptions& options, const FolderLister& lister) : options_(options), lister_(lister) {}
  ~Scanner() { JoinHelper(); }
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Lists the tree and asks about every file. Returns false when `folder`
  // or any folder below it could not be listed.
  bool Scan(const std::string& folder) {
    const bool complete = Walk(folder);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      walked_ = true;
    }
    changed_.notify_all();
    TakeJobs();
    JoinHelper();
    return complete;
  }

  // Appends a record for every file found, folder by folder.
  void AppendTo(FileList& list) {
    list.reserve(list.size() + fileCount_);
    for (FolderJob& job : jobs_) {
      const SharedText folder(std::move(job.folder));
      for (FoundFile& file : job.files) {
        FileRecord& record = list.emplace_back();
        record.folder = folder;
        record.name = std::move(file.name);
        // A folder that passes the name test (sub-folders off) is recorded
        // with size 0 and its own modification time.
        record.size = S_ISDIR(file.mode) ? 0 : LowSizeBits(file.size);
        record.date = FormatScanDate(file.mtime, options_.utcOffset);
      }
      job.files = {};
    }
  }

 private:
  bool Walk(const std::string& folder) {
    std::vector<FolderEntry> entries;
    errno = 0;
    if (!lister_(folder, entries)) {
      // A lister that fails without saying why still reports a failure.
      const int error = errno != 0 ? errno : EIO;
      if (options_.failures != nullptr) options_.failures->push_back(ScanFailure{folder, error});
      return false;
    }

    bool complete = true;
    FolderJob job{folder, {}};
    for (FolderEntry& entry : entries) {
      if (IsDotEntry(entry.name)) continue;

      FoundFile candidate;
      candidate.type = entry.type;
      // Some file systems do not report the kind in the listing; only then is
      // every entry asked, and without following links.
      if (candidate.type == EntryType::Unknown) {
        const std::string path = folder + "/" + entry.name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        candidate.Take(st);
        candidate.type = TypeFromMode(st.st_mode);
      }

      if (candidate.type == EntryType::Folder && options_.recurse) {
        // A sub-folder that cannot be listed is left out, but its siblings and
        // this folder's own files are still collected.
        if (!Walk(folder + "/" + entry.name)) complete = false;
        continue;
      }
      if (candidate.type == EntryType::Other) continue;
      if (!HasImageExtension(entry.name, options_.gifEnabled, options_.pngEnabled)) {
        if (options_.otherName) options_.otherName(folder, entry.name);
        continue;
      }
      candidate.name = std::move(entry.name);
      job.files.push_back(std::move(candidate));
    }
    if (!job.files.empty()) Publish(std::move(job));
    return complete;
  }

  void Publish(FolderJob job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      listedFiles_ += job.files.size();
      // A deque keeps the jobs already handed out where they are.
      jobs_.push_back(std::move(job));
    }
    if (!helper_.joinable() && listedFiles_ > options_.secondThreadFrom && std::thread::hardware_concurrency() > 1) {
      helper_ = std::thread([this] { TakeJobs(); });
    }
    changed_.notify_one();
  }

  // Asks about the files of one job after another until the walk is over
  // and no job is left.
  void TakeJobs() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (nextJob_ < jobs_.size()) {
        FolderJob& job = jobs_[nextJob_++];
        lock.unlock();
        Ask(job);
        lock.lock();
        fileCount_ += job.files.size();
      } else if (walked_) {
        return;
      } else {
        changed_.wait(lock);
      }
    }
  }

  void JoinHelper() {
    if (helper_.joinable()) helper_.join();
  }

  // Entries are asked about relative to the folder, which spares the system
  // walking the whole path again for every file. A folder that cannot be
  // opened so is asked about by full paths.
  void Ask(FolderJob& job) const {
    const UniqueFd dir(::open(job.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string path;
    const auto info = [&](const std::string& name, struct stat& st, bool follow) {
      if (dir.get() >= 0) return ::fstatat(dir.get(), name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
      path.assign(job.folder).append("/").append(name);
      return (follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0;
    };
    // Sorted by name first: the files are then asked about in the order
    // their records take, and those that still count move to the front.
    std::sort(job.files.begin(), job.files.end(),
              [](const FoundFile& a, const FoundFile& b) { return NameBefore(a.name, b.name); });
    std::size_t kept = 0;
    for (FoundFile& file : job.files) {
      struct stat st {};
      if (file.type == EntryType::Link) {
        // A link counts as the file it points to; links to folders are never
        // followed, because a link can make the tree loop.
        if (!info(file.name, st, true) || !S_ISREG(st.st_mode)) continue;
        file.Take(st);
      } else {
        if (!file.haveInfo) {
          if (!info(file.name, st, false)) continue;
          file.Take(st);
        }
        // The entry may have been replaced since it was listed.
        if (TypeFromMode(file.mode) != file.type) continue;
      }
      if (&job.files[kept] != &file) job.files[kept] = std::move(file);
      ++kept;
    }
    job.files.erase(job.files.begin() + static_cast<std::ptrdiff_t>(kept), job.files.end());
  }

  const ScanOptions& options_;
  const FolderLister& lister_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<FolderJob> jobs_;
  std::size_t nextJob_ = 0;
  std::size_t listedFiles_ = 0;
  std::size_t fileCount_ = 0;
  bool walked_ = false;
  std::thread helper_;
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

DateField FormatScanDate(std::int64_t seconds, long utcOffset) {
  std::time_t shifted = 0;
  std::tm parts{};
  if (__builtin_add_overflow(seconds, utcOffset, &shifted) || gmtime_r(&shifted, &parts) == nullptr) {
    // A time beyond the calendar's range still gets a date text of the usual shape.
    return DateField::FromParts(0, 0, 0, 0, 0, 0);
  }
  const long long year = static_cast<long long>(parts.tm_year) + 1900;
  if (year >= 0 && year <= 9999) {
    return DateField::FromParts(static_cast<int>(year), parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                                parts.tm_sec);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04lld/%02d/%02d %02d:%02d:%02d",
                year, parts.tm_mon + 1, parts.tm_mday,
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
