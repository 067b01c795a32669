// Norvane: the window program. It takes no command-line options; the settings
// file in the working directory holds everything it remembers.
#include <QApplication>

#include "gather/SignatureGatherer.h"
#include "settings/Settings.h"
#include "ui/MainWindow.h"
#include "ui/ProgramIcon.h"

int main(int argc, char** argv) {
  norvane::ReusePictureMemory();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Norvane"));
  QApplication::setDesktopFileName(QStringLiteral("norvane"));
  norvane::ui::ApplyProgramFont();
  QApplication::setWindowIcon(norvane::ui::ProgramIcon());

  // The settings file is fixed now: a later change of the working directory
  // must not move it.
  norvane::ui::MainWindow window(norvane::SettingsFilePath());
  window.show();
  return QApplication::exec();
}
