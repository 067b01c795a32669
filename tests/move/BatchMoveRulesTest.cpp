// The batch move against the row-by-row algorithm it replaces: the same
// images moved in the same order, the same list and the same records.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "base/Decimal.h"
#include "move/BatchMove.h"
#include "search/SearchView.h"

namespace norvane {
namespace {

// The list as the window has always worked it: bottom row first, rows
// searched and erased one at a time.
int ReferenceBatchMove(std::vector<ResultRow>& rows, FileList& records, int limit, int side, const Mover& mover) {
  const auto names = [&](const ResultRow& row, int column, int r) { return RecordOfCell(row[column], records.size()) == r; };
  int moved = 0;
  for (int d = static_cast<int>(rows.size()) - 1; d >= 0; --d) {
    if (d >= static_cast<int>(rows.size())) continue;
    const std::optional<int> difference = ReadDecimal(rows[d][kColumnDifference]);
    const std::optional<int> own = RecordOfCell(rows[d][kColumnPosition], records.size());
    const std::optional<int> target = side == kLeftSide ? own : RecordOfCell(rows[d][kColumnPartner], records.size());
    if (!difference || *difference < 0 || *difference > limit || !target || !mover(records[*target].path()).ok) continue;
    for (ResultRow& row : rows) {
      if (names(row, kColumnPartner, *target)) row[kColumnPartnerName] = row[kColumnDifference] = row[kColumnPartner] = "";
    }
    for (FileRecord& r : records) r.partner = r.partner == *target ? -1 : r.partner;
    const auto gone = side == kLeftSide ? rows.begin() + d : std::find_if(rows.begin(), rows.end(), [&](const ResultRow& row) {
      return names(row, kColumnPosition, *target);
    });
    if (gone != rows.end()) rows.erase(gone);
    if (own) records[*own].partner = -1;
    ++moved;
  }
  return moved;
}

TEST(BatchMoveRulesTest, MovesListAndRecordsMatchTheRowByRowAlgorithm) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 300; ++trial) {
    // A list of `n` records in random row order whose partners are drawn
    // from a few records, so that one image is the partner of many rows;
    // some cells are damaged or name no record.
    const int n = 1 + trial % 40;
    std::uniform_int_distribution<int> pick(0, n - 1), popular(0, n / 8), percent(0, 99);
    FileList records(static_cast<std::size_t>(n));
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    for (int i = 0; i < n; ++i) {
      const int roll = percent(random);
      std::tie(records[i].folder, records[i].name) = std::make_tuple("/p", std::to_string(i));
      records[i].partner = roll < 15 ? -1 : (roll < 60 ? popular(random) : pick(random));
    }
    std::shuffle(order.begin(), order.end(), random);
    std::vector<ResultRow> rows;
    for (int i : order) {
      ResultRow& row = rows.emplace_back();
      row[kColumnPosition] = percent(random) < 3 ? "x" : DecimalText(i);
      if (records[i].partner < 0) continue;
      row[kColumnPartner] = DecimalText(percent(random) < 3 ? n + 5 : records[i].partner);
      row[kColumnDifference] = DecimalText(percent(random) - 10);
      row[kColumnPartnerName] = "name";
    }
    if (n > 2) rows.push_back(rows[1]);  // a record listed twice: the first of its rows goes
    const int side = trial % 2, limit = percent(random) - 5;
    std::vector<std::string> expectedMoves, actualMoves;
    // The images of records 7, 17, ... cannot be moved.
    const auto mover = [](std::vector<std::string>& log) {
      return [&log](const std::string& path) { return log.push_back(path), MoveOutcome{path.back() != '7', {}, {}}; };
    };

    std::vector<ResultRow> expectedRows = rows;
    FileList expectedRecords = records;
    const int expectedMoved = ReferenceBatchMove(expectedRows, expectedRecords, limit, side, mover(expectedMoves));
    const int total = static_cast<int>(rows.size());
    int lastVisited = 0;
    const BatchMoveResult result = BatchMove(rows, records, limit, side, mover(actualMoves), [&](int visited, int all) {
      EXPECT_TRUE(visited >= lastVisited && all == total) << visited << " of " << all;
      lastVisited = visited;
    });
    ResultTable kept;
    kept.Assign(rows, result.removed);
    SCOPED_TRACE(trial);
    ASSERT_EQ(result.moved, expectedMoved);
    EXPECT_EQ(actualMoves, expectedMoves);
    EXPECT_EQ(kept.TextRows(), expectedRows);
    for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].partner, expectedRecords[i].partner) << i;
    EXPECT_EQ(lastVisited, total);
  }
}

}  // namespace
}  // namespace norvane
