#include "cache/FolderSignatureStore.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "cache/CacheFile.h"

namespace norvane {
namespace {

// The order of the folder scan: bytes compared as unsigned values, a proper
// prefix first (std::string compares chars through char_traits<char>, which
// orders them as unsigned char).
bool NameBefore(const std::string& a, const std::string& b) { return a < b; }

// The step's copy of a record whose signature is to be computed starts
// without one, so that a failed decode can never leave an old width beside
// a digest and grid that do not belong to the file's current state.
FileRecord ComputeCopy(const FileRecord& record) {
  FileRecord copy = record;
  copy.width = 0;
  copy.height = 0;
  return copy;
}

}  // namespace

FolderSignatureStore::FolderSignatureStore(FileStep step, ComputePlan plan)
    : step_(std::move(step)), plan_(std::move(plan)) {}

int FolderSignatureStore::Update(FileList& group, bool cacheEnabled) {
  cacheEnabled_ = cacheEnabled;
  entries_.clear();
  if (group.empty()) {
    folder_.clear();
    cachePath_.clear();
    return 0;
  }
  folder_ = group.front().folder;
  cachePath_ = CachePathFor(folder_);

  FileList previous;
  // An absent, foreign or damaged file simply leaves the list empty.
  if (cacheEnabled_) ReadCacheFile(cachePath_, folder_, previous);
  Merge(group, previous);
  // Written in every case: with caching off the file is rebuilt from fresh
  // signatures, and after a stop it keeps what is still valid.
  WriteCacheFile(cachePath_, entries_);
  return 0;
}

// Two forward passes over the group and the previous entries, both in name
// order: the first decides for every file which entry it has and whether
// that entry is reused, so that the owner can start on the files to compute
// before the first step; the second calls the steps and builds the new
// entry list by appending, which gives the same list as editing the previous
// one in place but never shifts entries around.
void FolderSignatureStore::Merge(FileList& group, FileList& previous) {
  entries_.reserve(group.size());
  if (previous.empty()) {
    // No usable cache: every file gets an entry without a signature from
    // the start, so that a stop still leaves one entry per file.
    previous.reserve(group.size());
    for (const FileRecord& record : group) {
      FileRecord entry = record;
      entry.width = 0;
      previous.push_back(std::move(entry));
    }
  }

  constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);
  std::vector<std::size_t> entryOf(group.size(), kNoEntry);
  std::vector<std::size_t> entriesAfter(group.size(), 0);  // entries passed once file i is done
  std::vector<bool> reuse(group.size(), false);
  std::size_t k = 0;
  for (std::size_t i = 0; i < group.size();) {
    const FileRecord& record = group[i];
    if (k < previous.size() && NameBefore(previous[k].name, record.name)) {
      // An entry whose file is gone.
      ++k;
      continue;
    }
    if (k < previous.size() && previous[k].name == record.name) {
      const FileRecord& entry = previous[k];
      entryOf[i] = k;
      reuse[i] = cacheEnabled_ && IsReusableEntry(entry) && entry.date == record.date &&
                 entry.size == record.size;
      ++k;
    }
    // Otherwise a file after the last entry, or one that sorts before entry
    // k: it had no entry and gets one when it is computed.
    entriesAfter[i] = k;
    ++i;
  }

  if (plan_) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < group.size(); ++i) {
      if (!reuse[i]) paths.push_back(group[i].path);
    }
    plan_(paths);
  }

  for (std::size_t i = 0; i < group.size(); ++i) {
    FileRecord& record = group[i];
    int status = kStepDone;
    if (reuse[i]) {
      FileRecord& entry = previous[entryOf[i]];
      record.width = entry.width;
      record.height = entry.height;
      record.digest = entry.digest;
      record.grid = entry.grid;
      FileRecord copy = record;
      status = step_(copy, true, false, false);
      entries_.push_back(std::move(entry));
    } else {
      FileRecord copy = ComputeCopy(record);
      status = step_(copy, true, true, true);
      record = copy;
      entries_.push_back(std::move(copy));
    }
    if (status == kStepStopped) {
      // Entries not visited yet stay as they were.
      for (k = entriesAfter[i]; k < previous.size(); ++k) entries_.push_back(std::move(previous[k]));
      return;
    }
  }
  // Entries after the last file belong to files that are gone.
}

}  // namespace norvane
