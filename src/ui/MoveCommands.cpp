#include "ui/MoveCommands.h"

#include <climits>
#include <utility>

#include <QCoreApplication>

#include "move/FileMove.h"
#include "move/Trash.h"
#include "search/SearchView.h"
#include "ui/ResultList.h"

namespace norvane::ui {

MoveOutcome MoveAway(const std::string& path, bool toTrash, const std::string& moveFolder) {
  MoveOutcome outcome;
  if (!toTrash) {
    const MoveResult result = MoveFileToFolder(path, moveFolder);
    outcome.ok = result.ok();
    if (!outcome.ok) outcome.errorText = ErrorText(result.error);
    return outcome;
  }
  TrashResult trashed = MoveToTrash(path);
  outcome.ok = trashed.ok;
  if (!outcome.ok) outcome.errorText = std::move(trashed.message);
  return outcome;
}

void ForgetPartner(ResultModel& rows, FileList& records, int moved) {
  const std::string key = DecimalText(moved);
  for (int row = 0; row < rows.RowCount(); ++row) {
    if (rows.GetText(row, kColumnPartner) != key) continue;
    rows.SetText(row, kColumnPartnerName, "");
    rows.SetText(row, kColumnDifference, "");
    rows.SetText(row, kColumnPartner, "");
  }
  for (FileRecord& record : records) {
    if (record.partner == moved) record.partner = -1;
  }
}

int FindRowOfPosition(const ResultModel& rows, int position) {
  const std::string key = DecimalText(position);
  for (int row = 0; row < rows.RowCount(); ++row) {
    if (rows.GetText(row, kColumnPosition) == key) return row;
  }
  return -1;
}

std::optional<int> PositionIn(const FileList& records, std::string_view cell) {
  const std::optional<int> position = ReadDecimal(cell);
  if (!position || *position < 0 || static_cast<std::size_t>(*position) >= records.size()) {
    return std::nullopt;
  }
  return position;
}

int BatchMove(ResultModel& rows, FileList& records, int limit, int side, const Mover& mover) {
  int moved = 0;
  // Bottom-up: deleting the visited row leaves the rows still to come where
  // they are. When a deletion above shifts the visited row up, it is visited
  // again, but by then it has no partner and no longer qualifies.
  for (int d = rows.RowCount() - 1; d >= 0; --d) {
    if (d >= rows.RowCount()) continue;
    const std::optional<int> difference = ReadDecimal(rows.GetText(d, kColumnDifference));
    if (!difference || *difference < 0 || *difference > limit) continue;
    const std::optional<int> own = PositionIn(records, rows.GetText(d, kColumnPosition));
    const std::optional<int> target =
        side == kLeftSide ? own : PositionIn(records, rows.GetText(d, kColumnPartner));
    if (!target) continue;
    if (!mover(records[static_cast<std::size_t>(*target)].path).ok) continue;

    ForgetPartner(rows, records, *target);
    if (side == kLeftSide) {
      rows.DeleteRow(d);
    } else {
      rows.DeleteRow(FindRowOfPosition(rows, *target));
    }
    if (own) records[static_cast<std::size_t>(*own)].partner = -1;
    ++moved;
  }
  return moved;
}

std::optional<int> ParseInteger(const QString& text) {
  const QString trimmed = text.trimmed();
  int i = 0;
  const int n = static_cast<int>(trimmed.size());
  bool negative = false;
  if (i < n && (trimmed[i].unicode() == u'+' || trimmed[i].unicode() == u'-')) {
    negative = trimmed[i++].unicode() == u'-';
  }
  if (i >= n) return std::nullopt;
  long long value = 0;
  for (; i < n; ++i) {
    const char16_t c = trimmed[i].unicode();
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  return static_cast<int>(value);
}

QString ApplicationName() {
  const QString name = QCoreApplication::applicationName();
  return name.isEmpty() ? QStringLiteral("Norvane") : name;
}

}  // namespace norvane::ui
