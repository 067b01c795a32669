#include "search/SearchSession.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cache/CacheFile.h"
#include "cache/FolderSignatureStore.h"
#include "scan/FolderScan.h"
#include "search/FindPartners.h"
#include "search/RecordOrder.h"
#include "settings/Settings.h"
#include "signature/SignatureExtractor.h"

namespace norvane {

SearchSession::SearchSession(SearchView& view, Settings& settings, PluginFlags plugins)
    : view_(view), settings_(settings), plugins_(plugins) {}

void SearchSession::OnStart() {
  if (searching_) {
    // A second press while the run pumps messages: only the flag changes;
    // the run notices it at its next check between files.
    if (view_.AskYesNo(kStopQuestion, kConfirmCaption)) stopRequested_ = true;
    return;
  }
  RunSearch();
}

void SearchSession::RunSearch() {
  // Phase 1, prepare.
  stopRequested_ = false;
  searching_ = true;
  view_.CommitEdits();
  // The folder text is used whole; one longer than a Linux path can be is
  // refused before anything changes, instead of being cut to another folder.
  if (settings_.SearchFolder.size() > kMaxFolderText) {
    view_.Inform(kFolderTooLongText, kInformationCaption);
    searching_ = false;
    return;
  }
  view_.SetStartButton(kStopCaption, true);
  view_.EnableCommands(false);
  const std::string folder = settings_.SearchFolder;
  view_.ClearPanes();
  view_.ListDeleteAll();

  // Phase 2, scan. Its result is not looked at: whatever it found is used.
  records_.clear();
  scanFailures_.clear();
  temporaryFolders_.clear();
  ScanOptions scan;
  scan.recurse = settings_.EnableSubFolder;
  scan.gifEnabled = plugins_.gifAvailable;
  scan.pngEnabled = plugins_.pngAvailable;
  scan.utcOffset = CurrentUtcOffset();
  scan.failures = &scanFailures_;
  scan.otherName = [this](const std::string& listed, std::string_view name) {
    if (IsCacheTemporaryName(name)) temporaryFolders_.insert(listed);
  };
  ScanFolder(folder, records_, scan);
  if (records_.empty()) {
    view_.Inform(kNoImagesText, kInformationCaption);
    Finish();
    return;
  }

  // Phase 3, first list fill: the user sees the files at once. Width 0 marks
  // a record whose signature has not been gathered.
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const int row = static_cast<int>(i);
    FileRecord& record = records_[i];
    view_.ListInsertRow(row, DecimalText(row));
    view_.ListSetText(row, kColumnName, record.name);
    view_.ListSetText(row, kColumnSize, DecimalText(record.size));
    view_.ListSetText(row, kColumnDate, record.date.text());
    record.index = row;
    record.width = 0;
    record.height = 0;
  }

  // Phase 4, signatures.
  GatherSignatures();
  if (stopRequested_) {
    // Drop the records from the first one whose signature was not gathered,
    // from both lists. The rows go from the last one up, so that each
    // deletion moves no row behind it: the list ends the same as when the
    // first of them is deleted again and again, at a cost proportional to
    // the rows that go rather than to their square.
    const int n = static_cast<int>(records_.size());
    for (int row = n - 1; row >= stopIndex_; --row) view_.ListDeleteRow(row);
    records_.erase(records_.begin() + stopIndex_, records_.end());
  }

  // Phase 5, ordering. The Start button is disabled: a press still queued
  // is asked about in the pump below, but no stop is honoured any more.
  view_.PumpMessages();
  view_.SetStartButton(kStopCaption, false);
  view_.SetStatusText(kComparingText);
  view_.PumpMessages();
  if (!records_.empty()) SortRecords(records_, settings_.InitialSort);
  view_.ListDeleteAll();
  FillList(true);

  // Phase 6, comparison.
  FindPartners(records_, settings_, view_);
  view_.PumpMessages();
  view_.SortListByDifference(static_cast<int>(records_.size()));
  view_.PumpMessages();

  Finish();
}

// Phase 4, one folder at a time, each in three steps: the store reads the
// folder's cache and plans which cached signatures still hold; this loop
// goes through the folder's files in order, taking the cached values or the
// computed signature the gatherer hands over (it decodes and hashes the
// files to compute ahead of this loop, on worker threads, in the plan's
// order); the store then writes the folder's cache file from the finished
// records. A stop is honoured between files: stopIndex becomes the position
// of the first record not gathered.
namespace {

// Plans the folders of a search ahead of the loop that goes through them,
// on one more thread: reading a folder's cache file and matching it to the
// files takes longer than taking the cached values over. Both threads take
// folders in their order, the helper at most kPlansAhead beyond the one the
// loop is at, and Take hands over the loop's plan, made by either. The
// helper reads only the names, dates, sizes and folder texts of records in
// folders the loop has not reached.
class PlansAhead {
 public:
  static constexpr std::size_t kPlansAhead = 4;

  // Plans ahead only with `helper`; Take then plans every folder itself.
  PlansAhead(std::span<const FileRecord> records, bool cacheEnabled, bool helper) : cacheEnabled_(cacheEnabled) {
    for (std::size_t begin = 0; begin < records.size();) {
      std::size_t end = begin + 1;
      while (end < records.size() && records[end].folder == records[begin].folder) ++end;
      folders_.push_back(records.subspan(begin, end - begin));
      begin = end;
    }
    plans_.resize(folders_.size());
    done_.assign(folders_.size(), false);
    if (helper && folders_.size() > 1) helper_ = std::thread([this] { Run(); });
  }
  PlansAhead(const PlansAhead&) = delete;
  PlansAhead& operator=(const PlansAhead&) = delete;
  ~PlansAhead() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (helper_.joinable()) helper_.join();
  }

  // How many records folder `index` has.
  std::size_t Size(std::size_t index) const { return folders_[index].size(); }

  // The plan of folder `index`, whose records are `folder`: all of the
  // folder's records, or its first alone when the search stops there (that
  // plan is always made here).
  FolderPlan Take(std::size_t index, std::span<const FileRecord> folder) {
    std::unique_lock<std::mutex> lock(mutex_);
    at_ = index;
    changed_.notify_all();
    const bool whole = folder.size() == folders_[index].size();
    if (!whole || next_ <= index) {
      if (whole) next_ = index + 1;
      lock.unlock();
      return PlanFolder(folder, cacheEnabled_);
    }
    changed_.wait(lock, [&] { return static_cast<bool>(done_[index]); });
    return std::move(plans_[index]);
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stopping_ || (next_ < folders_.size() && next_ <= at_ + kPlansAhead); });
      if (stopping_) return;
      const std::size_t index = next_++;
      lock.unlock();
      FolderPlan plan = PlanFolder(folders_[index], cacheEnabled_);
      lock.lock();
      plans_[index] = std::move(plan);
      done_[index] = true;
      changed_.notify_all();
    }
  }

  const bool cacheEnabled_;
  std::vector<std::span<const FileRecord>> folders_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FolderPlan> plans_;
  std::vector<bool> done_;
  std::size_t next_ = 0;  // the first folder neither thread has taken up
  std::size_t at_ = 0;    // the folder the loop is at
  bool stopping_ = false;
  std::thread helper_;
};

}  // namespace

void SearchSession::GatherSignatures() {
  const std::size_t n = records_.size();
  stopIndex_ = static_cast<std::int32_t>(n);
  PlansAhead plans(records_, settings_.EnableCache, jobs_ > 1);
  for (std::size_t begin = 0, index = 0; begin < n; ++index) {
    // The records of one folder are consecutive. Once a stop is pending, the
    // next folder still goes through the store, with its first file alone:
    // the loop stops at that file and the store rewrites the folder's cache
    // file as a search stopped there leaves it. The gathering ends with it.
    const bool lastFolder = stopRequested_;
    const std::size_t end = begin + (lastFolder ? 1 : plans.Size(index));
    const std::span<FileRecord> folder(records_.data() + begin, end - begin);

    FolderPlan plan = plans.Take(index, folder);
    GatherOptions options;
    // With one job everything runs on this thread unless decoding is kept
    // off it; a folder whose signatures all come from its cache starts no
    // threads.
    const bool workers = jobs_ > 1 || offCallingThread_;
    options.workers = workers ? static_cast<int>(std::min<std::size_t>(plan.computePaths.size(),
                                                                      static_cast<std::size_t>(jobs_)))
                              : 0;
    options.plugins = plugins_.searchPath;
    SignatureGatherer gatherer(plan.computePaths, options);

    std::size_t done = 0;
    for (; done < folder.size() && !stopRequested_; ++done) {
      FileRecord& record = folder[done];
      if (plan.reuses(done)) {
        // Shown with its dimensions at once; nothing is decoded.
        const FileRecord& cached = plan.cached(done);
        record.width = cached.width;
        record.height = cached.height;
        record.digest = cached.digest;
        record.grid = cached.grid;
        ShowProgress(record);
        ListDimensions(record);
      } else {
        // Width 0 until the file is decoded; an undecodable file keeps it,
        // stays listed without a signature and is neither drawn nor waited
        // on.
        ShowProgress(record);
        view_.WaitUntil([&gatherer](int ms) { return gatherer.WaitNext(std::chrono::milliseconds(ms)); });
        GatheredFile file = gatherer.TakeNext();
        const DecodedImage* image = view_.SetLeftImage(record, std::move(file.image));
        if (image == nullptr) continue;
        record.width = image->width;
        record.height = image->height;
        view_.SetInfoText(kLeftSide, &record);
        ListDimensions(record);
        ApplySignature(record, file.signature, file.digest);
        view_.RepaintLeftPane();
      }
      view_.PumpMessages();
    }

    // Files decoded ahead of a stop are dropped with the gatherer, unseen.
    const bool stopped = done < folder.size();
    CommitFolder(plan, folder, done, stopped, temporaryFolders_.contains(folder.front().folder.str()));
    if (stopped) stopIndex_ = std::min(stopIndex_, static_cast<std::int32_t>(begin + done));
    if (lastFolder) return;
    begin = end;
  }
}

// Which file is being gathered: "検索中\n\r%d/%d" in the status field, the
// record in the left information text, the right one empty.
void SearchSession::ShowProgress(const FileRecord& record) {
  view_.SetStatusText(SearchingStatus(record.index + 1, static_cast<int>(records_.size())));
  view_.SetInfoText(kLeftSide, &record);
  view_.SetInfoText(kRightSide, nullptr);
}

// Columns 4 and 5 of a record with a picture. Before the ordering, row i
// shows record i.
void SearchSession::ListDimensions(const FileRecord& record) {
  if (record.width <= 0) return;
  view_.ListSetText(record.index, kColumnWidth, DecimalText(record.width));
  view_.ListSetText(record.index, kColumnHeight, DecimalText(record.height));
}

void SearchSession::FillList(bool withDimensions) {
  for (std::size_t j = 0; j < records_.size(); ++j) {
    const int row = static_cast<int>(j);
    const FileRecord& record = records_[j];
    view_.ListInsertRow(row, DecimalText(row));
    view_.ListSetText(row, kColumnName, record.name);
    view_.ListSetText(row, kColumnSize, DecimalText(record.size));
    view_.ListSetText(row, kColumnDate, record.date.text());
    if (withDimensions) {
      view_.ListSetText(row, kColumnWidth, DecimalText(record.width));
      view_.ListSetText(row, kColumnHeight, DecimalText(record.height));
      view_.PumpMessages();
    }
  }
}

void SearchSession::Finish() {
  view_.SelectFirstRow();
  searching_ = false;
  view_.SetStartButton(kStartCaption, true);
  view_.EnableCommands(true);
  view_.SetStatusText("");
}

}  // namespace norvane
