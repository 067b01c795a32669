// A search view for tests: every operation is appended to a log as one text,
// the result list is a ResultTable, images are really decoded, and a hook
// runs inside PumpMessages the way other window handlers would.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "search/ImageSlots.h"
#include "search/ResultTable.h"
#include "search/SearchView.h"
#include "settings/Settings.h"

namespace norvane::test {

class RecordingView : public SearchView {
 public:
  explicit RecordingView(Settings& settings) : settings_(settings) {}

  // What CommitEdits takes into SearchFolder (the text of the edit box).
  std::string folderText;
  // The answer to AskYesNo.
  bool answer = true;
  // Called at every PumpMessages, after it is logged.
  std::function<void()> onPump;
  // Called once at every WaitUntil, before the wait, the way a window
  // handles its events while it waits; nothing is logged.
  std::function<void()> onWait;

  std::vector<std::string> log;
  ResultTable table;
  std::vector<std::string> statusTexts;
  std::vector<std::string> infoTexts[2];
  int loads = 0;

  void CommitEdits() override {
    log.push_back("CommitEdits");
    settings_.SearchFolder = folderText;
  }
  void SetStartButton(std::string_view caption, bool enabled) override {
    log.push_back("SetStartButton " + std::string(caption) + (enabled ? " on" : " off"));
  }
  void EnableCommands(bool enabled) override {
    log.push_back(std::string("EnableCommands ") + (enabled ? "on" : "off"));
  }
  void SetStatusText(std::string_view text) override {
    log.push_back("SetStatusText " + std::string(text));
    statusTexts.emplace_back(text);
  }
  bool AskYesNo(std::string_view text, std::string_view caption) override {
    log.push_back("AskYesNo " + std::string(text) + " " + std::string(caption));
    return answer;
  }
  void Inform(std::string_view text, std::string_view caption) override {
    log.push_back("Inform " + std::string(text) + " " + std::string(caption));
  }
  void ClearPanes() override {
    log.push_back("ClearPanes");
    slots_.Clear(ImageSlots::kLeft);
    slots_.Clear(ImageSlots::kRight);
  }
  void SetInfoText(int side, const FileRecord* record) override {
    log.push_back("SetInfoText " + std::to_string(side) + " " + (record ? record->name : "-"));
    if (side == 0 || side == 1) infoTexts[side].push_back(InfoText(record));
  }
  const DecodedImage* SetLeftImage(const FileRecord& record, std::unique_ptr<DecodedImage> decoded) override {
    ++loads;
    slots_.Put(ImageSlots::kLeft, std::move(decoded));
    const DecodedImage* image = slots_.Get(ImageSlots::kLeft);
    log.push_back("SetLeftImage " + record.name + (image ? "" : " failed"));
    return image;
  }
  void RepaintLeftPane() override { log.push_back("RepaintLeftPane"); }
  void ListDeleteAll() override {
    log.push_back("ListDeleteAll");
    table.DeleteAll();
  }
  void ListInsertRow(int row, std::string_view text) override {
    log.push_back("ListInsertRow " + std::to_string(row) + " " + std::string(text));
    table.InsertRow(row, text);
  }
  void ListSetText(int row, int column, std::string_view text) override {
    log.push_back("ListSetText " + std::to_string(row) + " " + std::to_string(column) + " " +
                  std::string(text));
    table.SetText(row, column, text);
  }
  std::string ListGetText(int row, int column) override { return table.GetText(row, column); }
  void ListDeleteRow(int row) override {
    log.push_back("ListDeleteRow " + std::to_string(row));
    table.DeleteRow(row);
  }
  int ListRowCount() override { return table.RowCount(); }
  void ListKeepSelectionVisible() override { log.push_back("ListKeepSelectionVisible"); }
  void SortListByDifference(int n) override {
    log.push_back("SortListByDifference " + std::to_string(n));
    table.SortByDifference();
  }
  void SelectFirstRow() override { log.push_back("SelectFirstRow"); }
  void PumpMessages() override {
    log.push_back("PumpMessages");
    if (onPump) onPump();
  }
  void WaitUntil(const std::function<bool(int)>& ready) override {
    if (onWait) onWait();
    while (!ready(1)) {
    }
  }

  // Log entries that start with `prefix`.
  std::vector<std::string> Calls(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const std::string& entry : log) {
      if (entry.compare(0, prefix.size(), prefix) == 0) out.push_back(entry);
    }
    return out;
  }

 private:
  Settings& settings_;
  ImageSlots slots_;
};

}  // namespace norvane::test
