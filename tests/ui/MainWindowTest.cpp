// The main window driving real searches on temporary folders.
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "search/SearchView.h"
#include "settings/Settings.h"
#include "support/BmpWriter.h"
#include "support/TempDir.h"
#include "ui/AboutBox.h"
#include "ui/MainWindow.h"
#include "ui/PreviewPane.h"
#include "ui/MoveFixture.h"
#include "ui/ResultList.h"

namespace norvane::ui {
namespace {

std::vector<std::uint8_t> Pixels(int w, int h, std::uint8_t seed) {
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * h * 3);
  for (std::size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bgr;
}

// A folder of BMP files: a.bmp and b.bmp identical, c.bmp and d.bmp unlike them.
struct ImageFolder {
  QTemporaryDir dir;
  explicit ImageFolder(int files = 3) {
    const std::uint8_t seeds[] = {10, 10, 200, 77, 140, 33};
    for (int i = 0; i < files; ++i) {
      const std::string name = std::string(1, static_cast<char>('a' + i)) + ".bmp";
      test::WriteFile(path() + "/" + name, test::MakeBmp24(8, 6, Pixels(8, 6, seeds[i])));
    }
  }
  std::string path() const { return dir.path().toStdString(); }
};

// A window whose message boxes answer "no" unless told otherwise.
struct Harness : test::AnsweredWindow {
  Harness() { answer = false; }
  bool Shown() {
    w().show();
    return QTest::qWaitForWindowExposed(window.get());
  }
  void ClickHeader(int column) {
    QHeaderView* header = w().list().header();
    const QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  }
  void Search(const std::string& folder) {
    w().searchEdit().setText(QString::fromStdString(folder));
    w().startButton().click();  // returns when the search has ended
  }
  // The record shown by a row, through its column 0.
  const FileRecord& RecordOf(int row) {
    const int position = ReadDecimal(w().ListGetText(row, kColumnPosition)).value_or(-1);
    return w().session().records().at(static_cast<std::size_t>(position));
  }
};

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void SearchFillsTheListAndShowsRowZero() {
    ImageFolder folder(3);
    Harness h;
    h.w().show();
    h.Search(folder.path());

    QCOMPARE(h.w().ListRowCount(), 3);
    QCOMPARE(h.w().list().FirstSelectedRow(), 0);
    QVERIFY(h.w().list().hasFocus() || !QApplication::focusWindow());
    // Row 0 is the identical pair, with both pictures loaded.
    QCOMPARE(h.w().ListGetText(0, kColumnDifference), std::string("0"));
    QVERIFY(h.w().imageSlots().Get(kLeftSide) != nullptr);
    QVERIFY(h.w().imageSlots().Get(kRightSide) != nullptr);
    QVERIFY(h.w().pane(kLeftSide).HasPicture());
    QVERIFY(h.w().pane(kRightSide).HasPicture());
    const FileRecord& left = h.RecordOf(0);
    QCOMPARE(h.w().InfoTextOf(kLeftSide), InfoText(&left));
    const FileRecord& right = h.w().session().records().at(static_cast<std::size_t>(left.partner));
    QCOMPARE(h.w().InfoTextOf(kRightSide), InfoText(&right));
    QVERIFY(h.w().InfoTextOf(kLeftSide).find("\r\n( 8 * 6 )\r\n") != std::string::npos);
    // Back to idle.
    QCOMPARE(h.w().startButton().text(), QString::fromUtf8("開始"));
    QVERIFY(h.w().startButton().isEnabled());
    QCOMPARE(h.w().StatusText(), std::string());
    QVERIFY(h.questions.empty());
    QVERIFY(h.messages.empty());
  }

  void HeaderClicksSortOnlyOnceTheSearchHasEnded() {
    ImageFolder folder(4);
    Harness h;
    QVERIFY(h.Shown());
    std::vector<std::string> before, after;
    QTimer::singleShot(0, &h.w(), [&] {
      for (int r = 0; r < h.w().ListRowCount(); ++r) before.push_back(h.w().ListGetText(r, 0));
      h.ClickHeader(kColumnName);
      h.ClickHeader(kColumnName);
      for (int r = 0; r < h.w().ListRowCount(); ++r) after.push_back(h.w().ListGetText(r, 0));
    });
    h.Search(folder.path());
    QCOMPARE(before.size(), std::size_t{4});
    QCOMPARE(after, before);
    // Every row still names its own partner after the search.
    for (int r = 0; r < h.w().ListRowCount(); ++r) {
      const FileRecord& record = h.RecordOf(r);
      const std::string partner = h.w().ListGetText(r, kColumnPartner);
      QCOMPARE(partner, record.partner < 0 ? std::string() : DecimalText(record.partner));
    }
    QCOMPARE(h.w().list().SortDirection(kColumnDifference), +1);
    QCOMPARE(h.w().list().SortDirection(kColumnName), -1);

    // The first click on the difference header sorts descending: rows
    // without a partner first, the identical pair last.
    h.ClickHeader(kColumnDifference);
    QCOMPARE(h.w().list().SortDirection(kColumnDifference), -1);
    QCOMPARE(h.w().ListGetText(h.w().ListRowCount() - 1, kColumnDifference), std::string("0"));
    QCOMPARE(h.w().ListGetText(0, kColumnDifference), std::string());
  }

  void ClickAndDownArrowShowThePair() {
    ImageFolder folder(3);
    Harness h;
    QVERIFY(h.Shown());
    h.Search(folder.path());
    ResultList& list = h.w().list();
    const QRect row2 = list.visualRect(list.rows().index(2, kColumnName));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, row2.center());
    QCOMPARE(list.FirstSelectedRow(), 2);
    QCOMPARE(h.w().InfoTextOf(kLeftSide), InfoText(&h.RecordOf(2)));
    // With several rows selected, the first one counts.
    const QRect row1 = list.visualRect(list.rows().index(1, kColumnName));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, row1.center());
    QCOMPARE(h.w().InfoTextOf(kLeftSide), InfoText(&h.RecordOf(1)));

    // The down arrow shows the next pair; row 1 has no partner, so the
    // right side is emptied.
    list.SelectRow(0);
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(list.FirstSelectedRow(), 1);
    QCOMPARE(h.w().InfoTextOf(kLeftSide), InfoText(&h.RecordOf(1)));
    if (h.RecordOf(1).partner < 0) {
      QCOMPARE(h.w().InfoTextOf(kRightSide), std::string());
      QVERIFY(h.w().imageSlots().Get(kRightSide) == nullptr);
    }
  }

  void StopQuestionDecidesWhetherTheRunGoesOn() {
    for (const bool stop : {false, true}) {
      ImageFolder folder(4);
      Harness h;
      h.answer = stop;
      // The second press arrives while the search pumps events.
      QTimer::singleShot(0, &h.w(), [&] { h.w().startButton().click(); });
      h.Search(folder.path());
      QCOMPARE(h.questions, (std::vector<std::string>{"処理を中止します。|確認"}));
      QVERIFY(!h.w().session().stopRequested() || stop);
      // "Yes" was handled after the first file: only it remains.
      QCOMPARE(h.w().ListRowCount(), stop ? 1 : 4);
      QCOMPARE(h.w().session().records().size(), std::size_t(stop ? 1 : 4));
      if (stop) QCOMPARE(h.w().ListGetText(0, kColumnName), std::string("a.bmp"));
      QCOMPARE(h.w().startButton().text(), QString::fromUtf8("開始"));
      QVERIFY(h.w().startButton().isEnabled());
    }
  }

  void SettingsAreLoadedAndWrittenOnClose() {
    Harness h;
    h.window.reset();
    // A file of an earlier run: an out-of-range ratio and a key never written.
    test::WriteFile(h.ini, std::string("[General]\nWeightV=250\nGotoTrashBox=1\n[WindowPos]\nLeft=40\nTop=50\n"
                                       "Right=840\nBottom=750\nImgHeightRatio=90\n"));
    h.Open();
    QCOMPARE(h.w().geometry(), QRect(40, 50, 800, 700));
    // The trash choice disables the move-folder controls and renames the label.
    QVERIFY(!h.w().moveEdit().isEnabled());
    QCOMPARE(h.w().findChild<QLabel*>("1024")->text(), QString::fromUtf8("ごみ箱に移動"));

    QVERIFY(h.Shown());
    // The layout follows the loaded ratio.
    const QWidget* client = h.w().centralWidget();
    QCOMPARE(h.w().list().height(), ListHeight(client->height(), 85));

    h.w().searchEdit().setText("/tmp/search folder");
    h.w().moveEdit().setText("/tmp/moved");
    h.w().setGeometry(60, 70, 700, 640);
    QVERIFY(h.w().close());

    Settings saved;
    saved.SettingsFile = h.ini;
    QCOMPARE(LoadSettings(saved), SettingsResult::Ok);
    QCOMPARE(saved.SearchFolder, std::string("/tmp/search folder"));
    QCOMPARE(saved.MoveFolder, std::string("/tmp/moved"));
    QCOMPARE(saved.Left, 60);
    QCOMPARE(saved.Top, 70);
    QCOMPARE(saved.Right, 760);
    QCOMPARE(saved.Bottom, 710);
    QVERIFY(saved.GotoTrashBox);
  }

  void EveryResizeLaysTheControlsOut() {
    Harness h;
    QVERIFY(h.Shown());
    for (const QSize size : {QSize(900, 760), QSize(641, 500), QSize(1200, 900)}) {
      h.w().resize(size);
      QApplication::processEvents();
      const QWidget* client = h.w().centralWidget();
      const ControlRects r = LayoutControls(client->width(), client->height(), 75);
      auto rect = [](const Rect& x) { return QRect(x.x, x.y, x.width, x.height); };
      QCOMPARE(h.w().list().geometry(), rect(r.list));
      QCOMPARE(h.w().pane(kLeftSide).geometry(), rect(r.leftPane));
      QCOMPARE(h.w().pane(kRightSide).geometry(), rect(r.rightPane));
      QCOMPARE(h.w().startButton().geometry(), rect(r.start));
      QCOMPARE(h.w().findChild<QLabel*>("1008")->geometry(), rect(r.rightInfo));
      // The edit boxes may start later for a wide font, never end elsewhere.
      const QRect edit = h.w().searchEdit().geometry();
      QCOMPARE(edit.x() + edit.width(), r.searchEdit.x + r.searchEdit.width);
      QCOMPARE(edit.y(), r.searchEdit.y);
      QVERIFY(h.w().findChild<QLabel*>("1024")->geometry().right() < h.w().moveEdit().x());
    }
  }

  void CloseDuringASearchStopsThenCloses() {
    ImageFolder folder(4);
    Harness h;
    QVERIFY(h.Shown());
    QTimer::singleShot(0, &h.w(), [&] {
      h.w().close();
      // The window stays open until the run has ended.
      QVERIFY(h.w().isVisible());
    });
    h.Search(folder.path());
    QVERIFY(h.questions.empty());  // a close asks nothing
    QCOMPARE(h.w().ListRowCount(), 1);
    QVERIFY(!h.w().isVisible());
    Settings saved;
    saved.SettingsFile = h.ini;
    QCOMPARE(LoadSettings(saved), SettingsResult::Ok);
    QCOMPARE(saved.SearchFolder, folder.path());
  }

  void EnterAndEscapeDoNotClose() {
    Harness h;
    QVERIFY(h.Shown());
    QWidget* targets[] = {&h.w(), &h.w().list(), &h.w().searchEdit(), &h.w().startButton()};
    for (QWidget* target : targets) {
      target->setFocus();
      QTest::keyClick(target, Qt::Key_Escape);
      QTest::keyClick(target, Qt::Key_Return);
      QTest::keyClick(target, Qt::Key_Enter);
    }
    QApplication::processEvents();
    QVERIFY(h.w().isVisible());
    QVERIFY(!QFile::exists(QString::fromStdString(h.ini)));  // nothing was saved: no close
  }

  void AboutItemAndBox() {
    Harness h;
    const QList<QAction*> actions = h.w().menuBar()->findChildren<QAction*>("about16");
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions.front()->text(), QString::fromUtf8("Norvane のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    AboutBox box(&h.w());
    QCOMPARE(box.windowTitle(), QString::fromUtf8("Norvane のﾊﾞｰｼﾞｮﾝ情報"));
    QCOMPARE(box.findChild<QLabel*>("version")->text(), QString("Norvane.exe Version 1.04"));
    QVERIFY(!box.findChild<QLabel*>("notice")->text().isEmpty());
    QVERIFY(!h.w().windowIcon().isNull());
    // Escape ends the box, not the main window.
    box.show();
    QTest::keyClick(&box, Qt::Key_Escape);
    QVERIFY(!box.isVisible());
  }
};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::MainWindowTest)
#include "MainWindowTest.moc"
