#include "ui/MainWindow.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "ui/AboutBox.h"
#include "ui/BatchMoveDialog.h"
#include "ui/MoveCommands.h"
#include "ui/OptionsDialog.h"
#include "ui/Placement.h"
#include "ui/PreviewPane.h"
#include "ui/ProgramIcon.h"
#include "ui/ResultList.h"
#include "ui/Translation.h"

namespace norvane::ui {

namespace {

// A display frame: while a search runs, what only paints is shown at most
// this often.
constexpr auto kFrame = std::chrono::milliseconds(20);
// How long a wait for a picture decoded elsewhere goes without handling the
// window's events.
constexpr int kWaitSliceMs = 5;

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A folder edit box shows folder bytes as text. A box the user has left as
// it was keeps the bytes it was given, so a name that is not valid UTF-8
// still names its folder; a changed text is taken as the system encodes it.
void TakeFolder(const QLineEdit& edit, std::string& folder) {
  const QString text = edit.text();
  if (text != Text(folder)) folder = QFile::encodeName(text).toStdString();
}

// The file URL of a path, made of the path's bytes percent-encoded: no
// conversion to text on the way, so the opener gets exactly this file.
QUrl FileUrl(const std::string& path) {
  QByteArray absolute;
  if (path.empty() || path[0] != '/') {
    std::error_code error;
    absolute = QByteArray::fromStdString(std::filesystem::current_path(error).native()) + '/';
  }
  absolute += QByteArray::fromStdString(path);
  return QUrl::fromEncoded("file://" + absolute.toPercentEncoding("/"));
}

// Labels show line breaks as LF only; the CR of "\r\n" and "\n\r" would
// otherwise be drawn as a stray glyph by some fonts.
QString Shown(QString text) {
  text.remove(QChar('\r'));
  return text;
}

// A template of the catalogue with "%1" replaced by `bytes` as they are:
// a path that is not valid UTF-8 stays intact.
std::string Filled(const QString& templ, std::string_view bytes) {
  std::string text = templ.toStdString();
  if (const std::size_t at = text.find("%1"); at != std::string::npos) text.replace(at, 2, bytes);
  return text;
}

QLabel* SunkenText(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setMargin(2);
  return label;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption, const Rect& r) {
  auto* button = new QPushButton(Tr(caption), parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  Place(button, r);
  return button;
}

}  // namespace

MainWindow::MainWindow(std::string settingsFile, QWidget* parent)
    : QMainWindow(parent),
      settings_(DefaultSettings()),
      plugins_(DetectPlugins()),
      session_(*this, settings_, plugins_) {
  setWindowTitle(QStringLiteral("Norvane"));
  setWindowIcon(ProgramIcon());

  // The settings come first: they choose the language of every widget.
  settings_.SettingsFile = std::move(settingsFile);
  LoadSettings(settings_);
  language_ = std::make_unique<WindowLanguage>(ParseLanguage(settings_.Language).value_or(Language::Japanese));

  QMenu* menu = menuBar()->addMenu(Tr("ヘルプ(&H)"));
  QAction* about = menu->addAction(Tr(kAboutMenuText));
  about->setObjectName("about16");
  connect(about, &QAction::triggered, this, &MainWindow::ShowAbout);

  BuildControls();
  setGeometry(settings_.Left, settings_.Top, settings_.Right - settings_.Left,
              settings_.Bottom - settings_.Top);
  CopyFoldersOut();
  ApplyMoveFolderState();
  session_.records().clear();
  ApplyLayout();

  // The window's thread never decodes a picture: the search's workers and
  // the pair loader do.
  session_.SetDecodeOffCallingThread(true);
  pairLoader_ = std::make_unique<PairLoader>(plugins_.searchPath, [this](PairLoader::Result result) {
    // On the loader's thread: the result goes to the window's thread.
    auto shared = std::make_shared<PairLoader::Result>(std::move(result));
    QMetaObject::invokeMethod(this, [this, shared] { ShowLoadedPair(std::move(*shared)); }, Qt::QueuedConnection);
  });
}

MainWindow::~MainWindow() {
  // A window destroyed without having been closed still keeps its settings.
  SaveOnClose();
}

void MainWindow::BuildControls() {
  client_ = new QWidget(this);
  setCentralWidget(client_);
  client_->installEventFilter(this);

  // Created in tab order.
  searchLabel_ = new QLabel(Tr("対象フォルダ"), client_);
  Place(searchLabel_, DialogRect(7, 10, 47, 8));
  searchEdit_ = new QLineEdit(client_);
  searchEdit_->setObjectName("1001");
  Place(searchEdit_, DialogRect(54, 7, 351, 14));
  searchBrowse_ = Button(client_, "1002", "...", DialogRect(407, 7, 10, 14));
  moveLabel_ = new QLabel(Tr(kMoveFolderLabel), client_);
  moveLabel_->setObjectName("1024");
  Place(moveLabel_, DialogRect(7, 25, 47, 8));
  moveEdit_ = new QLineEdit(client_);
  moveEdit_->setObjectName("1013");
  Place(moveEdit_, DialogRect(54, 24, 350, 14));
  moveBrowse_ = Button(client_, "1014", "...", DialogRect(407, 24, 10, 14));
  for (QLabel* label : {searchLabel_, moveLabel_}) {
    label->resize(label->width(), std::max(label->height(), label->sizeHint().height()));
  }

  list_ = new ResultList(client_);
  list_->setObjectName("1000");
  Place(list_, DialogRect(7, 44, 356, 138));
  options_ = Button(client_, "1016", "オプション", DialogRect(369, 70, 50, 14));
  start_ = Button(client_, "1005", "開始", DialogRect(369, 104, 50, 14));
  status_ = SunkenText(client_, "1009");
  Place(status_, DialogRect(369, 126, 50, 16));
  leftInfo_ = SunkenText(client_, "1003");
  Place(leftInfo_, DialogRect(7, 185, 205, 47));
  rightInfo_ = SunkenText(client_, "1008");
  Place(rightInfo_, DialogRect(214, 185, 205, 47));
  leftPane_ = new PreviewPane(client_);
  leftPane_->setObjectName("1004");
  Place(leftPane_, DialogRect(7, 237, 205, 185));
  rightPane_ = new PreviewPane(client_);
  rightPane_->setObjectName("1010");
  Place(rightPane_, DialogRect(216, 237, 205, 185));
  batchMove_ = Button(client_, "1035", "まとめて移動", DialogRect(369, 153, 50, 14));

  connect(searchBrowse_, &QPushButton::clicked, this, &MainWindow::ChooseSearchFolder);
  connect(moveBrowse_, &QPushButton::clicked, this, &MainWindow::ChooseMoveFolder);
  connect(start_, &QPushButton::clicked, this, &MainWindow::OnStartClicked);
  connect(options_, &QPushButton::clicked, this, &MainWindow::OpenOptions);
  connect(batchMove_, &QPushButton::clicked, this, &MainWindow::OpenBatchMove);
  connect(leftPane_, &PreviewPane::clicked, this, [this] { MoveImage(kLeftSide); });
  connect(rightPane_, &PreviewPane::clicked, this, [this] { MoveImage(kRightSide); });
  connect(list_, &ResultList::pairRequested, this, &MainWindow::ShowSelectedPair);
  connect(list_, &ResultList::openRequested, this, &MainWindow::OpenInViewer);
  connect(list_, &ResultList::moveRequested, this, &MainWindow::MoveImage);
}

void MainWindow::ApplyLayout() {
  if (client_ == nullptr) return;
  const ControlRects r = LayoutControls(client_->width(), client_->height(), settings_.ImgHeightRatio);
  // The folder labels get the room their texts need in the font in use.
  // Where that is more than the design gives, the edit boxes start after the
  // labels and keep their right edge.
  const QFontMetrics metrics(searchLabel_->font());
  int labelWidth = 0;
  for (const char* text : {"対象フォルダ", kMoveFolderLabel, kTrashLabel}) {
    labelWidth = std::max(labelWidth, metrics.horizontalAdvance(Tr(text)));
  }
  const int editLeft = searchLabel_->x() + labelWidth + 6;
  Rect searchEdit = r.searchEdit;
  Rect moveEdit = r.moveEdit;
  for (Rect* edit : {&searchEdit, &moveEdit}) {
    if (editLeft <= edit->x) continue;
    edit->width = std::max(0, edit->width - (editLeft - edit->x));
    edit->x = editLeft;
  }
  for (QLabel* label : {searchLabel_, moveLabel_}) {
    label->resize(std::max(label->width(), labelWidth), label->height());
  }
  Place(searchEdit_, searchEdit);
  Place(searchBrowse_, r.searchBrowse);
  Place(moveEdit_, moveEdit);
  Place(moveBrowse_, r.moveBrowse);
  Place(list_, r.list);
  Place(options_, r.options);
  Place(start_, r.start);
  // The status field holds two lines ("検索中" and "n/m") in the font in
  // use; the batch-move button moves down when it would cover them.
  Rect status = r.status;
  const QFontMetrics statusMetrics(status_->font());
  const QMargins frame = status_->contentsMargins();
  status.height = std::max(status.height, 2 * statusMetrics.lineSpacing() + frame.top() + frame.bottom() +
                                              2 * status_->margin());
  Rect batchMove = r.batchMove;
  batchMove.y = std::max(batchMove.y, status.y + status.height + 4);
  Place(status_, status);
  Place(batchMove_, batchMove);
  Place(leftInfo_, r.leftInfo);
  Place(rightInfo_, r.rightInfo);
  Place(leftPane_, r.leftPane);
  Place(rightPane_, r.rightPane);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) ApplyLayout();
  return QMainWindow::eventFilter(watched, event);
}

// --- Settings and folders ----------------------------------------------------

void MainWindow::CopyFoldersIn() {
  TakeFolder(*searchEdit_, settings_.SearchFolder);
  TakeFolder(*moveEdit_, settings_.MoveFolder);
}

void MainWindow::CopyFoldersOut() {
  searchEdit_->setText(Text(settings_.SearchFolder));
  moveEdit_->setText(Text(settings_.MoveFolder));
}

void MainWindow::ApplyMoveFolderState() {
  const bool trash = settings_.GotoTrashBox;
  moveEdit_->setEnabled(!trash);
  moveBrowse_->setEnabled(!trash);
  moveLabel_->setText(Tr(trash ? kTrashLabel : kMoveFolderLabel));
}

void MainWindow::ChooseSearchFolder() {
  CopyFoldersIn();
  const QString chosen = QFileDialog::getExistingDirectory(
      this, QString(), QFile::decodeName(QByteArray::fromStdString(settings_.SearchFolder)));
  if (chosen.isEmpty()) return;
  settings_.SearchFolder = QFile::encodeName(chosen).toStdString();
  CopyFoldersOut();
}

void MainWindow::ChooseMoveFolder() {
  CopyFoldersIn();
  const QString chosen = QFileDialog::getExistingDirectory(this, QString(), QString());
  if (chosen.isEmpty()) return;
  settings_.MoveFolder = QFile::encodeName(chosen).toStdString();
  CopyFoldersOut();
}

void MainWindow::SaveOnClose() {
  if (saved_) return;
  saved_ = true;
  pairPending_ = false;
  slots_.Clear(kLeftSide);
  slots_.Clear(kRightSide);
  CopyFoldersIn();
  // The restored rectangle, so a maximised window comes back as it was before.
  QRect normal = normalGeometry();
  if (!normal.isValid()) normal = geometry();
  settings_.Left = normal.x();
  settings_.Top = normal.y();
  settings_.Right = normal.x() + normal.width();
  settings_.Bottom = normal.y() + normal.height();
  SaveSettings(settings_);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (session_.searching()) {
    // The search runs inside the Start button's handler further up the
    // stack: it is asked to stop at the next file, and the window closes
    // when the handler returns.
    session_.RequestStop();
    closePending_ = true;
    event->ignore();
    return;
  }
  SaveOnClose();
  event->accept();
}

// --- Commands ------------------------------------------------------------------

void MainWindow::OnStartClicked() {
  const bool outermost = !session_.searching();
  // An empty target folder names no folder: rather than search one the user
  // never chose, ask for one, and search only when a folder was chosen.
  if (outermost && searchEdit_->text().isEmpty()) {
    ChooseSearchFolder();
    if (searchEdit_->text().isEmpty()) return;
  }
  if (outermost) {
    list_->SetHeaderSortEnabled(false);
    list_->rows().HoldChanges(true);
    coalescing_ = true;
    lastPump_ = {};
  }
  session_.OnStart();
  if (outermost) {
    // The search's last state is shown, whatever the frame clock says.
    coalescing_ = false;
    list_->rows().HoldChanges(false);
    FlushPaints();
    list_->SetHeaderSortEnabled(true);
  }
  if (outermost && closePending_ && !session_.searching()) {
    closePending_ = false;
    close();
  }
}

void MainWindow::ShowAbout() {
  AboutBox box(this);
  box.exec();
}

void MainWindow::MoveImage(int side) {
  // A search writes rows by number and reads records while it pumps events:
  // a move in between would pull rows and records from under it.
  if (session_.searching() || (side != kLeftSide && side != kRightSide)) return;
  CopyFoldersIn();
  FileList& records = session_.records();
  ResultModel& rows = list_->rows();
  const int first = list_->FirstSelectedRow();
  if (first < 0) return;
  const std::optional<int> own = rows.RecordOfRow(first, records.size());
  if (!own) return;
  int moved = *own;
  if (side == kRightSide) {
    moved = records[static_cast<std::size_t>(*own)].partner;
    if (moved < 0 || static_cast<std::size_t>(moved) >= records.size()) return;
  }
  const std::string path = records[static_cast<std::size_t>(moved)].path();

  if (settings_.EnableConfirm) {
    const std::string question =
        Filled(Tr(side == kLeftSide ? "左画像\r\n%1\r\nを移動します。" : "右画像\r\n%1\r\nを移動します。"), path);
    if (!ConfirmMove(question)) return;
  }
  const MoveOutcome outcome = MoveAway(path, settings_.GotoTrashBox, settings_.MoveFolder);
  if (!outcome.ok) {
    Inform(outcome.errorText, "Error");
    return;
  }

  // The image is gone: no row offers it as a partner and no record names it.
  ForgetPartner(rows, records, moved);
  const int r = list_->FirstSelectedRow();
  if (r < 0) return;
  QItemSelectionModel* selection = list_->selectionModel();
  auto mark = [&](int row, bool selected) {
    if (row < 0 || row >= rows.RowCount()) return;
    const QModelIndex index = rows.index(row, kColumnName);
    const auto rowFlags = QItemSelectionModel::Rows;
    if (selected) {
      selection->setCurrentIndex(index, QItemSelectionModel::Select | rowFlags);
      list_->scrollTo(index);
    } else {
      selection->select(index, QItemSelectionModel::Deselect | rowFlags);
    }
  };
  int next = r;
  if (side == kLeftSide) {
    rows.DeleteRow(r);
  } else {
    // The moved partner's own row goes; row r moves up when it lay above.
    const int ownRow = rows.RowOfRecord(moved);
    rows.DeleteRow(ownRow);
    const int s = ownRow >= 0 && ownRow < r ? r - 1 : r;
    mark(s, false);
    next = s + 1;
  }
  if (next < rows.RowCount()) {
    mark(next, true);
  } else {
    // Past the last row: nothing is selected or current any more, and the
    // panes keep the former pair.
    selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
  ShowSelectedPair();
}

void MainWindow::OpenInViewer(int side) {
  if (session_.searching() || (side != kLeftSide && side != kRightSide)) return;
  const FileList& records = session_.records();
  const int row = list_->FirstSelectedRow();
  if (row < 0) return;
  const std::optional<int> own = list_->rows().RecordOfRow(row, records.size());
  if (!own) return;
  int target = *own;
  if (side == kRightSide) {
    target = records[static_cast<std::size_t>(*own)].partner;
    if (target < 0 || static_cast<std::size_t>(target) >= records.size()) return;
  }
  const std::string path = records[static_cast<std::size_t>(target)].path();
  // The desktop reports no error for a file that is gone; check first.
  struct stat st{};
  bool opened = ::stat(path.c_str(), &st) == 0;
  if (opened) {
    const QUrl url = FileUrl(path);
    opened = openHook_ ? openHook_(url) : QDesktopServices::openUrl(url);
  }
  if (!opened) Tell("ビュワー起動に失敗しました。");
}

void MainWindow::OpenOptions() {
  if (session_.searching()) return;
  OptionsDialog dialog(OptionsOf(settings_), informHook_, this);
  if (dialog.exec() == QDialog::Accepted) StoreOptions(dialog.values(), settings_);
  ApplyMoveFolderState();
}

void MainWindow::OpenBatchMove() {
  if (session_.searching()) return;
  CopyFoldersIn();
  const bool trash = settings_.GotoTrashBox;
  const std::string folder = settings_.MoveFolder;
  BatchMoveDialog dialog(
      list_->rows(), session_.records(),
      [trash, folder](const std::string& path) { return MoveAway(path, trash, folder); }, informHook_,
      this);
  dialog.exec();
}

bool MainWindow::ConfirmMove(std::string_view text) {
  if (askHook_) return askHook_(text, Tr("確認").toStdString());
  // Unlike the stop question: no icon, and Yes is the default answer.
  QMessageBox box(QMessageBox::NoIcon, Tr("確認"), Text(text),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void MainWindow::Tell(std::string_view text) {
  if (informHook_) {
    informHook_(Tr(text).toStdString(), ApplicationName().toStdString());
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, ApplicationName(), Tr(text), QMessageBox::Ok, this);
  box.exec();
}

// --- SearchView: window ----------------------------------------------------------

void MainWindow::CommitEdits() { CopyFoldersIn(); }

void MainWindow::SetStartButton(std::string_view caption, bool enabled) {
  start_->setText(Tr(caption));
  start_->setEnabled(enabled);
}

void MainWindow::EnableCommands(bool enabled) {
  options_->setEnabled(enabled);
  batchMove_->setEnabled(enabled);
}

void MainWindow::SetStatusText(std::string_view text) {
  statusText_.assign(text);
  statusDirty_ = true;
  if (!coalescing_) FlushPaints();
}

bool MainWindow::AskYesNo(std::string_view text, std::string_view caption) {
  FlushPaints();  // the window behind the question shows where the search is
  if (askHook_) return askHook_(Tr(text).toStdString(), Tr(caption).toStdString());
  QMessageBox box(QMessageBox::Question, Tr(caption), Tr(text),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void MainWindow::Inform(std::string_view text, std::string_view caption) {
  FlushPaints();
  if (informHook_) {
    informHook_(Tr(text).toStdString(), Tr(caption).toStdString());
    return;
  }
  QMessageBox box(QMessageBox::Information, Tr(caption), Tr(text), QMessageBox::Ok, this);
  box.exec();
}

void MainWindow::PumpMessages() {
  // A search pumps after every file, thousands of times a second: its
  // events are handled once a frame, which no one can tell from every file,
  // and the list is then laid out and painted once a frame too instead of
  // once a row.
  if (coalescing_ && std::chrono::steady_clock::now() - lastPump_ < kFrame) return;
  FlushPaintsIfDue();
  list_->rows().Announce();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  lastPump_ = std::chrono::steady_clock::now();
}

void MainWindow::WaitUntil(const std::function<bool(int)>& ready) {
  while (!ready(kWaitSliceMs)) {
    FlushPaintsIfDue();
    list_->rows().Announce();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    lastPump_ = std::chrono::steady_clock::now();
  }
}

void MainWindow::FlushPaints() {
  list_->rows().Announce();
  if (statusDirty_) status_->setText(Shown(Tr(statusText_)));
  for (const int side : {kLeftSide, kRightSide}) {
    if (infoDirty_[side]) (side == kLeftSide ? leftInfo_ : rightInfo_)->setText(Shown(Text(infoTexts_[side])));
    if (paneDirty_[side]) {
      pairLoader_->Release(pane(side).SetImage(slots_.Share(side)));  // repaints it too
    } else if (repaintDirty_[side]) {
      DrawPane(side);
    }
    infoDirty_[side] = paneDirty_[side] = repaintDirty_[side] = false;
  }
  statusDirty_ = false;
  lastFlush_ = std::chrono::steady_clock::now();
}

void MainWindow::FlushPaintsIfDue() {
  if (!coalescing_ || std::chrono::steady_clock::now() - lastFlush_ >= kFrame) FlushPaints();
}

// --- SearchView and panes ------------------------------------------------------

void MainWindow::SetInfoText(int side, const FileRecord* record) {
  if (side != kLeftSide && side != kRightSide) return;
  infoTexts_[side] = InfoText(record);
  infoDirty_[side] = true;
  if (!coalescing_) FlushPaints();
}

void MainWindow::ClearPane(int side) {
  if (side != kLeftSide && side != kRightSide) return;
  pairPending_ = false;  // the pair being decoded must not fill the pane again
  ClearSide(side);
}

void MainWindow::PutSlot(int side, std::shared_ptr<const DecodedImage> image) {
  std::shared_ptr<const DecodedImage> former = slots_.Share(side);
  slots_.Put(side, std::move(image));
  pairLoader_->Release(std::move(former));
}

void MainWindow::ClearSide(int side) {
  PutSlot(side, nullptr);
  paneDirty_[side] = true;
  SetInfoText(side, nullptr);
}

void MainWindow::ClearPanes() {
  ClearPane(kLeftSide);
  ClearPane(kRightSide);
  update();
}

const DecodedImage* MainWindow::SetLeftImage(const FileRecord&, std::unique_ptr<DecodedImage> decoded) {
  pairPending_ = false;
  PutSlot(kLeftSide, std::move(decoded));
  paneDirty_[kLeftSide] = true;
  if (!coalescing_) FlushPaints();
  return slots_.Get(kLeftSide);
}

void MainWindow::RepaintLeftPane() {
  repaintDirty_[kLeftSide] = true;
  if (!coalescing_) FlushPaints();
}

void MainWindow::DrawPane(int side) {
  if (side != kLeftSide && side != kRightSide) return;
  pane(side).update();
}

void MainWindow::ShowPair(int position) {
  const FileList& records = session_.records();
  if (position < 0 || records.empty() || static_cast<std::size_t>(position) >= records.size()) return;
  const FileRecord& left = records[position];
  // Texts first, so a file that cannot be decoded still shows its text. The
  // panes keep the former pictures until the new ones are decoded.
  SetInfoText(kLeftSide, &left);
  std::string rightPath;
  const int partner = left.partner;
  if (partner < 0 || static_cast<std::size_t>(partner) >= records.size()) {
    ClearSide(kRightSide);
  } else {
    const FileRecord& right = records[partner];
    SetInfoText(kRightSide, &right);
    rightPath = right.path();
  }
  pairTicket_ = pairLoader_->Request(left.path(), std::move(rightPath));
  pairPending_ = true;
}

void MainWindow::ShowLoadedPair(PairLoader::Result result) {
  if (!pairPending_ || result.ticket != pairTicket_) return;  // superseded
  pairPending_ = false;
  for (const int side : {kLeftSide, kRightSide}) {
    PutSlot(side, std::move(result.images[side]));
    paneDirty_[side] = true;
  }
  if (!coalescing_) FlushPaints();
}

void MainWindow::ShowSelectedPair() {
  const int row = list_->FirstSelectedRow();
  if (row < 0) return;
  // A row that names no record (out of step with records) shows nothing.
  const std::optional<int> position = list_->rows().RecordOfRow(row, session_.records().size());
  if (!position) return;
  ShowPair(*position);
}

// --- SearchView: list ------------------------------------------------------------

void MainWindow::ListDeleteAll() { list_->rows().DeleteAll(); }
void MainWindow::ListInsertRow(int row, std::string_view text) { list_->rows().InsertRow(row, text); }
void MainWindow::ListSetText(int row, int column, std::string_view text) {
  list_->rows().SetText(row, column, text);
}
std::string MainWindow::ListGetText(int row, int column) { return list_->rows().GetText(row, column); }
void MainWindow::ListDeleteRow(int row) { list_->rows().DeleteRow(row); }
int MainWindow::ListRowCount() { return list_->rows().RowCount(); }
void MainWindow::ListKeepSelectionVisible() { list_->KeepSelectionVisible(); }

void MainWindow::SortListByDifference(int n) {
  list_->SetSearchRowCount(n);
  list_->ResetSortDirections();
  list_->SortByColumn(kColumnDifference, +1);
}

void MainWindow::SelectFirstRow() {
  list_->setFocus();
  list_->SelectRow(0);
  ShowSelectedPair();
}

}  // namespace norvane::ui
