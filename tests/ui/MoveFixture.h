// Main windows driven by the tests: message boxes answered and recorded, and
// lists and records laid out by the test, one file per record in a
// temporary folder, rows with chosen partners and differences.
#pragma once

#include <sys/stat.h>

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "search/SearchView.h"
#include "support/TempDir.h"
#include "ui/MainWindow.h"
#include "ui/ResultList.h"

namespace norvane::test {

inline bool Exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

struct Pair {
  int partner;     // record position, -1 for none
  int difference;  // shown when partner >= 0
};

// A main window with its own settings file whose message boxes are
// answered by the test and recorded as "text|caption".
struct AnsweredWindow {
  QTemporaryDir work;
  std::string ini = work.filePath("Norvane.ini").toStdString();
  std::unique_ptr<ui::MainWindow> window;
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  bool answer = true;

  AnsweredWindow() { Open(); }
  void Open() {
    window = std::make_unique<ui::MainWindow>(ini);
    window->SetAskHook([this](std::string_view text, std::string_view caption) {
      questions.push_back(std::string(text) + "|" + std::string(caption));
      return answer;
    });
    window->SetInformHook([this](std::string_view text, std::string_view caption) {
      messages.push_back(std::string(text) + "|" + std::string(caption));
    });
  }
  ui::MainWindow& w() { return *window; }
};

struct MoveFixture : AnsweredWindow {
  QTemporaryDir images;
  QTemporaryDir moved;

  // Row j shows record j and pairs[j].
  explicit MoveFixture(const std::vector<Pair>& pairs) {
    Settings& s = window->settings();
    s.EnableConfirm = false;
    s.GotoTrashBox = false;
    window->moveEdit().setText(moved.path());
    FileList& records = window->session().records();
    records.clear();
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      FileRecord record;
      record.index = static_cast<int>(i);
      record.folder = images.path().toStdString();
      record.name = "f" + std::to_string(i) + ".bmp";
      record.path = record.folder + "/" + record.name;
      record.partner = pairs[i].partner;
      record.difference = pairs[i].difference;
      WriteFile(record.path, record.name);
      records.push_back(record);
    }
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      const int row = static_cast<int>(i);
      window->ListInsertRow(row, DecimalText(row));
      window->ListSetText(row, kColumnName, records[i].name);
      if (pairs[i].partner < 0) continue;
      window->ListSetText(row, kColumnPartnerName, records[pairs[i].partner].name);
      window->ListSetText(row, kColumnDifference, DecimalText(pairs[i].difference));
      window->ListSetText(row, kColumnPartner, DecimalText(pairs[i].partner));
    }
  }

  ui::ResultList& list() { return window->list(); }
  std::string ImagePath(int record) const {
    return images.filePath(QString("f%1.bmp").arg(record)).toStdString();
  }
  std::string MovedPath(int record) const {
    return moved.filePath(QString("f%1.bmp").arg(record)).toStdString();
  }
  // Column 0 of every row, in row order.
  std::vector<int> Positions() {
    std::vector<int> out;
    for (int r = 0; r < window->ListRowCount(); ++r) {
      out.push_back(ReadDecimal(window->ListGetText(r, kColumnPosition)).value_or(-99));
    }
    return out;
  }
  int RowOf(int record) {
    const std::vector<int> p = Positions();
    const auto at = std::find(p.begin(), p.end(), record);
    return at == p.end() ? -1 : static_cast<int>(at - p.begin());
  }
  // Partner column of the row showing `record` ("" when none).
  std::string PartnerCell(int record) { return window->ListGetText(RowOf(record), kColumnPartner); }
};

}  // namespace norvane::test
