#include "search/ResultTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace norvane {
namespace {

// Sorting by difference sorts the compact rows by keys; it must give exactly
// what a stable sort of the rows as texts gives, with many equal keys, empty
// cells (last), cells that are no number and numbers kept as texts ("007").
TEST(ResultTableTest, SortByDifferenceIsAStableSortOfTheRows) {
  std::mt19937 rng(7);
  const std::vector<std::string> cells = {"", "0", "1", "2", "12", "x", "-3", "007", "999999", "1000000"};
  for (int n : {0, 1, 2, 3, 10, 200}) {
    ResultTable table;
    for (int row = 0; row < n; ++row) {
      table.InsertRow(row, std::to_string(row));
      table.SetText(row, kColumnDifference, cells[rng() % cells.size()]);
    }
    std::vector<ResultRow> expected = table.TextRows();
    std::stable_sort(expected.begin(), expected.end(), [](const ResultRow& a, const ResultRow& b) {
      return NumberSortKey(a[kColumnDifference], kColumnDifference) <
             NumberSortKey(b[kColumnDifference], kColumnDifference);
    });
    table.SortByDifference();
    EXPECT_EQ(table.TextRows(), expected) << n << " rows";
  }
}

}  // namespace
}  // namespace norvane
