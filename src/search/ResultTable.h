// The result list as rows of text cells, for front ends without a list
// control of their own (the console program, tests). It behaves like the
// window's list for every operation the search uses, and keeps its cells as
// compactly as the window's list does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "search/ResultRows.h"
#include "search/SearchView.h"

namespace norvane {

class ResultTable {
 public:
  void DeleteAll() { rows_.Clear(); }
  // Inserts a row whose column 0 holds `text`; a position past the end
  // appends, a negative one does nothing.
  void InsertRow(int row, std::string_view text);
  void SetText(int row, int column, std::string_view text);
  std::string GetText(int row, int column) const;
  void DeleteRow(int row);
  int RowCount() const { return rows_.Count(); }

  // Sorts ascending by the number in the difference column, read like "%d"
  // (a text without a leading number counts as 0, an empty text as 999999,
  // so rows without a partner go last). Rows with equal keys keep their order.
  void SortByDifference();

  // Row `row` (which must exist) into `cells`, whose strings keep their room
  // from one row to the next.
  void GetRow(int row, ResultRow& cells) const { rows_.GetRow(row, cells); }
  // Every row as texts, and the rows replaced by `rows` without those marked
  // in `removed`.
  std::vector<ResultRow> TextRows() const { return rows_.ToTextRows(); }
  void Assign(const std::vector<ResultRow>& rows, const std::vector<bool>& removed = {}) {
    rows_.Assign(rows, removed);
  }

 private:
  bool Valid(int row, int column) const {
    return row >= 0 && row < RowCount() && column >= 0 && column < kColumnCount;
  }

  ResultRows rows_;
};

}  // namespace norvane
