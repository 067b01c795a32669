// A main window whose list and records are laid out by the test: one file
// per record in a temporary folder, rows with chosen partners and
// differences, message boxes answered and recorded.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "search/SearchView.h"
#include "support/TempDir.h"
#include "ui/MainWindow.h"
#include "ui/ResultList.h"

namespace norvane::test {

struct Pair {
  int partner;     // record position, -1 for none
  int difference;  // shown when partner >= 0
};

struct MoveFixture {
  QTemporaryDir work;
  QTemporaryDir images;
  QTemporaryDir moved;
  std::unique_ptr<ui::MainWindow> window;
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  bool answer = true;

  // Row j shows record j and pairs[j].
  explicit MoveFixture(const std::vector<Pair>& pairs) {
    window = std::make_unique<ui::MainWindow>(work.filePath("Norvane.ini").toStdString());
    window->SetAskHook([this](std::string_view text, std::string_view caption) {
      questions.push_back(std::string(text) + "|" + std::string(caption));
      return answer;
    });
    window->SetInformHook([this](std::string_view text, std::string_view caption) {
      messages.push_back(std::string(text) + "|" + std::string(caption));
    });
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

  ui::MainWindow& w() { return *window; }
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
    for (std::size_t r = 0; r < p.size(); ++r) {
      if (p[r] == record) return static_cast<int>(r);
    }
    return -1;
  }
  // Partner column of the row showing `record` ("" when none).
  std::string PartnerCell(int record) { return window->ListGetText(RowOf(record), kColumnPartner); }
};

}  // namespace norvane::test
