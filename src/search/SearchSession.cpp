#include "search/SearchSession.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

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
  ScanFolder(folder, records_, settings_.EnableSubFolder, plugins_.gifAvailable,
             plugins_.pngAvailable);
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
    view_.ListSetText(row, kColumnDate, record.date);
    record.index = row;
    record.width = 0;
    record.height = 0;
  }

  // Phase 4, signatures.
  GatherSignatures();
  if (stopRequested_) {
    // Drop the records from the first one whose signature was not gathered,
    // from both lists.
    const int n = static_cast<int>(records_.size());
    for (int row = stopIndex_; row < n; ++row) view_.ListDeleteRow(stopIndex_);
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

void SearchSession::GatherSignatures() {
  FolderSignatureStore store(
      [this](FileRecord& record, bool listUpdate, bool display, bool compute) {
        return ProgressStep(record, listUpdate, display, compute);
      },
      [this](const std::vector<std::string>& paths) {
        // A folder whose signatures all come from its cache starts no threads.
        if (paths.empty()) return;
        GatherOptions options;
        const int files = static_cast<int>(std::min<std::size_t>(paths.size(), static_cast<std::size_t>(jobs_)));
        options.workers = jobs_ > 1 ? files : 0;
        options.plugins = plugins_.searchPath;
        gatherer_ = std::make_unique<SignatureGatherer>(paths, options);
      });
  const std::size_t n = records_.size();
  stopIndex_ = static_cast<std::int32_t>(n);

  FileList group;
  std::size_t groupStart = 0;
  auto updateGroup = [&] {
    store.Update(group, settings_.EnableCache);
    // After a stop the files decoded ahead are dropped here, unseen.
    gatherer_.reset();
    for (std::size_t k = 0; k < group.size() && groupStart + k < n; ++k) {
      records_[groupStart + k] = group[k];
    }
  };

  group.push_back(records_[0]);
  for (std::size_t i = 1; i < n && !stopRequested_; ++i) {
    if (records_[i].folder == records_[i - 1].folder) {
      group.push_back(records_[i]);
    } else {
      updateGroup();
      group.clear();
      group.push_back(records_[i]);
      groupStart = i;
    }
  }
  // The last group goes to the store also after a stop: the store then stops
  // at its first record, whose position becomes stopIndex.
  updateGroup();
}

void SearchSession::FillList(bool withDimensions) {
  for (std::size_t j = 0; j < records_.size(); ++j) {
    const int row = static_cast<int>(j);
    const FileRecord& record = records_[j];
    view_.ListInsertRow(row, DecimalText(row));
    view_.ListSetText(row, kColumnName, record.name);
    view_.ListSetText(row, kColumnSize, DecimalText(record.size));
    view_.ListSetText(row, kColumnDate, record.date);
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

// The record's file decoded: taken from the files decoded ahead when it is
// the next of them (`prepared` is then set: its signature is computed too),
// otherwise decoded here.
GatheredFile SearchSession::DecodeForStep(const FileRecord& record, bool& prepared) {
  if (gatherer_ != nullptr && gatherer_->NextPath() == record.path) {
    prepared = true;
    return gatherer_->TakeNext();
  }
  prepared = false;
  GatheredFile file;
  file.image = DecodeImageFile(record.path, plugins_.searchPath);
  return file;
}

int SearchSession::ProgressStep(FileRecord& record, bool listUpdate, bool display, bool compute) {
  if (stopRequested_) {
    if (record.index < stopIndex_) stopIndex_ = record.index;
    return kStepStopped;
  }
  view_.SetStatusText(SearchingStatus(record.index + 1, static_cast<int>(records_.size())));
  view_.SetInfoText(kLeftSide, &record);
  view_.SetInfoText(kRightSide, nullptr);

  const DecodedImage* image = nullptr;
  GatheredFile decoded;
  bool prepared = false;
  if (display || compute) {
    decoded = DecodeForStep(record, prepared);
    image = view_.SetLeftImage(record, std::move(decoded.image));
    if (image == nullptr) return kStepFailed;
    record.width = image->width;
    record.height = image->height;
    if (display) view_.SetInfoText(kLeftSide, &record);
  }
  // Before the ordering, row i shows record i.
  if (listUpdate && record.width > 0) {
    view_.ListSetText(record.index, kColumnWidth, DecimalText(record.width));
    view_.ListSetText(record.index, kColumnHeight, DecimalText(record.height));
  }
  if (compute && image != nullptr) {
    if (prepared) {
      ApplySignature(record, decoded.signature, decoded.digest);
    } else {
      SignatureExtractor::Extract(record, *image);
    }
  }
  if (display) view_.RepaintLeftPane();
  view_.PumpMessages();
  return kStepDone;
}

}  // namespace norvane
