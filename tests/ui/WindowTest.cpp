// The window program driven through its real widgets: searches on temporary
// folders, moves on lists laid out by the test, the list's order and keys,
// and pictures fitted into a pane.
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "support/BmpWriter.h"
#include "ui/AboutBox.h"
#include "ui/BatchMoveDialog.h"
#include "ui/MainWindow.h"
#include "ui/PaneDrawing.h"
#include "ui/PreviewPane.h"
#include "ui/ResultList.h"

namespace norvane::ui {
namespace {

using Texts = std::vector<std::string>;
using Rows = std::vector<int>;

// A text as a label shows it: without carriage returns.
std::string LabelText(const std::string& text) { return QString::fromStdString(text).remove('\r').toStdString(); }

// A main window with its own settings file; its message boxes are answered
// by `answer` and recorded as "text|caption".
struct Window {
  QTemporaryDir work;
  std::string ini = work.filePath("Norvane.ini").toStdString();
  std::unique_ptr<MainWindow> window;
  Texts questions, messages;
  bool answer = false;

  Window() { Open(); }
  // A new window; the former one saves its settings first, then `iniText`,
  // when given, replaces them.
  void Open(const std::string& iniText = {}) {
    window.reset();
    if (!iniText.empty()) test::WriteFile(ini, iniText);
    window = std::make_unique<MainWindow>(ini);
    window->SetAskHook([this](auto text, auto caption) {
      questions.push_back(std::string(text).append("|").append(caption));
      return answer;
    });
    window->SetInformHook([this](auto text, auto caption) { messages.push_back(std::string(text).append("|").append(caption)); });
  }
  MainWindow& w() { return *window; }
  ResultList& list() { return window->list(); }
  QLabel& Label(const char* name) { return *window->findChild<QLabel*>(name); }
  bool Shown() {
    window->show();
    return QTest::qWaitForWindowExposed(window.get());
  }
  void Search(const QString& folder) {
    window->searchEdit().setText(folder);
    window->startButton().click();  // returns when the search has ended
  }
  // Column 0 of every row: the record each row shows.
  Rows Positions() {
    Rows out;
    for (int r = 0; r < w().ListRowCount(); ++r) out.push_back(ReadDecimal(w().ListGetText(r, 0)).value_or(-9));
    return out;
  }
};

// A folder of 8 x 6 BMP files: a.bmp and b.bmp identical, the others unlike them.
struct ImageFolder {
  QTemporaryDir dir;
  explicit ImageFolder(int files) {
    for (int i = 0; i < files; ++i) {
      std::vector<std::uint8_t> bgr(8 * 6 * 3);
      for (std::size_t j = 0; j < bgr.size(); ++j) bgr[j] = static_cast<std::uint8_t>(std::array{10, 10, 200, 77, 140, 33}[i] + j * 7);
      test::WriteFile(dir.filePath(QChar('a' + i) + QString(".bmp")).toStdString(), test::MakeBmp24(8, 6, bgr));
    }
  }
};

const QColor kFace(212, 208, 200);

// `image` drawn into a w x h pane on a magenta ground.
QImage Paint(const DecodedImage& image, int w, int h) {
  QImage pane(w + 1, h + 1, QImage::Format_RGB32);
  pane.fill(Qt::magenta);
  QPainter painter(&pane);
  DrawFitted(image, painter, w, h, kFace);
  return pane;
}

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  // While a search runs, header clicks and commands do nothing and labels
  // and panes are painted at most once a frame; at a question (answered "go
  // on"), at the end and after a close they show exactly what the search
  // last gave them. A close stops the search, asks nothing, and closes the
  // window once the search has ended; the window keeps its settings.
  void PaintsShowTheLastStateAtAQuestionAndAtTheEnd() {
    ImageFolder folder(6);
    for (const bool close : {false, true}) {
      Window h;
      QVERIFY(h.Shown());
      std::string atQuestion, expected;
      h.w().SetAskHook([&](auto text, auto) {  // "stop the search?"
        h.questions.emplace_back(text);
        atQuestion = (h.Label("1009").text() + "|" + h.Label("1003").text()).toStdString();
        expected = h.w().StatusText() + "|" + LabelText(h.w().InfoTextOf(kLeftSide));
        return false;
      });
      Rows before, after;
      QTimer::singleShot(0, &h.w(), [&] {
        before = h.Positions();
        for (int click = 0; click < 2; ++click) emit h.list().header()->sectionClicked(kColumnName);
        h.list().SelectRow(0);
        h.w().MoveImage(kLeftSide);
        h.w().MoveImage(kRightSide);
        after = h.Positions();
        close ? (void)h.w().close() : h.w().startButton().click();
        QVERIFY(h.w().isVisible());  // until the search has ended
      });
      h.Search(folder.dir.path());
      QVERIFY(!before.empty() && after == before && h.w().isVisible() == !close);
      QCOMPARE(h.w().ListRowCount(), close ? 1 : 6);
      QCOMPARE(h.messages.size() + h.questions.size(), close ? 0u : 1u);
      QCOMPARE(atQuestion, LabelText(expected));
      QVERIFY(close || expected.starts_with("検索中\n\r1/6|"));
      // At once, before any event: the texts the search left.
      QCOMPARE(h.Label("1009").text(), QString());
      for (const int side : {kLeftSide, kRightSide}) {
        QCOMPARE(h.Label(side == kLeftSide ? "1003" : "1008").text().toStdString(), LabelText(h.w().InfoTextOf(side)));
        QVERIFY(!h.w().InfoTextOf(side).empty() || (close && side == kRightSide));
      }
      QTRY_VERIFY(!h.w().PairPending());
      if (close) {
        h.Open();  // on the settings the closed window saved
        QCOMPARE(h.w().searchEdit().text(), folder.dir.path());
      } else {
        for (const int side : {kLeftSide, kRightSide}) QCOMPARE(h.w().pane(side).Image(), h.w().imageSlots().Get(side));
        QVERIFY(h.w().pane(kLeftSide).HasPicture());
      }
    }
  }

  void SearchShowsRowZeroAndRowsShowTheirOwnPair() {
    ImageFolder folder(4);
    Window h;
    h.Search(folder.dir.path());
    QCOMPARE(h.list().FirstSelectedRow(), 0);
    QTRY_VERIFY(!h.w().PairPending());
    const FileRecord& left = h.w().session().records().at(h.Positions()[0]);
    QCOMPARE(h.w().ListGetText(0, kColumnDifference) + "|" + h.w().ListGetText(3, kColumnDifference), "0|");
    const FileRecord* right = &h.w().session().records().at(left.partner);
    for (const FileRecord* shown : {&left, right}) {
      const int side = shown == &left ? kLeftSide : kRightSide;
      QVERIFY(h.w().imageSlots().Get(side) != nullptr && h.w().pane(side).HasPicture());
      QCOMPARE(h.w().InfoTextOf(side), InfoText(shown));
    }
    // A row without partner, sorted last, clears the right side.
    h.list().SelectRow(3);
    h.w().ShowSelectedPair();
    QVERIFY(h.w().InfoTextOf(kRightSide).empty() && h.w().imageSlots().Get(kRightSide) == nullptr);
    // A row whose link cell names no record shows nothing, never record 0.
    h.w().ClearPanes();
    h.w().ListSetText(1, kColumnPosition, "x");
    h.list().SelectRow(1);
    h.w().ShowSelectedPair();
    QVERIFY(h.w().InfoTextOf(kLeftSide).empty() && h.w().imageSlots().Get(kLeftSide) == nullptr);
    // A key held down acts once, on its last release: the repeats move nothing.
    h.list().SelectRow(0);
    QTest::simulateEvent(&h.list(), false, Qt::Key_Q, {}, "q", true);
    QVERIFY(h.questions.empty() && h.messages.empty());
  }

  // "検索中" and "n/m" both fit the status field, in the program's font and
  // in the system's, clear of the batch-move button.
  void StatusFieldHoldsTwoLines() {
    const QFont system = QApplication::font();
    for (const QFont& font : {QFont(QStringLiteral("IPAPGothic"), 9), system}) {
      QApplication::setFont(font);
      Window h;
      QVERIFY(h.Shown());
      QLabel& status = h.Label("1009");
      h.w().SetStatusText("検索中\n\r10000/10000");
      const QRect room = status.contentsRect().marginsRemoved(QMargins(1, 1, 1, 1) * status.margin());
      const QRect needed = status.fontMetrics().boundingRect(QRect(0, 0, 1000, 1000), Qt::AlignLeft, status.text());
      QVERIFY2(needed.height() <= room.height(), qPrintable(QString("%1 > %2").arg(needed.height()).arg(room.height())));
      QVERIFY(!status.geometry().intersects(h.w().findChild<QPushButton*>("1035")->geometry()));
    }  // the system's font is back
  }

  // Here the window speaks English, asked for by the settings file; the next
  // window without that is Japanese again.
  void EmptyTargetFolderIsChosenBeforeAnySearch() {
    Window h;
    QCOMPARE(h.w().menuBar()->findChild<QAction*>("about16")->text() + "|" + AboutBox().findChild<QLabel*>("version")->text(),
             QString::fromUtf8("Norvane のﾊﾞｰｼﾞｮﾝ情報(&A)...|Norvane.exe Version 1.04"));
    // A refused folder line leaves the target folder empty, not at home.
    h.Open("[General]\nLanguage=en\nSearchFolder=/" + std::string(kMaxFolderText, 'x') + "\n");
    QCOMPARE(h.w().searchEdit().text(), QString());
    // Start asks for a folder: cancelled, nothing is searched; chosen, that
    // (empty) folder is searched.
    QTemporaryDir empty;
    for (const QString& chosen : {QString(), empty.path()}) {
      QTimer answer;
      QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
          answer.stop();
          dialog->setDirectory(chosen);
          QMetaObject::invokeMethod(dialog, chosen.isEmpty() ? "reject" : "accept");
        }
      });
      answer.start(10);
      h.w().startButton().click();
      QVERIFY(!answer.isActive());
      QCOMPARE(h.w().searchEdit().text(), chosen);
      QCOMPARE(h.messages, chosen.isEmpty() ? Texts{} : Texts{"No image files were found.|Information"});
    }
    h.Open("[General]\n");
    QCOMPARE(h.w().startButton().text(), QString::fromUtf8("開始"));
  }

  // `order` lists the rows after the sort by their column 0, the input position.
  void SortOrdersEachKindOfColumn() {
    struct Case { int column, direction; const char *cells, *order; };
    for (const Case& c : {
             // Text columns fold ASCII case only and compare bytes unsigned;
             // empty is greater than any text.
             Case{kColumnName, +1, "B.jpg,a.jpg,,\xE7\x94\xBB.jpg,z.jpg", "10432"},
             Case{kColumnPartnerName, -1, "B.jpg,a.jpg,,\xE7\x94\xBB.jpg,z.jpg", "23401"},
             // Number columns read leading decimals, no number as 0, empty as
             // -999999, but as 999999 in the difference column; equal keys
             // keep their order.
             Case{kColumnSize, +1, "10,9,12abc,-999998,12,,x,0,x,0,x,0,x,0,x,0,x", "536789101112131415161024"},
             Case{kColumnDifference, +1, ",12,999999,0,,3,999998", "3516024"},
             Case{kColumnDifference, -1, ",12,999999,0,,3,999998", "0246153"},
         }) {
      ResultList list;
      const QStringList cells = QString(c.cells).split(',');
      for (int r = 0; r < cells.size(); ++r) {
        list.rows().InsertRow(r, std::to_string(r));
        list.rows().SetText(r, c.column, cells[r].toStdString());
      }
      list.SortByColumn(c.column, c.direction);
      std::string order;
      for (int r = 0; r < list.rows().RowCount(); ++r) order += list.rows().GetText(r, kColumnPosition);
      QCOMPARE(order, std::string(c.order));
    }
  }

  // Fitted from the top left corner, each side truncated, never rounded up
  // (300 x 200 in 100 x 100: 66.67 rows give 66); the rest of the pane has
  // the face colour. Nothing to fit, or nowhere to fit it, gives nothing.
  void PicturesAreFittedTopLeft() {
    QCOMPARE(FittedSize(0, 10, 200, 200) + FittedSize(10, 10, -5, 200), QSize(0, 0));
    // Reduced, 24 bits: the left half red, the right half blue.
    DecodedImage image;
    QCOMPARE(image.AllocatePixels(300, 200, PixelKind::Bgr24), LoadResult::LoadOk);
    for (int i = 0; i < 300 * 200 * 3; ++i) image.colour.data()[i] = i % 3 == (i / 3 % 300 < 150 ? 2 : 0) ? 255 : 0;
    QImage pane = Paint(image, 100, 100);
    for (const auto& [x, y, colour] : {std::tuple{49, 65, QColor(Qt::red)}, {50, 0, QColor(Qt::blue)},
                                       {99, 65, QColor(Qt::blue)}, {0, 66, kFace}, {99, 100, kFace}})
      QCOMPARE(pane.pixelColor(x, y), colour);
    // Enlarged, 8 bits: each pixel repeated, in its palette's colour; the
    // pixels start as index 0, black in the gray palette a new picture gets.
    QCOMPARE(image.AllocatePixels(3, 1, PixelKind::Indexed8), LoadResult::LoadOk);
    image.indexed.data()[1] = 200;
    image.palette[200] = {0, 0, 255, 0};  // blue, green, red
    pane = Paint(image, 9, 6);
    for (int x = 0; x < 9; ++x) QCOMPARE(pane.pixelColor(x, 2), QColor(x / 3 == 1 ? Qt::red : Qt::black));
  }
};

// A window whose row j shows record j, file fj.bmp, with partner
// partners[j] (-1: none) at difference 10 * j; moves go into `moved`.
struct MoveFixture : Window {
  QTemporaryDir images, moved;

  explicit MoveFixture(const Rows& partners) {
    w().settings().EnableConfirm = w().settings().GotoTrashBox = false;
    w().moveEdit().setText(moved.path());
    FileList& records = w().session().records();
    const std::string folder = images.path().toStdString();
    for (int i = 0; i < static_cast<int>(partners.size()); ++i) {
      const std::string name = "f" + std::to_string(i) + ".bmp";
      records.push_back({.index = i, .folder = folder, .name = name, .date = {},
                         .digest = {}, .partner = partners[i], .difference = 10 * i});
      test::WriteFile(records.back().path(), name);
      w().ListInsertRow(i, DecimalText(i));
      if (partners[i] < 0) continue;
      w().ListSetText(i, kColumnPartnerName, "f" + std::to_string(partners[i]) + ".bmp");
      w().ListSetText(i, kColumnDifference, DecimalText(10 * i));
      w().ListSetText(i, kColumnPartner, DecimalText(partners[i]));
    }
  }
  std::string ImagePath(int record) const { return images.filePath(QString("f%1.bmp").arg(record)).toStdString(); }
  QStringList Moved() const { return QDir(moved.path()).entryList(QDir::Files); }
  // "partner|difference|partner name" of the row showing `record`, and "+"
  // while its record names a partner.
  std::string PairOf(int record) {
    const Rows p = Positions();
    const int row = static_cast<int>(std::find(p.begin(), p.end(), record) - p.begin());
    return w().ListGetText(row, kColumnPartner) + "|" + w().ListGetText(row, kColumnDifference) + "|" +
           w().ListGetText(row, kColumnPartnerName) + (w().session().records()[record].partner < 0 ? "" : "+");
  }
};

class MoveImageTest : public QObject {
  Q_OBJECT

 private slots:
  // Rows 2 and 5 name record 9 as their partner, row 7 names record 1.
  void MovesAskFirstThenDropTheRowAndSelectTheNext() {
    MoveFixture f({-1, -1, 9, -1, -1, 9, -1, 1, -1, -1, -1, -1});
    f.w().settings().EnableConfirm = true;
    f.list().SelectRow(5);
    f.w().MoveImage(kRightSide);
    QCOMPARE(f.questions, Texts{"右画像\r\n" + f.ImagePath(9) + "\r\nを移動します。|確認"});
    QCOMPARE(f.PairOf(5), std::string("9|50|f9.bmp+"));
    QVERIFY(f.Moved().isEmpty() && f.list().FirstSelectedRow() == 5);
    f.answer = true;
    f.w().MoveImage(kRightSide);
    QVERIFY(f.Moved() == QStringList{"f9.bmp"} && !QFile::exists(QString::fromStdString(f.ImagePath(9))));
    QCOMPARE(f.Positions(), (Rows{0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11}));
    // No row offers the moved image any more, no record names it.
    QCOMPARE(f.PairOf(2) + f.PairOf(5) + f.PairOf(7), std::string("||||1|70|f1.bmp+"));
    QCOMPARE(f.list().FirstSelectedRow(), 6);
    QCOMPARE(f.w().InfoTextOf(kLeftSide), InfoText(&f.w().session().records()[6]));
    // A row whose partner has left offers nothing on the right.
    f.list().SelectRow(5);
    f.w().MoveImage(kRightSide);
    f.w().MoveImage(kLeftSide);
    QCOMPARE(f.questions.back(), "左画像\r\n" + f.ImagePath(5) + "\r\nを移動します。|確認");
    QCOMPARE(f.list().FirstSelectedRow(), 5);
    // A partner on a row above: the selection still goes to the row after.
    f.list().SelectRow(6);
    f.w().MoveImage(kRightSide);
    QCOMPARE(f.Moved(), (QStringList{"f1.bmp", "f5.bmp", "f9.bmp"}));
    QCOMPARE(f.Positions(), (Rows{0, 2, 3, 4, 6, 7, 8, 10, 11}));
    QCOMPARE(f.list().FirstSelectedRow(), 6);
    QVERIFY(f.messages.empty());
    // A failed move reports the reason and changes nothing.
    QFile::remove(QString::fromStdString(f.ImagePath(8)));
    f.w().MoveImage(kLeftSide);
    QCOMPARE(f.messages, Texts{std::string(std::strerror(ENOENT)) + "|Error"});
    QCOMPARE(f.Positions(), (Rows{0, 2, 3, 4, 6, 7, 8, 10, 11}));
    QCOMPARE(f.list().FirstSelectedRow(), 6);
  }

  void DoubleClickOnAPaneMovesOneImage() {
    MoveFixture f(Rows(6, -1));
    QVERIFY(f.Shown());
    f.list().SelectRow(0);
    const QPoint centre = f.w().pane(kLeftSide).mapTo(&f.w(), f.w().pane(kLeftSide).rect().center());
    // Through the window system, which makes the second press a double click.
    QTest::mouseDClick(f.w().windowHandle(), Qt::LeftButton, {}, centre);
    QCOMPARE(f.Moved(), QStringList{"f0.bmp"});
    QCOMPARE(f.Positions(), (Rows{1, 2, 3, 4, 5}));
    QCOMPARE(f.list().FirstSelectedRow(), 0);
    // A later single click moves the next one.
    QTest::mouseClick(f.w().windowHandle(), Qt::LeftButton, {}, centre);
    QCOMPARE(f.Moved(), (QStringList{"f0.bmp", "f1.bmp"}));
    QVERIFY(f.messages.empty());
  }

  void NamesThatAreNotUtf8ReachTheirFiles() {
    MoveFixture f(Rows(2, -1));
    // Record 0 and the move folder get names with a byte that is not UTF-8;
    // taken through text, both would turn into U+FFFD, which names others.
    FileRecord& record = f.w().session().records()[0];
    record.name = "\xff %.bmp";
    test::WriteFile(record.path(), std::string("picture"));
    const std::string folder = f.moved.path().toStdString() + "/\xfe";
    test::MakeDir(folder);
    f.w().settings().MoveFolder = folder;
    f.w().CopyFoldersOut();
    f.list().SelectRow(0);
    QByteArray opened;
    f.w().SetOpenHook([&](const QUrl& url) { return !(opened = QByteArray::fromPercentEncoding(url.toEncoded())).isEmpty(); });
    f.w().OpenInViewer(kLeftSide);
    QCOMPARE(opened, "file://" + QByteArray::fromStdString(record.path()));
    f.w().MoveImage(kLeftSide);
    QCOMPARE(QDir(f.images.path()).entryList(QDir::Files), (QStringList{"f0.bmp", "f1.bmp"}));
    QCOMPARE(test::ReadFile(folder + "/\xff %.bmp"), (test::Bytes{'p', 'i', 'c', 't', 'u', 'r', 'e'}));
    // QTemporaryDir removes its folder through text and cannot reach these names.
    std::filesystem::remove_all(folder);
  }

  // Rows 1-4 with differences 10 to 40 name records 5-8; row 0 and the
  // partners' own rows have none.
  void BatchMoveMovesUpToTheLimitAndTheSelectionFollowsItsRecord() {
    MoveFixture f({-1, 5, 6, 7, 8, -1, -1, -1, -1});
    Texts told;
    BatchMoveDialog dialog(
        f.list().rows(), f.w().session().records(),
        [&](const std::string& path) { return MoveAway(path, false, f.moved.path().toStdString()); },
        [&](std::string_view text, std::string_view) { told.emplace_back(text); });
    auto run = [&](const char* limit, QRadioButton& side) {
      dialog.limitEdit().setText(limit);
      side.setChecked(true);
      return dialog.RunBatchMove();
    };
    // A limit that is no integer moves nothing.
    for (const char* text : {"1O", "", "-", "3.5", "99999999999"}) QCOMPARE(run(text, dialog.rightButton()), -1);
    QCOMPARE(told, Texts(5, kNotIntegerText));
    f.list().SelectRow(8);
    QCOMPARE(run("30", dialog.rightButton()), 3);
    QCOMPARE(told.back(), std::string("3 個の画像を移動しました。"));
    QCOMPARE(f.Moved(), (QStringList{"f5.bmp", "f6.bmp", "f7.bmp"}));
    QCOMPARE(f.Positions(), (Rows{0, 1, 2, 3, 4, 8}));
    QCOMPARE(f.list().FirstSelectedRow(), 5);  // still record 8
    QCOMPARE(f.PairOf(1) + f.PairOf(2) + f.PairOf(3) + f.PairOf(4), std::string("||||||8|40|f8.bmp+"));
    // On the left side the row's own image goes.
    QCOMPARE(run("40", dialog.leftButton()), 1);
    QCOMPARE(f.Moved(), (QStringList{"f4.bmp", "f5.bmp", "f6.bmp", "f7.bmp"}));
  }
};

}  // namespace
}  // namespace norvane::ui

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  norvane::ui::MainWindowTest window;
  norvane::ui::MoveImageTest moves;
  return QTest::qExec(&window, argc, argv) | QTest::qExec(&moves, argc, argv);
}
#include "WindowTest.moc"
