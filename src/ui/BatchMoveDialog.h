// The batch-move dialog: moves every left or right image whose pair differs
// by at most a limit, as often as the user asks, and reports the count.
#pragma once

#include <functional>
#include <string_view>

#include <QDialog>
#include <QElapsedTimer>

#include "scan/FileRecord.h"
#include "ui/MoveCommands.h"

class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace norvane::ui {

class ResultModel;

class BatchMoveDialog : public QDialog {
  Q_OBJECT

 public:
  using InformHook = std::function<void(std::string_view, std::string_view)>;

  // The arrows step the limit within this range; any integer may be typed.
  static constexpr int kLimitMin = 0;
  static constexpr int kLimitMax = 9999;

  // Works on the window's list and records for its whole life; `mover` moves
  // one file as the window's trash choice and move folder say.
  BatchMoveDialog(ResultModel& rows, FileList& records, Mover mover, InformHook inform,
                  QWidget* parent = nullptr);

  int limit() const { return limit_; }
  int side() const { return side_; }

  // The batch-move button. Returns the number of images moved, or -1 when
  // the limit is not an integer (reported; nothing is moved). The dialog
  // stays open.
  int RunBatchMove();
  // One step of the up-down arrows.
  void StepLimit(int delta);

  QLineEdit& limitEdit() { return *limitEdit_; }
  QRadioButton& leftButton() { return *left_; }
  QRadioButton& rightButton() { return *right_; }
  QPushButton& runButton() { return *run_; }
  QPushButton& cancelButton() { return *cancel_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 public slots:
  void reject() override;

 private:
  void Tell(const QString& text, bool warning);
  void ShowProgress(int visited, int total);

  ResultModel& rows_;
  FileList& records_;
  Mover mover_;
  InformHook inform_;
  int limit_ = 10;
  int side_ = 1;
  QLineEdit* limitEdit_ = nullptr;  // 1029
  QToolButton* up_ = nullptr;       // 1034, upper half
  QToolButton* down_ = nullptr;     // 1034, lower half
  QRadioButton* left_ = nullptr;    // 1030
  QRadioButton* right_ = nullptr;   // 1031
  QPushButton* run_ = nullptr;      // 1032
  QPushButton* cancel_ = nullptr;   // 2
  QProgressBar* progress_ = nullptr;
  QElapsedTimer clock_;  // since the run or the last progress shown
  bool running_ = false;
};

}  // namespace norvane::ui
