// A search view for tests: every operation is appended to a log as one text
// (its name and arguments separated by blanks), the result list is a
// ResultTable, images are really decoded, and hooks run inside PumpMessages
// and WaitUntil the way other window handlers would.
#pragma once

#include <sstream>

#include "search/ResultTable.h"
#include "search/SearchView.h"
#include "settings/Settings.h"

namespace norvane::test {

class RecordingView : public SearchView {
 public:
  explicit RecordingView(Settings& settings) : settings_(settings) {}

  std::string folderText;        // what CommitEdits takes into SearchFolder
  std::function<void()> onPump;  // called at every PumpMessages, after it is logged
  std::function<void()> onWait;  // called once at every WaitUntil, before the wait
  std::vector<std::string> log, statusTexts;
  ResultTable table;

  void CommitEdits() override { Log("CommitEdits"); settings_.SearchFolder = folderText; }
  void SetStartButton(std::string_view caption, bool on) override { Log("SetStartButton", caption, on ? "on" : "off"); }
  void EnableCommands(bool on) override { Log("EnableCommands", on ? "on" : "off"); }
  void SetStatusText(std::string_view text) override { Log("SetStatusText", text); statusTexts.emplace_back(text); }
  bool AskYesNo(std::string_view text, std::string_view title) override { Log("AskYesNo", text, title); return true; }
  void Inform(std::string_view text, std::string_view caption) override { Log("Inform", text, caption); }
  void ClearPanes() override { Log("ClearPanes"); left_.reset(); }
  void SetInfoText(int side, const FileRecord* record) override { Log("SetInfoText", side, InfoText(record)); }
  const DecodedImage* SetLeftImage(const FileRecord& record, std::unique_ptr<DecodedImage> decoded) override {
    left_ = std::move(decoded);
    Log("SetLeftImage", record.name + (left_ ? "" : " failed"));
    return left_.get();
  }
  void RepaintLeftPane() override { Log("RepaintLeftPane"); }
  void ListDeleteAll() override { Log("ListDeleteAll"); table.DeleteAll(); }
  void ListInsertRow(int row, std::string_view text) override {
    Log("ListInsertRow", row, text);
    table.InsertRow(row, text);
  }
  void ListSetText(int row, int column, std::string_view text) override {
    Log("ListSetText", row, column, text);
    table.SetText(row, column, text);
  }
  std::string ListGetText(int row, int column) override { return table.GetText(row, column); }
  void ListDeleteRow(int row) override { Log("ListDeleteRow", row); table.DeleteRow(row); }
  int ListRowCount() override { return table.RowCount(); }
  void ListKeepSelectionVisible() override { Log("ListKeepSelectionVisible"); }
  void SortListByDifference(int n) override { Log("SortListByDifference", n); table.SortByDifference(); }
  void SelectFirstRow() override { Log("SelectFirstRow"); }
  void PumpMessages() override { Log("PumpMessages"); if (onPump) onPump(); }
  void WaitUntil(const std::function<bool(int)>& ready) override {
    if (onWait) onWait();
    while (!ready(1)) continue;
  }

  // Log entries that start with `prefix`.
  std::vector<std::string> Calls(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const std::string& entry : log) if (entry.starts_with(prefix)) out.push_back(entry);
    return out;
  }

 private:
  // Appends one entry: the name, then every part after a blank.
  template <typename... Parts>
  void Log(std::string_view name, const Parts&... parts) {
    std::ostringstream text;
    text << name;
    ((text << ' ' << parts), ...);
    log.push_back(text.str());
  }

  Settings& settings_;
  std::unique_ptr<DecodedImage> left_;
};

}  // namespace norvane::test
