// The list model's compact cells and key sorts against plain text rows sorted
// pair by pair with CompareCells, with a model tester checking what the view
// is told while changes are held and announced.
#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <QAbstractItemModelTester>
#include <QTest>

#include "search/ResultTable.h"
#include "ui/ResultList.h"

namespace norvane::ui {
namespace {

// Texts that stress the storage (plain decimals, dates and near misses) and
// the sort (case, shared prefixes past 16 bytes, NUL bytes, UTF-8, empty).
std::string RandomText(std::mt19937& random) {
  static const std::vector<std::string> pieces = {
      "", "0", "7", "-5", "007", "-0", "+5", "2147483648", "-2147483648", " 5", "12abc", "a", "B",
      "img_", "IMG_", "pxl_20240517_1234", std::string("x\0", 2), std::string(1, '\0'), "\xE7\x94\xBB", ".jpg",
      std::string(400, 'w'), "2024/05/17 12:34:56", "1999/12/31 23:59:5", "0000/00/00 00:00:00",
      "536870911", "536870912", "-536870912", "-536870913"};
  std::string text;
  for (int n = static_cast<int>(random() % 4); n > 0; --n) text += pieces[random() % pieces.size()];
  if (random() % 5000 == 0) text.assign(70000 + random() % 3, 'q');  // longer than a cell holds
  return text;
}

// Random inserts, deletions, cell changes, sorts and holds on a model and on
// plain rows; the model tester (which re-reads the whole model at most
// signals) checks what the view is told on small lists.
void CompareRandomOperations(int rowCount, int steps, bool withTester) {
  std::mt19937 random(static_cast<unsigned>(rowCount));
  ResultModel model;
  std::optional<QAbstractItemModelTester> tester;
  if (withTester) tester.emplace(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  std::vector<ResultRow> expected;
  int nextId = 0;
  auto insert = [&](int at) {
    const std::string id = std::to_string(nextId++);
    const std::size_t place = std::min<std::size_t>(at, expected.size());
    ResultRow row;
    row[kColumnPosition] = id;
    row[kColumnName] = RandomText(random) + id;
    model.InsertRow(at, id);
    model.SetText(static_cast<int>(place), kColumnName, row[kColumnName]);
    expected.insert(expected.begin() + place, row);
  };
  auto sort = [&](int column, int direction) {
    model.SortRows(column, direction);
    std::stable_sort(expected.begin(), expected.end(), [&](const ResultRow& a, const ResultRow& b) {
      return CompareCells(a[column], b[column], column, direction) < 0;
    });
  };
  model.HoldChanges(true);
  for (int i = 0; i < rowCount; ++i) insert(i);
  for (int step = 1; step <= steps; ++step) {
    const int rows = static_cast<int>(expected.size());
    const unsigned what = random() % 1000;
    if (step % (steps / 10) == 0) {
      sort(static_cast<int>(1 + random() % 7), random() % 2 == 0 ? 1 : -1);
    } else if (what < 2) {
      model.HoldChanges(random() % 2 == 0);
    } else if (what < 30) {
      insert(static_cast<int>(random() % (rows + 2)));
    } else if (what < 60 && rows > 0) {
      const int row = static_cast<int>(random() % rows);
      model.DeleteRow(row);
      expected.erase(expected.begin() + row);
    } else if (rows > 0) {
      const int row = static_cast<int>(random() % rows);
      const int column = static_cast<int>(1 + random() % 8);
      const std::string text = RandomText(random);
      model.SetText(row, column, text);
      expected[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
    }
  }
  // Most rows go, as when a search is stopped: the storage packs itself.
  while (expected.size() > static_cast<std::size_t>(rowCount / 10)) {
    model.DeleteRow(static_cast<int>(expected.size()) - 1);
    expected.pop_back();
  }
  sort(kColumnName, -1);
  model.HoldChanges(false);
  QCOMPARE(model.rowCount(), static_cast<int>(expected.size()));
  for (int r = 0; r < model.RowCount(); ++r) {
    for (int c = 0; c < kColumnCount; ++c) {
      if (model.GetText(r, c) != expected[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]) {
        QFAIL(qPrintable(QString("row %1 column %2").arg(r).arg(c)));
      }
    }
  }
}

class ResultRowsTest : public QObject {
  Q_OBJECT

 private slots:
  void OperationsAndSortsMatchPlainRows() {
    CompareRandomOperations(200, 2000, true);
    if (QTest::currentTestFailed()) return;
    CompareRandomOperations(20000, 30000, false);  // long enough for the radix sorts
  }
};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::ResultRowsTest)
#include "ResultRowsTest.moc"
