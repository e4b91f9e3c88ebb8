// kestel: the desktop program. The loader comes up (or a session handed over by another
// instance); `--demo` shows the demonstration window of every value view, the icon sheets and
// the session desktop instead.
#include "api/wire/Message.h"
#include "app/CrashReport.h"
#include "app/SessionLink.h"
#include "app/UpgradeHandOff.h"
#include "util/Log.h"

#include "gui/Art.h"
#include "gui/ColourScheme.h"
#include "gui/ProgramStart.h"
#include "gui/SessionOpeners.h"
#include "gui/SessionWindow.h"
#include "gui/Toolkit.h"

#include <QApplication>

#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

namespace {

void usage() {
  std::cout << "usage: kestel [--hoplink <hoplink>] [<connect-to> [<login> [<password> "
               "[<session>]]]]\n"
               "       kestel --demo [--icons <folder>]\n"
               "  --icons           the demonstration's icon sheets: icons16/24/32.png, or the\n"
               "                    router's icons.png, icons24.png, icons32.png\n"
               "  --screenshots <folder>  write PNGs of the first window into the folder and quit\n"
               "  --quit-when-shown quit once the first window has been painted\n";
}

// The logged-in session's window, with the windows of every kind of menu it offers; it goes
// when it closes (the program ends with its last window).
void startSessionWindow(nv::message parameters, std::unique_ptr<kestel::SessionLink> link) {
  auto* window = new kestel::gui::SessionWindow(std::move(parameters), std::move(link));
  window->setAttribute(Qt::WA_DeleteOnClose);
  kestel::gui::installWindowOpeners(*window);
  window->show();
}

} // namespace

int main(int argc, char** argv) {
  kestel::installCrashHandler();
  // Before Qt starts: the usage needs no display.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 ||
        std::strcmp(argv[i], "-?") == 0) {
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
  std::vector<char*> args(argv, argv + argc);
  kestel::gui::ProgramSwitches switches;
  std::string error;
  if (!kestel::gui::takeProgramSwitches(args, switches, error)) {
    std::cerr << "kestel: " << error << "\n";
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kestel");
  QApplication::setOrganizationName("Halvorne");
  QApplication::setDesktopFileName("kestel");
  QApplication::setWindowIcon(kestel::gui::applicationIcon());
  kestel::gui::ColourSchemeFollower colourScheme; // light or dark as the desktop switches
  return kestel::gui::runProgram(args, switches, startSessionWindow);
}
