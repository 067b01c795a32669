#include "ui/OptionsDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "ui/Layout.h"
#include "ui/MoveCommands.h"
#include "ui/Placement.h"
#include "ui/Translation.h"

namespace norvane::ui {

namespace {

QCheckBox* CheckBox(QDialog* parent, const char* id, const char* caption, bool checked, const Rect& r) {
  auto* box = new QCheckBox(Tr(caption), parent);
  box->setObjectName(id);
  box->setChecked(checked);
  Place(box, r);
  FitWidth(box);
  return box;
}

}  // namespace

OptionValues OptionsOf(const Settings& settings) {
  OptionValues values;
  values.ThresHold = settings.ThresHold;
  values.EnableCache = settings.EnableCache;
  values.EnableConfirm = settings.EnableConfirm;
  values.EnableSubFolder = settings.EnableSubFolder;
  values.GotoTrashBox = settings.GotoTrashBox;
  values.InitialSort = settings.InitialSort;
  return values;
}

void StoreOptions(const OptionValues& values, Settings& settings) {
  settings.ThresHold = values.ThresHold;
  settings.EnableCache = values.EnableCache;
  settings.EnableConfirm = values.EnableConfirm;
  settings.EnableSubFolder = values.EnableSubFolder;
  settings.GotoTrashBox = values.GotoTrashBox;
  settings.InitialSort = values.InitialSort;
}

OptionsDialog::OptionsDialog(const OptionValues& values, InformHook inform, QWidget* parent)
    : QDialog(parent), values_(values), inform_(std::move(inform)) {
  setWindowTitle(Tr("オプション"));
  setModal(true);

  // Created in tab order.
  subFolder_ = CheckBox(this, "1022", "サブフォルダも含む", values_.EnableSubFolder, DialogRect(11, 13, 73, 10));
  confirm_ = CheckBox(this, "1015", "画像移動時に確認する", values_.EnableConfirm, DialogRect(11, 31, 83, 10));
  cache_ = CheckBox(this, "1018", "キャッシュ有効", values_.EnableCache, DialogRect(11, 49, 59, 10));
  trash_ = CheckBox(this, "1023", "ごみ箱に移動する", values_.GotoTrashBox, DialogRect(11, 67, 69, 10));

  threshold_ = new QLineEdit(QString::number(values_.ThresHold), this);
  threshold_->setObjectName("1017");
  threshold_->setAlignment(Qt::AlignRight);
  Place(threshold_, DialogRect(99, 92, 48, 14));

  // A plain drop-down list: only a chosen item counts, never typed text.
  sort_ = new QComboBox(this);
  sort_->setObjectName("1019");
  for (const std::string_view item : kSortItems) {
    sort_->addItem(Tr(item));
  }
  const bool inRange = values_.InitialSort >= 0 && values_.InitialSort < static_cast<int>(kSortItems.size());
  sort_->setCurrentIndex(inRange ? values_.InitialSort : -1);
  Place(sort_, DialogRect(66, 120, 81, 14));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("1");
  ok->setDefault(true);
  Place(ok, DialogRect(31, 153, 50, 14));
  auto* cancel = new QPushButton(Tr("ｷｬﾝｾﾙ"), this);
  cancel->setObjectName("2");
  cancel->setAutoDefault(false);
  Place(cancel, DialogRect(93, 153, 50, 14));
  connect(ok, &QPushButton::clicked, this, &OptionsDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* thresholdLabel = new QLabel(Tr("類似しきい値　(標準100)"), this);
  Place(thresholdLabel, DialogRect(11, 96, 72, 8));
  FitWidth(thresholdLabel);
  auto* sortLabel = new QLabel(Tr("左側優先項目"), this);
  Place(sortLabel, DialogRect(11, 124, 42, 8));
  FitWidth(sortLabel);

  const Rect size = DialogRect(0, 0, 162, 175);
  setFixedSize(size.width, size.height);
}

void OptionsDialog::accept() {
  const std::optional<int> threshold = ParseInteger(threshold_->text());
  if (!threshold) {
    if (inform_) {
      inform_(kNotIntegerText, ApplicationName().toStdString());
    } else {
      QMessageBox::warning(this, ApplicationName(), Tr(kNotIntegerText));
    }
    threshold_->setFocus();
    threshold_->selectAll();
    return;
  }
  values_.ThresHold = *threshold;
  values_.EnableSubFolder = subFolder_->isChecked();
  values_.EnableConfirm = confirm_->isChecked();
  values_.EnableCache = cache_->isChecked();
  values_.GotoTrashBox = trash_->isChecked();
  values_.InitialSort = sort_->currentIndex();
  QDialog::accept();
}

}  // namespace norvane::ui
