// Collecting the image files of a folder tree into a FileList.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/FileRecord.h"

namespace norvane {

// The kind of a folder entry as the listing reports it, before anything is
// asked of the file itself. Links and unknown kinds are resolved by the scan.
enum class EntryType { Unknown, Regular, Folder, Link, Other };

struct FolderEntry {
  std::string name;
  EntryType type = EntryType::Unknown;
};

// Fills `entries` with every entry of `folder` in the order the file system
// delivers them ("." and ".." included if the system reports them). Returns
// false, with `entries` in no particular state, when the folder cannot be read.
using FolderLister = std::function<bool(const std::string& folder, std::vector<FolderEntry>& entries)>;

// The lister the scan uses unless told otherwise: opendir/readdir.
bool ListFolderEntries(const std::string& folder, std::vector<FolderEntry>& entries);

// A folder the scan could not list, with the errno of the failing call.
struct ScanFailure {
  std::string folder;
  int error = 0;
};

// The order of names within a folder: bytes compared as unsigned values, so
// that UTF-8 lead bytes sort after ASCII, and a name that is a proper prefix
// of another first. The scan lists each folder's files in this order and the
// cache file keeps its entries in it.
bool NameBefore(std::string_view a, std::string_view b);

struct ScanOptions {
  bool recurse = false;     // descend into sub-folders
  bool gifEnabled = false;  // admit ".gif" names
  bool pngEnabled = false;  // admit ".png" names
  // Seconds east of UTC added to every modification time. The offset in force
  // when the scan runs is used for every file, whatever the offset at the
  // file's own time was.
  long utcOffset = 0;
  FolderLister lister;  // empty: ListFolderEntries
  // Once the walk has listed more image files than this, a second thread
  // asks for their sizes and times while the walk goes on; the records come
  // out in the same order either way.
  std::size_t secondThreadFrom = 4096;
  // When set, called with the folder and the name of every listed entry
  // that is neither collected nor descended into by its name (a file or
  // link whose name is not an image name), on the calling thread.
  std::function<void(const std::string& folder, std::string_view name)> otherName;
  // When set, every folder that could not be listed is appended here, in
  // the order the scan met them.
  std::vector<ScanFailure>* failures = nullptr;
};

// Appends the image files of `folder` (and, with `recurse`, of every folder
// below it) to `list`: each sub-folder's records first, in listing order, then
// the folder's own files sorted by name. A sub-folder that cannot be listed is
// left out and the rest still collected. Returns false when any folder could
// not be listed; when `folder` itself cannot be, nothing is appended.
bool ScanFolder(const std::string& folder, FileList& list, bool recurse, bool gifEnabled,
                bool pngEnabled, std::vector<ScanFailure>* failures = nullptr);
bool ScanFolder(const std::string& folder, FileList& list, const ScanOptions& options);

// Seconds east of UTC in the local time zone now, daylight saving included.
long CurrentUtcOffset();

// "YYYY/MM/DD hh:mm:ss" of `seconds` since the epoch shifted by `utcOffset`.
DateField FormatScanDate(std::int64_t seconds, long utcOffset);

}  // namespace norvane
