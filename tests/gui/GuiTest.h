// The GUI test binary runs Qt Test classes by name: `gui_tests <Class> [Qt Test options]`, or all
// of them without arguments. Each class registers itself with KESTEL_GUI_TEST.
#pragma once

#include <QObject>

class QWidget;

#include <functional>

namespace kestel::test {

int registerGuiTest(const char* name, std::function<QObject*()> make);

// Review shots: with KESTEL_SHOTS_DIR set (scripts/screenshots.sh sets it) writes the widget as
// <dir>/<name>.png; otherwise does nothing. Call it where a window shows what a user sees.
void saveShot(QWidget& widget, const char* name);

} // namespace kestel::test

#define KESTEL_GUI_TEST(Class)                                                                     \
  static const int registered##Class =                                                             \
      ::kestel::test::registerGuiTest(#Class, [] { return static_cast<QObject*>(new Class); });
