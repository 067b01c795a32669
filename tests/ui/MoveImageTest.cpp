// Moving single images from the main window, on lists and records laid out by the test.
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include "support/BmpWriter.h"
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

  void DoubleClickOnAPaneMovesOneImage() {
    MoveFixture f(std::vector<Pair>(6, Pair{-1, 0}));
    f.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.w()));
    f.list().SelectRow(0);
    PreviewPane& pane = f.w().pane(kLeftSide);
    const QPoint centre = pane.mapTo(&f.w(), pane.rect().center());
    // Through the window system, which makes the second press a double click.
    QTest::mouseDClick(f.w().windowHandle(), Qt::LeftButton, {}, centre);
    QCOMPARE(QDir(f.moved.path()).entryList(QDir::Files), QStringList{"f0.bmp"});
    QCOMPARE(f.list().FirstSelectedRow(), 0);
    QCOMPARE(f.Positions(), (std::vector<int>{1, 2, 3, 4, 5}));
    // A later single click moves the next one.
    QTest::mouseClick(f.w().windowHandle(), Qt::LeftButton, {}, centre);
    QCOMPARE(QDir(f.moved.path()).entryList(QDir::Files).size(), 2);
    QVERIFY(f.messages.empty());
  }

  void NamesThatAreNotUtf8ReachTheirFiles() {
    MoveFixture f(std::vector<Pair>(2, Pair{-1, 0}));
    // Record 0 and the move folder get names with a byte that is not UTF-8;
    // taken through text, both would turn into U+FFFD.
    FileRecord& record = f.w().session().records()[0];
    record.name = "\xff %.bmp";
    record.path = record.folder + "/" + record.name;
    test::WriteFile(record.path, std::string("picture"));
    const std::string folder = f.moved.path().toStdString() + "/\xfe";
    test::MakeDir(folder);
    test::MakeDir(f.moved.path().toStdString() + "/\xef\xbf\xbd");
    f.w().settings().MoveFolder = folder;
    f.w().CopyFoldersOut();
    f.list().SelectRow(0);

    QByteArray opened;
    f.w().SetOpenHook([&](const QUrl& url) {
      opened = QByteArray::fromPercentEncoding(url.toEncoded());
      return true;
    });
    f.w().OpenInViewer(kLeftSide);
    QCOMPARE(opened, "file://" + QByteArray::fromStdString(record.path));

    f.w().MoveImage(kLeftSide);
    QVERIFY(f.messages.empty());
    QCOMPARE(test::ReadFile(folder + "/" + record.name), (test::Bytes{'p', 'i', 'c', 't', 'u', 'r', 'e'}));
    QVERIFY(!Exists(record.path));
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
};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::MoveImageTest)
#include "MoveImageTest.moc"
