// A search run: from the press of Start to the result list sorted by
// difference, shown through a SearchView. The state lives in one object that
// the window (or another front end) owns for its whole life.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "gather/SignatureGatherer.h"
#include "image/PluginReader.h"
#include "scan/FileRecord.h"
#include "scan/FolderScan.h"
#include "search/SearchView.h"

namespace norvane {

struct Settings;

class SearchSession {
 public:
  // The session keeps references to the view and the settings; both must
  // outlive it. `plugins` says whether .gif and .png files are collected and
  // where their readers are loaded from.
  SearchSession(SearchView& view, Settings& settings, PluginFlags plugins);

  SearchSession(const SearchSession&) = delete;
  SearchSession& operator=(const SearchSession&) = delete;

  // The Start button. While a search runs (the press arrived through
  // PumpMessages) it only asks whether to stop and, on Yes, requests the stop.
  // Otherwise it runs a whole search:
  //   1 prepare: take the folder texts, turn Start into Stop, clear panes and list
  //   2 scan the target folder into records ("no image files" ends the run)
  //   3 list every record (columns 0 to 3), no message pumping
  //   4 signatures, one folder at a time: the store plans which cached
  //     signatures hold, the gatherer computes the rest, the store writes
  //     the cache; a stop is honoured between files and drops the records
  //     from the first one not gathered
  //   5 order the records and list them again (columns 0 to 5); no stop
  //     is possible from here on
  //   6 find partners, sort the list by difference
  //   7 select row 0 and go back to idle
  void OnStart();

  // Threads that decode and compute signatures: 1 does everything on the
  // calling thread; more start that many workers while the calling thread
  // shows the results in order. The default is the hardware threads.
  void SetJobs(int jobs) { jobs_ = jobs < 1 ? 1 : jobs; }
  int jobs() const { return jobs_; }
  // Keeps decoding off the calling thread even with one job: at least one
  // worker decodes, and the calling thread only shows the results (a window,
  // whose thread must stay free for its events).
  void SetDecodeOffCallingThread(bool on) { offCallingThread_ = on; }

  // Requests a stop without asking (a close request to the window).
  void RequestStop() { stopRequested_ = true; }

  bool searching() const { return searching_; }
  bool stopRequested() const { return stopRequested_; }
  int stopIndex() const { return stopIndex_; }
  // The records of the last search in the order of the comparison; rows of
  // the result list refer to them by position.
  const FileList& records() const { return records_; }
  FileList& records() { return records_; }
  // The folders the last search's scan could not list (the target folder
  // itself included); their images are missing from the records.
  const std::vector<ScanFailure>& scanFailures() const { return scanFailures_; }

 private:
  void RunSearch();
  void GatherSignatures();
  void ShowProgress(const FileRecord& record);
  void ListDimensions(const FileRecord& record);
  void FillList(bool withDimensions);
  void Finish();

  SearchView& view_;
  Settings& settings_;
  const PluginFlags plugins_;

  FileList records_;
  std::vector<ScanFailure> scanFailures_;
  // Folders in which the scan saw temporary cache files: only their cache
  // writes sweep for the ones killed searches left.
  std::unordered_set<std::string> temporaryFolders_;
  bool searching_ = false;
  bool stopRequested_ = false;
  std::int32_t stopIndex_ = 0;
  int jobs_ = SignatureGatherer::HardwareWorkers();
  bool offCallingThread_ = false;
};

}  // namespace norvane
