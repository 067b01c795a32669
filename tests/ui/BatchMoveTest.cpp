// The batch move: which rows qualify, what the list and records look like
// afterwards, the count, and the dialog around it.
#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

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

// Rows A (0) and B (1) both paired with C (2).
std::vector<Pair> SharedPartner() { return {{2, 3}, {2, 5}, {-1, 0}}; }

class BatchMoveTest : public QObject {
  Q_OBJECT

 private slots:
  void LimitTenMovesTheThreeQualifyingPartners() {
    MoveFixture f(FourDifferences());
    Batch b(f);
    QCOMPARE(b.Run("10", kRightSide), 3);
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

  void SharedPartnerMovedOnceFromTheRight() {
    MoveFixture f(SharedPartner());
    Batch b(f);
    QCOMPARE(b.Run("10", kRightSide), 1);
    QVERIFY(Exists(f.MovedPath(2)));
    QCOMPARE(f.Positions(), (std::vector<int>{0, 1}));
    QCOMPARE(f.PartnerCell(0), std::string());
    QCOMPARE(f.PartnerCell(1), std::string());
    // A's row no longer qualified when it was visited; its record still
    // forgot C when C went.
    QCOMPARE(f.w().session().records()[0].partner, -1);
    QCOMPARE(f.w().session().records()[1].partner, -1);
    QVERIFY(f.messages.empty());
  }

  void FilesThatCannotMoveAreSkippedSilently() {
    MoveFixture f(FourDifferences());
    QFile::remove(QString::fromStdString(f.ImagePath(6)));
    Batch b(f);
    QCOMPARE(b.Run("10", kRightSide), 2);
    QCOMPARE(b.told.size(), std::size_t{1});
    QCOMPARE(f.PartnerCell(1), std::string("6"));  // untouched
    QCOMPARE(f.w().session().records()[1].partner, 6);
    QCOMPARE(f.Positions(), (std::vector<int>{0, 1, 2, 3, 4, 6, 8}));
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

  void ButtonsAreDisabledAndTheCursorWaitsDuringARun() {
    MoveFixture f(FourDifferences());
    std::vector<bool> runEnabled, cancelEnabled;
    std::vector<int> shapes;
    BatchMoveDialog* dialogPtr = nullptr;
    BatchMoveDialog dialog(
        f.list().rows(), f.w().session().records(),
        [&](const std::string&) {
          runEnabled.push_back(dialogPtr->runButton().isEnabled());
          cancelEnabled.push_back(dialogPtr->cancelButton().isEnabled());
          const QCursor* cursor = QApplication::overrideCursor();
          shapes.push_back(cursor ? cursor->shape() : -1);
          return MoveOutcome{false, "refused"};
        },
        [](std::string_view, std::string_view) {});
    dialogPtr = &dialog;
    QCOMPARE(dialog.RunBatchMove(), 0);
    QCOMPARE(runEnabled, std::vector<bool>(3, false));
    QCOMPARE(cancelEnabled, std::vector<bool>(3, false));
    QCOMPARE(shapes, std::vector<int>(3, Qt::WaitCursor));
    QVERIFY(dialog.runButton().isEnabled());
    QVERIFY(dialog.cancelButton().isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void ArrowsStepTheLimitWithinItsRange() {
    MoveFixture f({});
    Batch b(f);
    QTest::keyClick(&b.dialog.limitEdit(), Qt::Key_Up);
    QCOMPARE(b.dialog.limitEdit().text(), QString("11"));
    b.dialog.limitEdit().setText("0");
    b.dialog.StepLimit(-1);
    QCOMPARE(b.dialog.limitEdit().text(), QString("0"));
    b.dialog.limitEdit().setText(QString::number(BatchMoveDialog::kLimitMax));
    b.dialog.StepLimit(+1);
    QCOMPARE(b.dialog.limitEdit().text(), QString::number(BatchMoveDialog::kLimitMax));
    b.dialog.limitEdit().setText("abc");  // from the last limit used, 10
    b.dialog.StepLimit(-1);
    QCOMPARE(b.dialog.limitEdit().text(), QString("9"));
  }

  void EveryOpeningStartsAtTenAndRight() {
    MoveFixture f(FourDifferences());
    int openings = 0;
    auto operate = [&] {
      auto* dialog = f.w().findChild<BatchMoveDialog*>();
      QVERIFY(dialog != nullptr);
      ++openings;
      QCOMPARE(dialog->limitEdit().text(), QString("10"));
      QVERIFY(dialog->rightButton().isChecked());
      dialog->limitEdit().setText("7");
      dialog->leftButton().setChecked(true);
      dialog->runButton().click();
      dialog->cancelButton().click();
    };
    QTimer::singleShot(0, &f.w(), operate);
    f.w().OpenBatchMove();
    QCOMPARE(f.messages.back(), "2 個の画像を移動しました。|" + ApplicationName().toStdString());
    QVERIFY(Exists(f.MovedPath(0)) && Exists(f.MovedPath(1)));
    QTimer::singleShot(0, &f.w(), operate);
    f.w().OpenBatchMove();
    QCOMPARE(openings, 2);
    QVERIFY(f.w().findChild<BatchMoveDialog*>() == nullptr);
  }
};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::BatchMoveTest)
#include "BatchMoveTest.moc"
