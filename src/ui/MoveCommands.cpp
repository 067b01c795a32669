#include "ui/MoveCommands.h"

#include <QCoreApplication>

#include "search/SearchView.h"
#include "ui/ResultList.h"

namespace norvane::ui {

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

std::optional<int> ParseInteger(const QString& text) { return ParseWholeInteger(text.trimmed().toStdString()); }

QString ApplicationName() {
  const QString name = QCoreApplication::applicationName();
  return name.isEmpty() ? QStringLiteral("Norvane") : name;
}

}  // namespace norvane::ui
