// kestel: the desktop program. Until the loader window exists it opens the demonstration
// window, which shows every value view, the icon sheets and the session desktop.
#include "api/net/ReactorScope.h"
#include "app/CrashReport.h"
#include "app/UpgradeHandOff.h"
#include "gui/Art.h"
#include "gui/ColourScheme.h"
#include "gui/DemoWindow.h"
#include "gui/QtReactor.h"
#include "gui/Toolkit.h"
#include "util/Log.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <cstring>
#include <iostream>

namespace {

// Quits the program after the first paint of the window it watches.
class FirstPaint final : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
    return false;
  }
};

void usage() {
  std::cout << "usage: kestel [--icons <folder>] [--screenshots <folder>] [--quit-when-shown]\n"
               "  --icons        icon sheets: icons16/24/32.png, or the router's icons.png,\n"
               "                 icons24.png, icons32.png as the descriptor cache keeps them\n"
               "  --screenshots  write PNGs of every window into the folder and quit\n";
}

} // namespace

int main(int argc, char** argv) {
  kestel::installCrashHandler();
  // Before Qt starts: the usage needs no display.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      usage();
      return 0;
    }
  kestel::openLogFile(kestel::defaultLogPath());
  // The self-upgrade's hand-off, before Qt starts.
  switch (kestel::runHandOffForms({argv, size_t(argc)})) {
  case kestel::HandOffStep::Exit:
    return 0;
  case kestel::HandOffStep::StartEmpty:
    argc = 1;
    break;
  case kestel::HandOffStep::None:
    break;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kestel");
  QApplication::setOrganizationName("Halvorne");
  QApplication::setDesktopFileName("kestel");
  QApplication::setWindowIcon(kestel::gui::applicationIcon());
  kestel::gui::ColourSchemeFollower colourScheme; // light or dark as the desktop switches

  kestel::gui::QtReactor reactor;
  kestel::ReactorScope scope(reactor);

  std::string iconFolder;
  bool quitWhenShown = false;
  QString screenshots;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--icons") == 0 && i + 1 < argc)
      iconFolder = argv[++i];
    else if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc)
      screenshots = QString::fromLocal8Bit(argv[++i]);
    else if (std::strcmp(argv[i], "--quit-when-shown") == 0)
      quitWhenShown = true;
    else {
      std::cerr << "kestel: unknown argument " << argv[i] << "\n";
      return 2;
    }
  }

  kestel::gui::DemoWindow window(iconFolder);
  window.show();
  if (!screenshots.isEmpty()) {
    QTimer::singleShot(0, &window, [&window, screenshots] {
      for (const QString& path : window.saveScreenshots(screenshots))
        std::cout << path.toStdString() << "\n";
      QApplication::quit();
    });
  } else if (quitWhenShown) { // start-up measurement: leave once the window has been painted
    auto* painted = new FirstPaint(&window);
    window.installEventFilter(painted);
  }
  return QApplication::exec();
}
