#include "GuiTest.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include <cstdlib>

#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestel::test {
namespace {

std::map<std::string, std::function<QObject*()>>& registry() {
  static std::map<std::string, std::function<QObject*()>> tests;
  return tests;
}

} // namespace

void saveShot(QWidget& widget, const char* name) {
  const char* folder = std::getenv("KESTEL_SHOTS_DIR");
  if (!folder || !*folder)
    return;
  QDir().mkpath(folder);
  QString path = QDir(folder).filePath(QString::fromUtf8(name) + ".png");
  if (!widget.grab().save(path))
    std::cerr << "could not write " << path.toStdString() << "\n";
  else
    std::cout << path.toStdString() << "\n";
}

int registerGuiTest(const char* name, std::function<QObject*()> make) {
  registry()[name] = std::move(make);
  return 0;
}

} // namespace kestel::test

int main(int argc, char** argv) {
  auto& tests = kestel::test::registry();
  if (argc == 2 && std::string(argv[1]) == "--list-classes") { // before Qt: no display needed
    for (const auto& [name, make] : tests)
      std::cout << name << "\n";
    return 0;
  }
  QApplication app(argc, argv);
  std::vector<std::string> names;
  std::vector<char*> rest = {argv[0]};
  if (argc > 1 && tests.count(argv[1])) {
    names.push_back(argv[1]);
    rest.insert(rest.end(), argv + 2, argv + argc);
  } else {
    for (const auto& [name, make] : tests)
      names.push_back(name);
    rest.insert(rest.end(), argv + 1, argv + argc);
  }
  int failures = 0;
  for (const std::string& name : names) {
    std::unique_ptr<QObject> test(tests[name]());
    failures += QTest::qExec(test.get(), int(rest.size()), rest.data());
  }
  return failures == 0 ? 0 : 1;
}
