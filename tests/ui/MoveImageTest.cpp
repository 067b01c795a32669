// Moving single images from the main window, and opening them in the
// desktop's viewer, on lists and records laid out by the test.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <cstring>

#include "support/BmpWriter.h"
#include "ui/MoveCommands.h"
#include "ui/MoveFixture.h"
#include "ui/PreviewPane.h"

namespace norvane::ui {
namespace {

using test::Exists;
using test::MoveFixture;
using test::Pair;

// Twelve rows; rows 2 and 5 both name record 9 as their partner.
std::vector<Pair> TwelveRows() {
  std::vector<Pair> pairs(12, Pair{-1, 0});
  pairs[2] = {9, 4};
  pairs[5] = {9, 3};
  pairs[7] = {1, 8};
  return pairs;
}

class MoveImageTest : public QObject {
  Q_OBJECT

 private slots:
  void RightMoveDropsThePartnersRowAndSelectsTheNext() {
    MoveFixture f(TwelveRows());
    f.list().SelectRow(5);
    f.w().MoveImage(kRightSide);
    QVERIFY(!Exists(f.ImagePath(9)));
    QVERIFY(Exists(f.MovedPath(9)));
    QCOMPARE(f.RowOf(9), -1);
    QCOMPARE(f.w().ListRowCount(), 11);
    // Every row that offered the moved image shows no partner, and every
    // record that named it forgot it.
    for (int record : {2, 5}) {
      QCOMPARE(f.PartnerCell(record), std::string());
      QCOMPARE(f.w().ListGetText(f.RowOf(record), kColumnDifference), std::string());
      QCOMPARE(f.w().ListGetText(f.RowOf(record), kColumnPartnerName), std::string());
      QCOMPARE(f.w().session().records()[record].partner, -1);
    }
    QCOMPARE(f.PartnerCell(7), std::string("1"));
    QCOMPARE(f.list().FirstSelectedRow(), 6);
    QCOMPARE(f.w().InfoTextOf(kLeftSide), InfoText(&f.w().session().records()[6]));
    QVERIFY(f.messages.empty());
    // The row whose partner just left offers nothing on the right any more.
    f.list().SelectRow(f.RowOf(5));
    f.w().MoveImage(kRightSide);
    QCOMPARE(f.w().ListRowCount(), 11);
    QVERIFY(f.messages.empty());
  }

  void RightMoveWhosePartnerRowLiesAbove() {
    std::vector<Pair> pairs(8, Pair{-1, 0});
    pairs[5] = {2, 1};
    MoveFixture f(pairs);
    QTest::keyClick(&f.list(), Qt::Key_W);  // nothing selected: nothing happens
    QVERIFY(Exists(f.ImagePath(2)));
    f.list().SelectRow(5);
    f.list().setFocus();
    QTest::keyClick(&f.list(), Qt::Key_W);
    QVERIFY(Exists(f.MovedPath(2)));
    QCOMPARE(f.Positions(), (std::vector<int>{0, 1, 3, 4, 5, 6, 7}));
    // Row 5 moved up to 4; the one after it is selected, and only it.
    QCOMPARE(f.list().FirstSelectedRow(), 5);
    QCOMPARE(f.list().selectionModel()->selectedRows().size(), 1);
    QCOMPARE(f.w().InfoTextOf(kLeftSide), InfoText(&f.w().session().records()[6]));
  }

  void LeftMoveDeletesTheRowAndLastRowLeavesNoSelection() {
    std::vector<Pair> pairs(4, Pair{-1, 0});
    pairs[0] = {3, 2};
    pairs[1] = {3, 5};
    MoveFixture f(pairs);
    f.list().SelectRow(3);
    f.w().ShowSelectedPair();
    const std::string shown = f.w().InfoTextOf(kLeftSide);
    f.w().pane(kLeftSide).clicked();
    QVERIFY(Exists(f.MovedPath(3)));
    QCOMPARE(f.Positions(), (std::vector<int>{0, 1, 2}));
    QCOMPARE(f.PartnerCell(0), std::string());
    QCOMPARE(f.PartnerCell(1), std::string());
    QCOMPARE(f.w().session().records()[0].partner, -1);
    QCOMPARE(f.list().FirstSelectedRow(), -1);
    QCOMPARE(f.w().InfoTextOf(kLeftSide), shown);  // the panes keep the former pair
  }

  void ConfirmationNoChangesNothingAndYesMoves() {
    MoveFixture f(TwelveRows());
    f.w().settings().EnableConfirm = true;
    f.answer = false;
    f.list().SelectRow(5);
    f.w().MoveImage(kRightSide);
    QCOMPARE(f.questions, (std::vector<std::string>{"右画像\r\n" + f.ImagePath(9) + "\r\nを移動します。|確認"}));
    QVERIFY(Exists(f.ImagePath(9)));
    QCOMPARE(f.w().ListRowCount(), 12);
    QCOMPARE(f.PartnerCell(5), std::string("9"));
    QCOMPARE(f.list().FirstSelectedRow(), 5);

    f.answer = true;
    f.w().MoveImage(kLeftSide);
    QCOMPARE(f.questions.back(), "左画像\r\n" + f.ImagePath(5) + "\r\nを移動します。|確認");
    QVERIFY(Exists(f.MovedPath(5)));
  }

  void FailedMovesReportTheReasonAndChangeNothing() {
    MoveFixture f(TwelveRows());
    QFile::remove(QString::fromStdString(f.ImagePath(9)));
    f.list().SelectRow(5);
    f.w().MoveImage(kRightSide);
    QCOMPARE(f.messages, (std::vector<std::string>{std::string(std::strerror(ENOENT)) + "|Error"}));
    QCOMPARE(f.w().ListRowCount(), 12);
    QCOMPARE(f.PartnerCell(5), std::string("9"));
    QCOMPARE(f.w().session().records()[5].partner, 9);
    QCOMPARE(f.list().FirstSelectedRow(), 5);

    // No move folder: refused, the file stays.
    f.messages.clear();
    f.w().moveEdit().clear();
    f.w().MoveImage(kLeftSide);
    QCOMPARE(f.messages.size(), std::size_t{1});
    QVERIFY(Exists(f.ImagePath(5)));
    QCOMPARE(f.w().ListRowCount(), 12);
  }

  void TrashMoveLandsInTheTrashFolder() {
    // XDG_DATA_HOME and HOME are set before the first use of the trash (in
    // main below), so the trash is the test's own.
    MoveFixture f(TwelveRows());
    f.w().settings().GotoTrashBox = true;
    f.w().moveEdit().setText("/no/such/folder");  // not used for the trash
    f.list().SelectRow(3);
    f.w().MoveImage(kLeftSide);
    QVERIFY2(f.messages.empty(), f.messages.empty() ? "" : f.messages.front().c_str());
    QVERIFY(!Exists(f.ImagePath(3)));
    const QString trashed = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/f3.bmp";
    QVERIFY2(QFile::exists(trashed), qPrintable(trashed));
    QCOMPARE(f.RowOf(3), -1);
  }

  void CommandsDuringASearchDoNothing() {
    QTemporaryDir folder;
    for (int i = 0; i < 4; ++i) {
      test::WriteFile(folder.filePath(QString("s%1.bmp").arg(i)).toStdString(),
                      test::MakeBmp24(4, 4, std::vector<std::uint8_t>(48, static_cast<std::uint8_t>(i * 50))));
    }
    MoveFixture f({});
    int opened = 0;
    f.w().SetOpenHook([&](const QUrl&) { return ++opened > 0; });
    // Any dialog that opens by mistake is closed again, so the test ends.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    closer.start(50);
    bool ran = false;
    QTimer::singleShot(0, &f.w(), [&] {
      ran = f.w().session().searching();
      f.list().SelectRow(0);
      f.w().MoveImage(kLeftSide);
      f.w().MoveImage(kRightSide);
      f.w().OpenInViewer(kLeftSide);
      f.w().OpenBatchMove();
      f.w().OpenOptions();
    });
    f.w().searchEdit().setText(folder.path());
    f.w().startButton().click();
    QVERIFY(ran);
    QCOMPARE(f.w().ListRowCount(), 4);
    QCOMPARE(QDir(f.moved.path()).entryList(QDir::Files).size(), 0);
    QCOMPARE(opened, 0);
  }

  void ViewerOpensTheChosenSideAndReportsFailures() {
    std::vector<Pair> pairs(3, Pair{-1, 0});
    pairs[0] = {2, 1};
    MoveFixture f(pairs);
    QList<QUrl> urls;
    bool succeed = true;
    f.w().SetOpenHook([&](const QUrl& url) {
      urls.push_back(url);
      return succeed;
    });
    f.w().OpenInViewer(kLeftSide);  // no selection
    f.list().SelectRow(0);
    f.list().setFocus();
    QTest::keyClick(&f.list(), Qt::Key_S);
    QTest::keyClick(&f.list(), Qt::Key_A);
    QCOMPARE(urls, (QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(f.ImagePath(2))),
                                QUrl::fromLocalFile(QString::fromStdString(f.ImagePath(0)))}));
    QVERIFY(f.messages.empty());

    f.list().SelectRow(1);
    f.w().OpenInViewer(kRightSide);  // no partner: silent
    QCOMPARE(urls.size(), 2);
    QVERIFY(f.messages.empty());

    const std::string failed = "ビュワー起動に失敗しました。|" + ApplicationName().toStdString();
    succeed = false;
    f.w().OpenInViewer(kLeftSide);
    QCOMPARE(f.messages, (std::vector<std::string>{failed}));
    succeed = true;
    QFile::remove(QString::fromStdString(f.ImagePath(1)));
    f.w().OpenInViewer(kLeftSide);  // a file removed behind our back
    QCOMPARE(urls.size(), 3);
    QCOMPARE(f.messages, (std::vector<std::string>{failed, failed}));
    QCOMPARE(f.w().ListRowCount(), 3);
  }
};

}  // namespace
}  // namespace norvane::ui

int main(int argc, char** argv) {
  // The desktop's trash lives in the data home; a test must never fill the
  // user's. HOME moves too, so the images (under the same temporary
  // directory) count as being on the home file system.
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  // The data home exists on every desktop; the trash folder inside it is
  // the trash's own to create.
  QDir(home.path()).mkdir("data");
  qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
  QApplication app(argc, argv);
  norvane::ui::MoveImageTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "MoveImageTest.moc"
