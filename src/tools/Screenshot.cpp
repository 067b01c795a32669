// norvane-screenshot FOLDER OUTPUT.png: opens the window on FOLDER, presses
// Start, waits for the search to end and saves a picture of the window. The
// settings file it uses lives in a temporary folder, so no Norvane.ini of the
// user is read or written.
#include <cstdio>

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>

#include "ui/MainWindow.h"
#include "ui/ProgramIcon.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: norvane-screenshot FOLDER OUTPUT.png\n");
    return 2;
  }
  QApplication app(argc, argv);
  norvane::ui::ApplyProgramFont();
  QApplication::setWindowIcon(norvane::ui::ProgramIcon());
  QTemporaryDir work;
  if (!work.isValid()) return 1;

  int status = 1;
  {
    norvane::ui::MainWindow window(work.filePath(QStringLiteral("Norvane.ini")).toStdString());
    window.SetInformHook([](std::string_view text, std::string_view) {
      std::fprintf(stderr, "norvane-screenshot: %.*s\n", static_cast<int>(text.size()), text.data());
    });
    window.setGeometry(60, 60, 900, 720);
    window.searchEdit().setText(QString::fromLocal8Bit(argv[1]));
    window.show();
    QApplication::processEvents();
    window.OnStartClicked();  // returns when the search has ended
    // Row 0's pair is decoded on another thread; the picture waits for it.
    while (window.PairPending()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
    if (window.ListRowCount() == 0) {
      std::fprintf(stderr, "norvane-screenshot: the search found nothing\n");
    } else if (window.grab().save(QString::fromLocal8Bit(argv[2]), "PNG")) {
      status = 0;
    } else {
      std::fprintf(stderr, "norvane-screenshot: cannot write %s\n", argv[2]);
    }
  }
  return status;
}
