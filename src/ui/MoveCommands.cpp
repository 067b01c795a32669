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
  for (int row = 0; row < rows.RowCount(); ++row) {
    if (rows.RecordOfRow(row, records.size(), kColumnPartner) != moved) continue;
    rows.SetText(row, kColumnPartnerName, "");
    rows.SetText(row, kColumnDifference, "");
    rows.SetText(row, kColumnPartner, "");
  }
  for (FileRecord& record : records) {
    if (record.partner == moved) record.partner = -1;
  }
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
    const std::optional<int> own = rows.RecordOfRow(d, records.size());
    const std::optional<int> target = side == kLeftSide ? own : rows.RecordOfRow(d, records.size(), kColumnPartner);
    if (!target) continue;
    if (!mover(records[static_cast<std::size_t>(*target)].path).ok) continue;

    ForgetPartner(rows, records, *target);
    if (side == kLeftSide) {
      rows.DeleteRow(d);
    } else {
      rows.DeleteRow(rows.RowOfRecord(*target));
    }
    if (own) records[static_cast<std::size_t>(*own)].partner = -1;
    ++moved;
  }
  return moved;
}

std::optional<int> ParseInteger(const QString& text) { return ParseWholeInteger(text.trimmed().toStdString()); }

QString ApplicationName() {
  const QString name = QCoreApplication::applicationName();
  return name.isEmpty() ? QStringLiteral("Norvane") : name;
}

}  // namespace norvane::ui
