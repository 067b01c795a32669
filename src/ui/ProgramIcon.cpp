#include "ui/ProgramIcon.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

// Resources compiled into a static library must be registered by name, from
// outside any namespace.
static void InitProgramResources() { Q_INIT_RESOURCE(norvane); }

namespace norvane::ui {

QIcon ProgramIcon() {
  static const bool registered = (InitProgramResources(), true);
  (void)registered;
  return QIcon(QStringLiteral(":/norvane/norvane.png"));
}

void ApplyProgramFont() {
  const QString family = QStringLiteral("IPAPGothic");
  if (QFontDatabase::families().contains(family)) {
    QApplication::setFont(QFont(family, 9));
  }
}

}  // namespace norvane::ui
