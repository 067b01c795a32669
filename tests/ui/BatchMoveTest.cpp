// The batch move: which rows qualify, what the list and records look like
// afterwards, and the count.
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "ui/BatchMoveDialog.h"
#include "ui/MoveFixture.h"

namespace norvane::ui {
namespace {

using test::Exists;
using test::MoveFixture;
using test::Pair;

// A dialog over the fixture's list that really moves files into its folder.
struct Batch {
  MoveFixture& f;
  std::vector<std::string> told;
  BatchMoveDialog dialog;
  explicit Batch(MoveFixture& fixture)
      : f(fixture),
        dialog(
            f.list().rows(), f.w().session().records(),
            [this](const std::string& path) { return MoveAway(path, false, f.moved.path().toStdString()); },
            [this](std::string_view text, std::string_view) { told.emplace_back(text); }) {}
  int Run(const QString& limit, int side) {
    dialog.limitEdit().setText(limit);
    (side == kLeftSide ? dialog.leftButton() : dialog.rightButton()).setChecked(true);
    return dialog.RunBatchMove();
  }
};

// Rows 0-3 with differences 0, 7, 10, 11 and partners 5-8; row 4 without
// partner; rows 5-8 for the partners themselves.
std::vector<Pair> FourDifferences() {
  std::vector<Pair> pairs(9, Pair{-1, 0});
  pairs[0] = {5, 0};
  pairs[1] = {6, 7};
  pairs[2] = {7, 10};
  pairs[3] = {8, 11};
  return pairs;
}

class BatchMoveTest : public QObject {
  Q_OBJECT

 private slots:
  void LimitTenMovesTheThreeQualifyingPartners() {
    MoveFixture f(FourDifferences());
    Batch b(f);
    f.list().SelectRow(8);
    QCOMPARE(b.Run("10", kRightSide), 3);
    QCOMPARE(f.list().FirstSelectedRow(), 5);  // the selection stays with record 8
    QCOMPARE(b.told, (std::vector<std::string>{"3 個の画像を移動しました。"}));
    for (int moved : {5, 6, 7}) QVERIFY(Exists(f.MovedPath(moved)));
    QVERIFY(Exists(f.ImagePath(8)));
    QCOMPARE(f.Positions(), (std::vector<int>{0, 1, 2, 3, 4, 8}));
    for (int visited : {0, 1, 2}) {
      QCOMPARE(f.PartnerCell(visited), std::string());
      QCOMPARE(f.w().session().records()[visited].partner, -1);
    }
    QCOMPARE(f.PartnerCell(3), std::string("8"));
    // A second run on the same list finds nothing more at this limit.
    QCOMPARE(b.Run("10", kRightSide), 0);
    QCOMPARE(b.told.back(), std::string("0 個の画像を移動しました。"));
  }

  void LimitThatIsNoIntegerMovesNothing() {
    MoveFixture f(FourDifferences());
    Batch b(f);
    for (const char* text : {"1O", "", "-", "3.5", "99999999999"}) {
      QCOMPARE(b.Run(text, kRightSide), -1);
    }
    QCOMPARE(b.told, std::vector<std::string>(5, kNotIntegerText));
    QCOMPARE(f.w().ListRowCount(), 9);
    QVERIFY(Exists(f.ImagePath(5)));
    QCOMPARE(b.dialog.limit(), 10);
  }
};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::BatchMoveTest)
#include "BatchMoveTest.moc"
