// The folder signature store: what a search does with one folder's cache
// file. PlanFolder reads the cache and decides, file by file, which cached
// signatures still hold; the search computes the rest in its own loop and
// hands the finished records to CommitFolder, which writes the cache file.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "cache/CacheFile.h"
#include "scan/FileRecord.h"

namespace norvane {

// The decision for one folder, file by file in the folder's order.
struct FolderPlan {
  struct File {
    // The cached signature still holds: cached() has its values. Otherwise
    // the file is to be decoded and its signature computed.
    bool reuse = false;
    std::size_t entry = 0;         // its entry in `entries` (valid with reuse)
    std::size_t entriesAfter = 0;  // entries of `entries` passed once this file is done
  };

  std::string cachePath;
  // The entries of the cache file as read, or, when the folder had no usable
  // cache file, one entry without a signature per file.
  FileList entries;
  std::vector<File> files;
  // The paths of the files to compute, in the order the search meets them.
  std::vector<std::string> computePaths;
  // The cache file as the read saw it.
  CacheFileSeen seen;

  bool reuses(std::size_t file) const { return files[file].reuse; }
  const FileRecord& cached(std::size_t file) const { return entries[files[file].entry]; }
};

// Reads the cache file of the folder of `folder` (the consecutive records of
// one folder, in ascending byte order of name, never empty) when
// `cacheEnabled` is set, and plans every file: an entry is reused when
// caching is on and it still matches the file's name, date text and size and
// holds a usable signature; every other file is to be computed. An absent,
// foreign or damaged cache file just means that every file is computed.
FolderPlan PlanFolder(std::span<const FileRecord> folder, bool cacheEnabled);

// Writes the folder's cache file after the search went through the plan:
// `folder` are the planned records, of which the first `done` were brought up
// to date by the caller (width, height, digest and grid: the cached values or
// freshly computed ones). The file gets one entry per record, in name order,
// even when caching is off.
//
// With `stopped` the search stopped at record `done`, and the file holds the
// entries brought up to date, the entry of that record (a reusable one
// unchanged, otherwise the file's current name, date and size with width 0)
// and every entry not yet visited, unchanged. Files not yet visited that had
// no entry get none, unless the folder had no usable cache file at all: then
// they keep their entries without a signature.
//
// Returns what WriteCacheFile returns; a search does not look at it.
//
// Without `sweep` the folder is not swept for temporaries that killed
// searches left (see RemoveStrayTemporaries): for a caller whose scan
// listed the folder and saw none.
int CommitFolder(FolderPlan& plan, std::span<const FileRecord> folder, std::size_t done, bool stopped,
                 bool sweep = true);

}  // namespace norvane
