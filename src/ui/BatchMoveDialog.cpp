#include "ui/BatchMoveDialog.h"

#include <algorithm>

#include <QApplication>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include "move/BatchMove.h"
#include "search/SearchView.h"
#include "ui/Layout.h"
#include "ui/Placement.h"
#include "ui/ResultList.h"
#include "ui/Translation.h"

namespace norvane::ui {

namespace {

// Restores the normal cursor however the run ends.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { Release(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  void Release() {
    if (active_) QApplication::restoreOverrideCursor();
    active_ = false;
  }

 private:
  bool active_ = true;
};

}  // namespace

BatchMoveDialog::BatchMoveDialog(ResultModel& rows, FileList& records, Mover mover, InformHook inform,
                                 QWidget* parent)
    : QDialog(parent), rows_(rows), records_(records), mover_(std::move(mover)), inform_(std::move(inform)) {
  setWindowTitle(Tr("まとめて移動"));
  setModal(true);

  auto* differenceLabel = new QLabel(Tr("画像差"), this);
  Place(differenceLabel, DialogRect(30, 23, 22, 8));
  FitWidth(differenceLabel);
  limitEdit_ = new QLineEdit(QString::number(limit_), this);
  limitEdit_->setObjectName("1029");
  Place(limitEdit_, DialogRect(57, 21, 40, 14));
  limitEdit_->installEventFilter(this);  // Up and Down step the limit

  // The up-down control attached to the edit box's right edge.
  const Rect arrows = DialogRect(97, 22, 13, 14);
  up_ = new QToolButton(this);
  up_->setObjectName("1034up");
  up_->setArrowType(Qt::UpArrow);
  up_->setAutoRepeat(true);
  up_->setFocusPolicy(Qt::NoFocus);
  up_->setGeometry(limitEdit_->x() + limitEdit_->width(), limitEdit_->y(), arrows.width,
                   limitEdit_->height() / 2);
  down_ = new QToolButton(this);
  down_->setObjectName("1034down");
  down_->setArrowType(Qt::DownArrow);
  down_->setAutoRepeat(true);
  down_->setFocusPolicy(Qt::NoFocus);
  down_->setGeometry(up_->x(), up_->y() + up_->height(), arrows.width,
                     limitEdit_->height() - up_->height());
  connect(up_, &QToolButton::clicked, this, [this] { StepLimit(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { StepLimit(-1); });

  auto* orLess = new QLabel(Tr("以下"), this);
  Place(orLess, DialogRect(116, 24, 15, 8));
  FitWidth(orLess);

  left_ = new QRadioButton(Tr("左画像"), this);
  left_->setObjectName("1030");
  Place(left_, DialogRect(33, 51, 37, 10));
  FitWidth(left_);
  right_ = new QRadioButton(Tr("右画像"), this);
  right_->setObjectName("1031");
  Place(right_, DialogRect(71, 51, 37, 10));
  FitWidth(right_);
  auto* sides = new QButtonGroup(this);
  sides->addButton(left_, kLeftSide);
  sides->addButton(right_, kRightSide);
  right_->setChecked(true);

  run_ = new QPushButton(Tr("まとめて移動"), this);
  run_->setObjectName("1032");
  run_->setDefault(true);
  Place(run_, DialogRect(37, 82, 50, 14));
  cancel_ = new QPushButton(Tr("ｷｬﾝｾﾙ"), this);
  cancel_->setObjectName("2");
  cancel_->setAutoDefault(false);
  Place(cancel_, DialogRect(101, 82, 50, 14));

  // Shown only while a long run works through the list.
  progress_ = new QProgressBar(this);
  progress_->setObjectName("progress");
  progress_->setTextVisible(false);
  Place(progress_, DialogRect(33, 67, 118, 8));
  progress_->hide();
  connect(run_, &QPushButton::clicked, this, [this] { RunBatchMove(); });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  const Rect size = DialogRect(0, 0, 187, 103);
  setFixedSize(size.width, size.height);
}

void BatchMoveDialog::StepLimit(int delta) {
  // From the number shown, or from the last valid limit when the text is none.
  const int from = ParseInteger(limitEdit_->text()).value_or(limit_);
  const long long next = std::clamp(static_cast<long long>(from) + delta, static_cast<long long>(kLimitMin),
                                    static_cast<long long>(kLimitMax));
  limitEdit_->setText(QString::number(next));
}

bool BatchMoveDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == limitEdit_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      StepLimit(key == Qt::Key_Up ? +1 : -1);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void BatchMoveDialog::reject() {
  // Escape or the title bar's close button must not end the dialog in the
  // middle of a run: its result message would have no window left.
  if (!running_) QDialog::reject();
}

void BatchMoveDialog::ShowProgress(int visited, int total) {
  // A short run shows nothing; a long one shows how far it is and keeps
  // the windows painted about every two frames. The dialog is modal and
  // its buttons are off, so nothing else can change the list meanwhile.
  if (clock_.elapsed() < 30) return;
  clock_.restart();
  progress_->setRange(0, total);
  progress_->setValue(visited);
  progress_->show();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void BatchMoveDialog::Tell(const QString& text, bool warning) {
  if (inform_) {
    inform_(text.toStdString(), ApplicationName().toStdString());
    return;
  }
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::NoIcon, ApplicationName(), text,
                  QMessageBox::Ok, this);
  box.exec();
}

int BatchMoveDialog::RunBatchMove() {
  // A limit that is not a number must not fall back to an older one: the
  // user would move images by a limit no longer on the screen.
  const std::optional<int> limit = ParseInteger(limitEdit_->text());
  if (!limit) {
    Tell(Tr(kNotIntegerText), true);
    limitEdit_->setFocus();
    limitEdit_->selectAll();
    return -1;
  }
  limit_ = *limit;
  side_ = left_->isChecked() ? kLeftSide : kRightSide;

  run_->setEnabled(false);
  cancel_->setEnabled(false);
  running_ = true;
  clock_.start();
  WaitCursor wait;
  int moved = 0;
  rows_.EditRows([&](std::vector<ResultRow>& rows) {
    BatchMoveResult result = BatchMove(rows, records_, limit_, side_, mover_, [this](int visited, int total) {
      ShowProgress(visited, total);
    });
    moved = result.moved;
    return std::move(result.removed);
  });
  progress_->hide();
  running_ = false;
  wait.Release();
  Tell(Tr("%1 個の画像を移動しました。").arg(moved), false);
  run_->setEnabled(true);
  cancel_->setEnabled(true);
  return moved;
}

}  // namespace norvane::ui
