// Brings the signatures of one folder's image files up to date for a search,
// reusing what the folder's cache file still holds and having the rest
// computed by a per-file step that the owner supplies.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "scan/FileRecord.h"

namespace norvane {

// Results of the per-file step.
inline constexpr int kStepDone = 0;      // the record was handled
inline constexpr int kStepFailed = -1;   // the image could not be decoded: width stays 0
inline constexpr int kStepStopped = -2;  // a stop was requested: the record is untouched

// The per-file step: called for every record of a group, in group order,
// always on a copy of the record.
//   (record, true, false, false)  the cached signature is reused: the step only
//                                 shows progress; nothing is decoded.
//   (record, true, true, true)    the signature must be computed: the step
//                                 decodes the file and, when that succeeds,
//                                 writes width, height, digest and grid.
// Returns kStepDone, kStepFailed or kStepStopped. A stop request is expected
// to arrive between files; the next call then returns kStepStopped.
using FileStep =
    std::function<int(FileRecord& record, bool listUpdate, bool display, bool compute)>;

// Told, once per group and before its first step, the paths of the records
// whose signatures the step will be asked to compute, in the order it will be
// asked, so that the owner can start on them early.
using ComputePlan = std::function<void(const std::vector<std::string>& paths)>;

// One per search run, used for every folder group of the run in turn.
class FolderSignatureStore {
 public:
  explicit FolderSignatureStore(FileStep step, ComputePlan plan = {});

  // Gives every record of `group` (the consecutive records of one folder, in
  // ascending byte order of name, never empty) its width, height, digest and
  // grid: from the folder's cache file when `cacheEnabled` is set and the
  // entry still matches the file's name, date text and size, otherwise through
  // the step. Records are changed in place; their index, folder, name, path,
  // size and date are kept. Afterwards the folder's cache file is rewritten
  // with one entry per record, in name order, even when caching is off.
  //
  // When the step reports a stop, the update ends at once and the cache file
  // is still written: it holds the entries already brought up to date, the
  // entry of the record at which the stop happened (a valid one unchanged,
  // otherwise the file's current name, date and size with width 0) and every
  // entry not yet visited, unchanged. Files not yet visited that had no entry
  // get none, unless the folder had no usable cache file at all: then every
  // file has an entry from the start, with width 0 until computed. The
  // records from the stopped one on are to be dropped by the caller.
  //
  // Always returns 0; a stop is learnt from the step's own state.
  int Update(FileList& group, bool cacheEnabled);

  // The folder of the last update, its cache file path and the entries that
  // were written for it (for inspection after an update).
  const std::string& folder() const { return folder_; }
  const std::string& cachePath() const { return cachePath_; }
  const FileList& entries() const { return entries_; }

 private:
  void Merge(FileList& group, FileList& previous);

  FileStep step_;
  ComputePlan plan_;
  FileList entries_;
  bool cacheEnabled_ = false;
  std::string folder_;
  std::string cachePath_;
};

}  // namespace norvane
