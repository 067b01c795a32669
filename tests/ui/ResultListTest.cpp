// Sorting, selection and keys of the result list.
#include <string>
#include <tuple>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>

#include "ui/ResultList.h"

namespace norvane::ui {
namespace {

// Fills a list with rows of (name, size, difference); column 0 numbers the rows.
void Fill(ResultList& list, const std::vector<std::tuple<std::string, std::string, std::string>>& rows) {
  ResultModel& m = list.rows();
  m.DeleteAll();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const int r = static_cast<int>(i);
    m.InsertRow(r, std::to_string(i));
    m.SetText(r, kColumnName, std::get<0>(rows[i]));
    m.SetText(r, kColumnSize, std::get<1>(rows[i]));
    m.SetText(r, kColumnDifference, std::get<2>(rows[i]));
  }
}

std::vector<std::string> Column(const ResultList& list, int column) {
  std::vector<std::string> texts;
  for (int r = 0; r < list.rows().RowCount(); ++r) texts.push_back(list.rows().GetText(r, column));
  return texts;
}

using Texts = std::vector<std::string>;

class ResultListTest : public QObject {
  Q_OBJECT

 private slots:
  void CellsCompareByColumnKind() {
    const struct {
      const char* a;
      const char* b;
      int column, direction, expected;
    } cases[] = {
        // Text columns ignore ASCII case; empty counts as greater than
        // anything, in either direction's terms.
        {"a.jpg", "B.jpg", kColumnName, +1, -1},
        {"", "zzz", kColumnPartnerName, +1, +1},
        {"", "zzz", kColumnPartnerName, -1, -1},
        // Bytes compare unsigned: UTF-8 sorts after ASCII, non-ASCII is not folded.
        {"\xE7\x94\xBB.jpg", "z.jpg", kColumnName, +1, +1},
        // Number columns read leading decimals; no number reads as 0.
        {"9", "10", kColumnSize, +1, -1},
        {"12abc", "12", kColumnSize, +1, 0},
        // Empty stands for 999999 in the difference column, -999999 elsewhere.
        {"", "999998", kColumnDifference, +1, +1},
        {"", "999999", kColumnDifference, +1, 0},
        {"", "-999998", kColumnSize, +1, -1},
    };
    for (const auto& c : cases) {
      QVERIFY2(CompareCells(c.a, c.b, c.column, c.direction) == c.expected,
               qPrintable(QString("'%1' vs '%2' in column %3").arg(c.a, c.b).arg(c.column)));
    }
  }

  void DifferenceSortPutsRowsWithoutPartnerLast() {
    ResultList list;
    Fill(list, {{"c", "1", ""}, {"a", "2", "12"}, {"b", "3", "0"}, {"d", "4", ""}, {"e", "5", "3"}});
    list.SortByColumn(kColumnDifference, +1);
    QCOMPARE(Column(list, kColumnDifference), (Texts{"0", "3", "12", "", ""}));
    // Equal keys keep their order.
    QCOMPARE(Column(list, kColumnName), (Texts{"b", "e", "a", "c", "d"}));
    list.SortByColumn(kColumnDifference, -1);
    QCOMPARE(Column(list, kColumnDifference), (Texts{"", "", "12", "3", "0"}));
    // Column 0 travels with its row.
    QCOMPARE(Column(list, kColumnPosition), (Texts{"0", "3", "1", "4", "2"}));
  }

  void KeysActOnReleaseOnly() {
    ResultList list;
    Fill(list, {{"a", "1", ""}, {"b", "2", ""}});
    QSignalSpy pair(&list, &ResultList::pairRequested);
    QSignalSpy open(&list, &ResultList::openRequested);
    QSignalSpy move(&list, &ResultList::moveRequested);
    auto send = [&](QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
                    const QString& text = {}, bool autoRepeat = false) {
      QKeyEvent event(type, key, mods, text, autoRepeat);
      QApplication::sendEvent(&list, &event);
    };
    send(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, "q");
    // Auto-repeat releases are ignored: holding Q must not act again and again.
    send(QEvent::KeyRelease, Qt::Key_Q, Qt::NoModifier, "q", true);
    QCOMPARE(move.count(), 0);
    send(QEvent::KeyRelease, Qt::Key_Q, Qt::NoModifier, "q");
    QCOMPARE(move.count(), 1);
    QCOMPARE(move.at(0).at(0).toInt(), kLeftSide);
    // Shift makes no difference to the letters.
    send(QEvent::KeyRelease, Qt::Key_W, Qt::ShiftModifier, "W");
    QCOMPARE(move.at(1).at(0).toInt(), kRightSide);
    send(QEvent::KeyRelease, Qt::Key_S, Qt::NoModifier, "s");
    QCOMPARE(open.count(), 1);
    QCOMPARE(open.at(0).at(0).toInt(), kRightSide);
    for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown}) send(QEvent::KeyRelease, key);
    QCOMPARE(pair.count(), 4);
    // Home, End and the side arrows move but do not refresh the pair.
    for (Qt::Key key : {Qt::Key_Home, Qt::Key_End, Qt::Key_Left, Qt::Key_Right, Qt::Key_X}) {
      send(QEvent::KeyRelease, key);
    }
    QCOMPARE(pair.count(), 4);
  }

};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::ResultListTest)
#include "ResultListTest.moc"
