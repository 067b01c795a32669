#include "search/ResultTable.h"

#include <algorithm>

namespace norvane {

void ResultTable::InsertRow(int row, std::string_view text) {
  if (row < 0) return;
  ResultRow cells;
  cells[kColumnPosition] = std::string(text);
  const auto at = std::min<std::size_t>(static_cast<std::size_t>(row), rows_.size());
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::move(cells));
}

void ResultTable::SetText(int row, int column, std::string_view text) {
  if (Valid(row, column)) rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
}

std::string ResultTable::GetText(int row, int column) const {
  if (!Valid(row, column)) return {};
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void ResultTable::DeleteRow(int row) {
  if (row >= 0 && row < RowCount()) rows_.erase(rows_.begin() + row);
}

int NumberSortKey(std::string_view cell, int column) {
  if (cell.empty()) return column == kColumnDifference ? 999999 : -999999;
  return ReadDecimal(cell).value_or(0);
}

void ResultTable::SortByDifference() {
  auto key = [](const ResultRow& r) { return NumberSortKey(r[kColumnDifference], kColumnDifference); };
  std::stable_sort(rows_.begin(), rows_.end(),
                   [&](const ResultRow& a, const ResultRow& b) { return key(a) < key(b); });
}

}  // namespace norvane
