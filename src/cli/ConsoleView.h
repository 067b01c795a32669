// The search view of the console front end: the result list is a plain
// table, progress goes to standard error, and an interrupt (Ctrl-C) plays
// the part of a second press of the Start button.
#pragma once

#include <csignal>
#include <cstdio>
#include <string>

#include "search/ImageSlots.h"
#include "search/ResultTable.h"
#include "search/SearchSession.h"
#include "search/SearchView.h"
#include "settings/Settings.h"

namespace norvane::cli {

// Set by the SIGINT handler, read by PumpMessages.
extern volatile std::sig_atomic_t g_interruptRequested;

enum class ProgressStyle {
  None,   // no progress output
  Line,   // one line rewritten in place (a terminal)
  Lines,  // one line per change (a log or a pipe)
};

class ConsoleView : public SearchView {
 public:
  // `folder` is the text the "edit box" holds; `err` receives progress and messages.
  ConsoleView(Settings& settings, std::string folder, ProgressStyle style, std::FILE* err);

  // The session whose OnStart an interrupt calls; set before the search.
  void Attach(SearchSession* session) { session_ = session; }
  // Whether an interrupt was seen (and passed on as a stop request).
  bool interrupted() const { return interrupted_; }
  const ResultTable& table() const { return table_; }
  ResultTable& table() { return table_; }
  // "norvane-cli: warning: " + text on its own line of the error stream.
  void Warn(std::string_view text);

  void CommitEdits() override;
  void SetStartButton(std::string_view, bool) override {}
  void EnableCommands(bool) override {}
  void SetStatusText(std::string_view text) override;
  // There is no one to ask: the only way to reach this question is an
  // interrupt, and the user who pressed Ctrl-C has already answered it. The
  // question is echoed and answered Yes.
  bool AskYesNo(std::string_view text, std::string_view caption) override;
  void Inform(std::string_view text, std::string_view caption) override;
  void ClearPanes() override;
  void SetInfoText(int, const FileRecord*) override {}
  const DecodedImage* SetLeftImage(const FileRecord& record, std::unique_ptr<DecodedImage> image) override;
  void RepaintLeftPane() override {}
  void ListDeleteAll() override { table_.DeleteAll(); }
  void ListInsertRow(int row, std::string_view text) override { table_.InsertRow(row, text); }
  void ListSetText(int row, int column, std::string_view text) override {
    table_.SetText(row, column, text);
  }
  std::string ListGetText(int row, int column) override { return table_.GetText(row, column); }
  void ListDeleteRow(int row) override { table_.DeleteRow(row); }
  int ListRowCount() override { return table_.RowCount(); }
  void ListKeepSelectionVisible() override {}
  void SortListByDifference(int) override { table_.SortByDifference(); }
  // Nobody looks at the panes of a console: nothing is decoded for row 0.
  void SelectFirstRow() override {}
  // The console's only event is an interrupt: it is handed to the session
  // as a press of Start, once.
  void PumpMessages() override;

 private:
  void Write(const std::string& text);
  void PrintMessage(std::string_view text, std::string_view caption);

  Settings& settings_;
  std::string folder_;
  ProgressStyle style_;
  std::FILE* err_;
  SearchSession* session_ = nullptr;
  ResultTable table_;
  ImageSlots slots_;
  bool interrupted_ = false;
  bool lineOpen_ = false;  // a progress line is on the terminal
};

// Cell text for a tab-separated line: backslash, tab, line feed and carriage
// return are written as \\, \t, \n and \r, so every row stays one line with
// nine fields whatever a file name holds.
std::string EscapeField(std::string_view text);
// The same appended to `out`.
void AppendEscapedField(std::string& out, std::string_view text);

}  // namespace norvane::cli
