// The main window driving real searches on temporary folders.
#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
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

// A folder of BMP files: a.bmp and b.bmp identical, the others unlike them.
struct ImageFolder {
  QTemporaryDir dir;
  explicit ImageFolder(int files) {
    const std::uint8_t seeds[] = {10, 10, 200, 77, 140, 33};
    for (int i = 0; i < files; ++i) {
      const std::string name = std::string(1, static_cast<char>('a' + i)) + ".bmp";
      test::WriteFile(path() + "/" + name, test::MakeBmp24(8, 6, Pixels(8, 6, seeds[i])));
    }
  }
  std::string path() const { return dir.path().toStdString(); }
};

// A text as a label shows it: without carriage returns.
std::string Strip(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

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
    // The pair is decoded off the window's thread and shown when it arrives.
    QTRY_VERIFY(!h.w().PairPending());
    QVERIFY(h.w().imageSlots().Get(kLeftSide) != nullptr);
    QVERIFY(h.w().imageSlots().Get(kRightSide) != nullptr);
    QVERIFY(h.w().pane(kLeftSide).HasPicture());
    QVERIFY(h.w().pane(kRightSide).HasPicture());
    const FileRecord& left = h.RecordOf(0);
    QCOMPARE(h.w().InfoTextOf(kLeftSide), InfoText(&left));
    const FileRecord& right = h.w().session().records().at(static_cast<std::size_t>(left.partner));
    QCOMPARE(h.w().InfoTextOf(kRightSide), InfoText(&right));
    QVERIFY(h.w().InfoTextOf(kLeftSide).find("\r\n( 8 * 6 )\r\n") != std::string::npos);
    // A row whose link cell names no record shows nothing, never record 0.
    h.w().ClearPanes();
    h.w().ListSetText(1, kColumnPosition, "x");
    h.w().list().SelectRow(1);
    h.w().ShowSelectedPair();
    QCOMPARE(h.w().InfoTextOf(kLeftSide), std::string());
    QVERIFY(h.w().imageSlots().Get(kLeftSide) == nullptr);
    // Back to idle.
    QCOMPARE(h.w().startButton().text(), QString::fromUtf8("開始"));
    QVERIFY(h.w().startButton().isEnabled());
    QCOMPARE(h.w().StatusText(), std::string());
    QVERIFY(h.questions.empty());
    QVERIFY(h.messages.empty());
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

  // While a search runs the labels and panes are painted at most once a
  // frame; at a question, at the end and after a stop they show exactly what
  // the search last gave them.
  void PaintsShowTheLastStateAtAQuestionAndAtTheEnd() {
    ImageFolder folder(6);
    for (const bool stop : {false, true}) {
      Harness h;
      h.answer = true;
      QVERIFY(h.Shown());
      auto* status = h.w().findChild<QLabel*>("1009");
      auto* info = h.w().findChild<QLabel*>("1003");
      QString statusAtQuestion, infoAtQuestion;
      std::string statusText, infoText;
      if (stop) {
        h.w().SetAskHook([&](std::string_view, std::string_view) {
          statusAtQuestion = status->text();
          infoAtQuestion = info->text();
          statusText = h.w().StatusText();
          infoText = h.w().InfoTextOf(kLeftSide);
          return true;
        });
        QTimer::singleShot(0, &h.w(), [&] { h.w().startButton().click(); });
      }
      h.Search(folder.path());
      QCOMPARE(h.w().ListRowCount(), stop ? 1 : 6);
      if (stop) {
        QCOMPARE(statusAtQuestion, QString::fromUtf8("検索中\n1/6"));
        QCOMPARE(statusText, std::string("検索中\n\r1/6"));
        QCOMPARE(infoAtQuestion.toStdString(), Strip(infoText));
      }
      // At once, before any event: the texts the search left.
      QCOMPARE(status->text(), QString());
      for (const char* name : {"1003", "1008"}) {
        const int side = std::string(name) == "1003" ? kLeftSide : kRightSide;
        QCOMPARE(h.w().findChild<QLabel*>(name)->text().toStdString(), Strip(h.w().InfoTextOf(side)));
        QVERIFY(!h.w().InfoTextOf(side).empty() || (stop && side == kRightSide));
      }
      QTRY_VERIFY(!h.w().PairPending());
      for (const int side : {kLeftSide, kRightSide}) {
        QCOMPARE(h.w().pane(side).Image(), h.w().imageSlots().Get(side));
      }
      QVERIFY(h.w().pane(kLeftSide).HasPicture());
    }
  }

  // "検索中" and "n/m" both fit the status field, in the program's font and
  // in the system's.
  void StatusFieldHoldsTwoLines() {
    const QFont system = QApplication::font();
    for (const QFont& font : {QFont(QStringLiteral("IPAPGothic"), 9), system}) {
      QApplication::setFont(font);
      Harness h;
      QVERIFY(h.Shown());
      auto* status = h.w().findChild<QLabel*>("1009");
      h.w().SetStatusText("検索中\n\r10000/10000");
      const QRect room = status->contentsRect().marginsRemoved(QMargins(1, 1, 1, 1) * status->margin());
      const QRect needed = QFontMetrics(status->font()).boundingRect(QRect(0, 0, 1000, 1000), Qt::AlignLeft | Qt::AlignTop, status->text());
      QVERIFY2(needed.height() <= room.height(), qPrintable(QString("%1 > %2").arg(needed.height()).arg(room.height())));
      // The batch-move button stays clear of it.
      QVERIFY(!status->geometry().intersects(h.w().findChild<QPushButton*>("1035")->geometry()));
    }
    QApplication::setFont(system);
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

  void EmptyTargetFolderIsChosenBeforeAnySearch() {
    ImageFolder folder(2);
    Harness h;
    h.window.reset();
    // A refused folder line leaves the target folder empty, not at home.
    test::WriteFile(h.ini, "[General]\nSearchFolder=/" + std::string(kMaxFolderText, 'x') + "\n");
    h.Open();
    QCOMPARE(h.w().searchEdit().text(), QString());

    // Start asks for a folder; cancelled, nothing is searched.
    QString chosen;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      answer.stop();
      if (chosen.isEmpty()) {
        dialog->reject();
      } else {
        dialog->setDirectory(chosen);
        QMetaObject::invokeMethod(dialog, "accept");
      }
    });
    answer.start(10);
    h.w().startButton().click();
    QVERIFY(!answer.isActive());
    QCOMPARE(h.w().ListRowCount(), 0);
    QVERIFY(h.messages.empty());

    // Once a folder is chosen, that folder is searched.
    chosen = QString::fromStdString(folder.path());
    answer.start(10);
    h.w().startButton().click();
    QVERIFY(!answer.isActive());
    QCOMPARE(h.w().searchEdit().text(), chosen);
    QCOMPARE(h.w().ListRowCount(), 2);
  }

  // Language=en in the settings file turns the window and what the search
  // says into English; the next window without it is Japanese again.
  void englishOnRequest() {
    Harness h;
    h.window.reset();
    test::WriteFile(h.ini, std::string("[General]\nLanguage=en\n"));
    h.Open();
    QCOMPARE(h.w().startButton().text(), QStringLiteral("Start"));
    QCOMPARE(h.w().list().model()->headerData(kColumnName, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QTemporaryDir empty;
    h.Search(empty.path().toStdString());
    QCOMPARE(h.messages, std::vector<std::string>{"No image files were found.|Information"});
    QCOMPARE(h.w().startButton().text(), QStringLiteral("Start"));

    h.window.reset();
    test::WriteFile(h.ini, std::string("[General]\n"));
    h.Open();
    QCOMPARE(h.w().startButton().text(), QString::fromUtf8("開始"));
  }
};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::MainWindowTest)
#include "MainWindowTest.moc"
