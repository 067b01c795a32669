#include "cache/FolderSignatureStore.h"

#include <utility>
#include <vector>

#include "cache/CacheFile.h"
#include "scan/FolderScan.h"

namespace norvane {
namespace {

// A file's entry when its signature is not (or not yet) known: its current
// name, date and size without a signature, so that an old width can never
// stand beside a digest and grid that do not belong to the file's state.
FileRecord BlankEntry(const FileRecord& record) {
  FileRecord entry = record;
  entry.width = 0;
  entry.height = 0;
  return entry;
}

// Whether writing `record` gives the bytes of `entry`.
bool WritesAs(const FileRecord& record, const FileRecord& entry) {
  return record.name == entry.name && record.date == entry.date && record.size == entry.size &&
         record.width == entry.width && record.height == entry.height && record.digest == entry.digest &&
         record.grid == entry.grid;
}

}  // namespace

// One forward pass over the files and the entries, both in name order. An
// entry is matched only to the file of its name at its place in that order,
// so a cache file with entries out of order never lends one file's
// signature to another.
FolderPlan PlanFolder(std::span<const FileRecord> folder, bool cacheEnabled) {
  FolderPlan plan;
  if (folder.empty()) return plan;
  plan.cachePath = CachePathFor(folder.front().folder);
  if (cacheEnabled) ReadCacheFile(plan.cachePath, folder.front().folder, plan.entries, kMaxCacheRecords, &plan.seen);
  if (plan.entries.empty()) {
    // No usable cache: every file gets an entry without a signature from
    // the start, so that a stop still leaves one entry per file. These
    // entries were not read, so the file is no guide to what gets written.
    plan.seen = CacheFileSeen{};
    plan.entries.reserve(folder.size());
    for (const FileRecord& record : folder) plan.entries.push_back(BlankEntry(record));
  }

  plan.files.resize(folder.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < folder.size();) {
    const FileRecord& record = folder[i];
    FolderPlan::File& file = plan.files[i];
    if (k < plan.entries.size() && NameBefore(plan.entries[k].name, record.name)) {
      // An entry whose file is gone.
      ++k;
      continue;
    }
    if (k < plan.entries.size() && plan.entries[k].name == record.name) {
      const FileRecord& entry = plan.entries[k];
      file.entry = k;
      file.reuse = cacheEnabled && IsReusableEntry(entry) && entry.date == record.date &&
                   entry.size == record.size;
      ++k;
    }
    // Otherwise a file after the last entry, or one that sorts before entry
    // k: it had no entry and gets one when it is computed.
    file.entriesAfter = k;
    if (!file.reuse) plan.computePaths.push_back(record.path());
    ++i;
  }
  return plan;
}

// The new entry list is built by appending, which gives the same list as
// editing the old one in place but never shifts entries around. Entries
// after the last file belong to files that are gone. The list refers to the
// records and entries where they are; only a blank entry is made anew.
int CommitFolder(FolderPlan& plan, std::span<const FileRecord> folder, std::size_t done, bool stopped,
                 bool sweep) {
  std::vector<const FileRecord*> written;
  written.reserve(folder.size() + (stopped ? plan.entries.size() + 1 : 0));
  for (std::size_t i = 0; i < done; ++i) written.push_back(&folder[i]);
  FileRecord blank;
  if (stopped && done < folder.size()) {
    const FolderPlan::File& file = plan.files[done];
    if (file.reuse) {
      written.push_back(&plan.entries[file.entry]);
    } else {
      blank = BlankEntry(folder[done]);
      written.push_back(&blank);
    }
    // Entries not visited yet stay as they were.
    for (std::size_t k = file.entriesAfter; k < plan.entries.size(); ++k) written.push_back(&plan.entries[k]);
  }
  // Entries that are those read, one for one, need not be formatted and
  // compared with the file again when the file is still the one read.
  bool asRead = plan.seen.rewritesSame && written.size() == plan.entries.size();
  for (std::size_t k = 0; asRead && k < written.size(); ++k) asRead = WritesAs(*written[k], plan.entries[k]);
  return WriteCacheEntries(plan.cachePath, written, sweep, asRead ? &plan.seen : nullptr);
}

}  // namespace norvane
