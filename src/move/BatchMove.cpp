#include "move/BatchMove.h"

#include <cstddef>
#include <optional>

#include "base/Decimal.h"
#include "search/SearchView.h"

namespace norvane {

namespace {

// The items of each key in ascending item order, packed into one array:
// items of key k are items[offsets[k]] to items[offsets[k + 1] - 1].
struct Groups {
  std::vector<int> offsets;
  std::vector<int> items;

  // keys[i] is item i's key, or -1 for none; keys lie below `keyCount`.
  Groups(const std::vector<int>& keys, std::size_t keyCount) : offsets(keyCount + 1, 0) {
    for (int key : keys) {
      if (key >= 0) ++offsets[static_cast<std::size_t>(key) + 1];
    }
    for (std::size_t k = 0; k < keyCount; ++k) offsets[k + 1] += offsets[k];
    items.resize(static_cast<std::size_t>(offsets[keyCount]));
    std::vector<int> next(offsets.begin(), offsets.end() - 1);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] >= 0) items[static_cast<std::size_t>(next[static_cast<std::size_t>(keys[i])]++)] = static_cast<int>(i);
    }
  }

  template <typename F>
  void ForEach(int key, F&& f) const {
    for (int i = offsets[static_cast<std::size_t>(key)]; i < offsets[static_cast<std::size_t>(key) + 1]; ++i) {
      if (!f(items[static_cast<std::size_t>(i)])) return;
    }
  }
};

std::vector<int> CellRecords(const std::vector<ResultRow>& rows, int column, std::size_t recordCount) {
  std::vector<int> keys(rows.size(), -1);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    keys[r] = RecordOfCell(rows[r][static_cast<std::size_t>(column)], recordCount).value_or(-1);
  }
  return keys;
}

}  // namespace

BatchMoveResult BatchMove(std::vector<ResultRow>& rows, FileList& records, int limit, int side,
                          const Mover& mover, const BatchProgress& progress) {
  const std::size_t recordCount = records.size();
  const int total = static_cast<int>(rows.size());
  BatchMoveResult result;
  result.removed.assign(rows.size(), false);

  // Cells only ever lose their partner during the run, and records only
  // ever get partner -1, so indexes built once stay true: emptying a row's
  // partner cells again changes nothing, and a record whose partner has
  // changed since is passed over.
  const Groups rowsOfRecord(CellRecords(rows, kColumnPosition, recordCount), recordCount);
  const Groups rowsNamingPartner(CellRecords(rows, kColumnPartner, recordCount), recordCount);
  std::vector<int> partners(recordCount, -1);
  for (std::size_t i = 0; i < recordCount; ++i) {
    const int p = records[i].partner;
    if (p >= 0 && static_cast<std::size_t>(p) < recordCount) partners[i] = p;
  }
  const Groups recordsNamingPartner(partners, recordCount);

  const auto recordIn = [&](int row, int column) {
    return RecordOfCell(rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)], recordCount);
  };

  // Bottom-up, as the list has always been worked: a row that leaves never
  // shifts the rows still to come, and each remaining row is visited once.
  for (int d = total - 1; d >= 0; --d) {
    if (progress && (d & 255) == 0) progress(total - d, total);
    if (result.removed[static_cast<std::size_t>(d)]) continue;
    const std::optional<int> difference = ReadDecimal(rows[static_cast<std::size_t>(d)][kColumnDifference]);
    if (!difference || *difference < 0 || *difference > limit) continue;
    const std::optional<int> own = recordIn(d, kColumnPosition);
    const std::optional<int> target = side == kLeftSide ? own : recordIn(d, kColumnPartner);
    if (!target) continue;
    if (!mover(records[static_cast<std::size_t>(*target)].path()).ok) continue;

    // The image is gone: no row offers it as a partner, no record names it.
    rowsNamingPartner.ForEach(*target, [&](int row) {
      ResultRow& cells = rows[static_cast<std::size_t>(row)];
      cells[kColumnPartnerName].clear();
      cells[kColumnDifference].clear();
      cells[kColumnPartner].clear();
      return true;
    });
    recordsNamingPartner.ForEach(*target, [&](int record) {
      if (records[static_cast<std::size_t>(record)].partner == *target) records[static_cast<std::size_t>(record)].partner = -1;
      return true;
    });
    if (side == kLeftSide) {
      result.removed[static_cast<std::size_t>(d)] = true;
    } else {
      // The first row still in the list that shows the image as its own.
      rowsOfRecord.ForEach(*target, [&](int row) {
        if (result.removed[static_cast<std::size_t>(row)]) return true;
        result.removed[static_cast<std::size_t>(row)] = true;
        return false;
      });
    }
    if (own) records[static_cast<std::size_t>(*own)].partner = -1;
    ++result.moved;
  }
  if (progress) progress(total, total);
  return result;
}

}  // namespace norvane
