#include "ui/AboutBox.h"

#include <algorithm>

#include <QLabel>
#include <QPushButton>

#include "ui/Layout.h"
#include "ui/Placement.h"
#include "ui/ProgramIcon.h"
#include "ui/Translation.h"

namespace norvane::ui {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Tr(kAboutCaption));
  setModal(true);

  auto* icon = new QLabel(this);
  // A 32-pixel icon at the designed corner.
  const Rect iconRect = DialogRect(11, 17, 20, 21);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  icon->setGeometry(iconRect.x, iconRect.y, 32, 32);

  auto* version = new QLabel(Tr(kVersionText), this);
  version->setTextFormat(Qt::PlainText);
  version->setObjectName("version");
  Place(version, DialogRect(40, 10, 119, 8));
  auto* notice = new QLabel(Tr(kNoticeText), this);
  notice->setTextFormat(Qt::PlainText);
  notice->setObjectName("notice");
  Place(notice, DialogRect(40, 25, 119, 8));
  // The texts are allowed their natural height: eight units is tight for
  // some fonts.
  for (QLabel* text : {version, notice}) {
    text->resize(text->width(), std::max(text->height(), text->sizeHint().height()));
  }

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("1");
  ok->setDefault(true);
  Place(ok, DialogRect(178, 7, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  const Rect size = DialogRect(0, 0, 235, 55);
  setFixedSize(size.width, size.height);
}

}  // namespace norvane::ui
