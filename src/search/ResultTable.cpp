#include "search/ResultTable.h"

#include <algorithm>

namespace norvane {

void ResultTable::InsertRow(int row, std::string_view text) {
  if (row >= 0) rows_.Insert(std::min(row, RowCount()), text);
}

void ResultTable::SetText(int row, int column, std::string_view text) {
  if (Valid(row, column)) rows_.Set(row, column, text);
}

std::string ResultTable::GetText(int row, int column) const {
  return Valid(row, column) ? rows_.Get(row, column) : std::string();
}

void ResultTable::DeleteRow(int row) {
  if (row >= 0 && row < RowCount()) rows_.Erase(row);
}

void ResultTable::SortByDifference() { rows_.Reorder(rows_.SortedOrder(kColumnDifference, 1, false)); }

}  // namespace norvane
