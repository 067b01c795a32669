#include "search/ResultTable.h"

#include <algorithm>
#include <cstdint>
#include <utility>

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

// Sorts the keys with their positions rather than the rows themselves: each
// cell is read once, no buffer of rows is needed, and equal keys stay in
// their order because the position breaks the tie. The rows are then put
// into that order in place, one cycle of the permutation at a time.
void ResultTable::SortByDifference() {
  const std::size_t n = rows_.size();
  std::vector<std::pair<int, std::uint32_t>> order(n);
  for (std::size_t i = 0; i < n; ++i) {
    order[i] = {NumberSortKey(rows_[i][kColumnDifference], kColumnDifference), static_cast<std::uint32_t>(i)};
  }
  std::sort(order.begin(), order.end());
  // Position i receives row order[i].second.
  for (std::size_t start = 0; start < n; ++start) {
    std::size_t from = order[start].second;
    if (from == start || from == n) continue;
    ResultRow held = std::move(rows_[start]);
    std::size_t at = start;
    while (from != start) {
      rows_[at] = std::move(rows_[from]);
      order[at].second = static_cast<std::uint32_t>(n);  // placed
      at = from;
      from = order[at].second;
    }
    rows_[at] = std::move(held);
    order[at].second = static_cast<std::uint32_t>(n);
  }
}

}  // namespace norvane
