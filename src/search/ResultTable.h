// The result list as plain rows of text cells, for front ends without a list
// control of their own (the console program, tests). It behaves like the
// window's list for every operation the search uses.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "search/SearchView.h"

namespace norvane {

using ResultRow = std::array<std::string, kColumnCount>;

// The sort key of a number column's cell: the cell read like "%d" (a text
// without a leading number counts as 0); an empty cell stands for 999999 in
// the difference column, so that rows without a partner sort last, and for
// -999999 in the others.
int NumberSortKey(std::string_view cell, int column);

class ResultTable {
 public:
  void DeleteAll() { rows_.clear(); }
  // Makes room for `rows` rows; the rows held stay as they are.
  void Reserve(int rows) {
    if (rows > 0) rows_.reserve(static_cast<std::size_t>(rows));
  }
  // Inserts a row whose column 0 holds `text`; a position past the end
  // appends, a negative one does nothing.
  void InsertRow(int row, std::string_view text);
  void SetText(int row, int column, std::string_view text);
  std::string GetText(int row, int column) const;
  void DeleteRow(int row);
  int RowCount() const { return static_cast<int>(rows_.size()); }

  // Sorts ascending by the number in the difference column, read like "%d"
  // (a text without a leading number counts as 0, an empty text as 999999,
  // so rows without a partner go last). Rows with equal keys keep their order.
  void SortByDifference();

  const std::vector<ResultRow>& rows() const { return rows_; }
  std::vector<ResultRow>& rows() { return rows_; }

 private:
  bool Valid(int row, int column) const {
    return row >= 0 && row < RowCount() && column >= 0 && column < kColumnCount;
  }

  std::vector<ResultRow> rows_;
};

}  // namespace norvane
