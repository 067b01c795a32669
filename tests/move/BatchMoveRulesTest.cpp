// The batch move against the row-by-row algorithm it replaces: the same
// images moved in the same order, the same list and the same records.
#include <gtest/gtest.h>

#include <random>
#include <set>
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
  const auto record = [&](int row, int column) { return RecordOfCell(rows[row][column], records.size()); };
  int moved = 0;
  for (int d = static_cast<int>(rows.size()) - 1; d >= 0; --d) {
    if (d >= static_cast<int>(rows.size())) continue;
    const std::optional<int> difference = ReadDecimal(rows[d][kColumnDifference]);
    if (!difference || *difference < 0 || *difference > limit) continue;
    const std::optional<int> own = record(d, kColumnPosition);
    const std::optional<int> target = side == kLeftSide ? own : record(d, kColumnPartner);
    if (!target || !mover(records[*target].path).ok) continue;
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
      if (record(row, kColumnPartner) != *target) continue;
      rows[row][kColumnPartnerName].clear();
      rows[row][kColumnDifference].clear();
      rows[row][kColumnPartner].clear();
    }
    for (FileRecord& r : records) {
      if (r.partner == *target) r.partner = -1;
    }
    int gone = side == kLeftSide ? d : -1;
    for (int row = 0; gone < 0 && row < static_cast<int>(rows.size()); ++row) {
      if (record(row, kColumnPosition) == *target) gone = row;
    }
    if (gone >= 0) rows.erase(rows.begin() + gone);
    if (own) records[*own].partner = -1;
    ++moved;
  }
  return moved;
}

// A result list of `n` records in random row order whose partners are drawn
// from a few records, so that one image is the partner of many rows; some
// cells are damaged or name no record, and some moves fail.
struct RandomList {
  FileList records;
  std::vector<ResultRow> rows;

  RandomList(int n, std::mt19937& random) {
    std::uniform_int_distribution<int> pick(0, n - 1), popular(0, std::max(0, n / 8)), percent(0, 99);
    for (int i = 0; i < n; ++i) {
      FileRecord r;
      r.path = "/p/" + std::to_string(i);
      const int roll = percent(random);
      r.partner = roll < 15 ? -1 : (roll < 60 ? popular(random) : pick(random));
      records.push_back(r);
    }
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    for (int i : order) {
      ResultRow row;
      row[kColumnPosition] = percent(random) < 3 ? "x" : DecimalText(i);
      if (records[i].partner >= 0) {
        row[kColumnPartner] = percent(random) < 3 ? DecimalText(n + 5) : DecimalText(records[i].partner);
        row[kColumnDifference] = DecimalText(percent(random) - 10);
        row[kColumnPartnerName] = "name";
      }
      rows.push_back(row);
    }
    // A record listed twice: the first of its rows is the one that goes.
    if (n > 2) rows.push_back(rows[1]);
  }
};

TEST(BatchMoveRulesTest, MovesListAndRecordsMatchTheRowByRowAlgorithm) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 1 + trial % 40;
    const RandomList list(n, random);
    const int side = trial % 2;
    const int limit = static_cast<int>(random() % 100) - 5;
    std::set<std::string> refused;
    for (int i = 0; i < n; ++i) {
      if (random() % 10 == 0) refused.insert("/p/" + std::to_string(i));
    }
    std::vector<std::string> expectedMoves, actualMoves;
    const auto mover = [&](std::vector<std::string>& log) {
      return [&refused, &log](const std::string& path) {
        log.push_back(path);
        return MoveOutcome{refused.count(path) == 0, {}, {}};
      };
    };

    std::vector<ResultRow> expectedRows = list.rows;
    FileList expectedRecords = list.records;
    const int expectedMoved = ReferenceBatchMove(expectedRows, expectedRecords, limit, side, mover(expectedMoves));

    std::vector<ResultRow> rows = list.rows;
    FileList records = list.records;
    int lastVisited = 0;
    const BatchMoveResult result = BatchMove(rows, records, limit, side, mover(actualMoves),
                                             [&](int visited, int total) {
                                               EXPECT_GE(visited, lastVisited);
                                               EXPECT_EQ(total, static_cast<int>(list.rows.size()));
                                               lastVisited = visited;
                                             });
    RemoveMarkedRows(rows, result.removed);

    ASSERT_EQ(result.moved, expectedMoved) << "trial " << trial;
    EXPECT_EQ(actualMoves, expectedMoves) << "trial " << trial;
    EXPECT_EQ(rows, expectedRows) << "trial " << trial;
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].partner, expectedRecords[i].partner) << "trial " << trial << " record " << i;
    }
    EXPECT_EQ(lastVisited, static_cast<int>(list.rows.size()));
  }
}

}  // namespace
}  // namespace norvane
