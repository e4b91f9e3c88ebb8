// The GUI test binary runs Qt Test classes by name: `gui_tests <Class> [Qt Test options]`, or all
// of them without arguments. Each class registers itself with KESTEL_GUI_TEST.
#pragma once

#include <QObject>

#include <functional>

namespace kestel::test {

int registerGuiTest(const char* name, std::function<QObject*()> make);

} // namespace kestel::test

#define KESTEL_GUI_TEST(Class)                                                                     \
  static const int registered##Class =                                                             \
      ::kestel::test::registerGuiTest(#Class, [] { return static_cast<QObject*>(new Class); });
