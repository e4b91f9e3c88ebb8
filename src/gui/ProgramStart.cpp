// The core's headers come before Qt's, whose keyword macros (emit) they would not survive.
#include "api/net/Looper.h"
#include "api/net/ReactorScope.h"
#include "app/CacheFolders.h"
#include "app/ChildSession.h"
#include "app/InstanceCensus.h"
#include "app/Startup.h"
#include "app/UpgradeCensus.h"
#include "app/UpgradeHandler.h"
#include "util/Log.h"

#include "gui/DemoWindow.h"
#include "gui/LoaderWindow.h"
#include "gui/ProgramStart.h"
#include "gui/QtReactor.h"
#include "gui/QtWebClient.h"
#include "gui/Toolkit.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QTimer>

#include <cstring>
#include <ctime>
#include <iostream>
#include <unistd.h>

namespace kestel::gui {

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

// Hands the answer of a question box on as yes or no.
class QuestionAnswer final : public EventListener {
public:
  explicit QuestionAnswer(std::function<void(bool yes)> answer) : answer_(std::move(answer)) {}
  void onEvent(Event& event) override {
    Answer a;
    if (answerOf(event, a) && answer_)
      std::exchange(answer_, nullptr)(a == Answer::Yes);
  }

private:
  std::function<void(bool yes)> answer_;
};

// The switches that end the program once `window` is up.
void whenShown(QWidget& window, const ProgramSwitches& switches,
               const std::function<QStringList(const QString&)>& shots) {
  if (!switches.screenshots.isEmpty()) {
    QTimer::singleShot(0, &window, [shots, folder = switches.screenshots] {
      for (const QString& path : shots(folder))
        std::cout << path.toStdString() << "\n";
      QApplication::quit();
    });
  } else if (switches.quitWhenShown) { // start-up measurement: leave once painted
    window.installEventFilter(new FirstPaint(&window));
  }
}

// A review shot of a top-level window.
QString grab(QWidget& window, const QString& folder, const QString& name) {
  QDir().mkpath(folder);
  QString path = folder + "/" + name + ".png";
  return window.grab().save(path) ? path : QString();
}

int runDemo(const ProgramSwitches& switches) {
  DemoWindow window(switches.iconFolder);
  window.show();
  whenShown(window, switches, [&window](const QString& f) { return window.saveScreenshots(f); });
  return QApplication::exec();
}

// A session handed over by another instance: no loader.
int runHandedOver(Reactor& reactor, const nv::message& parameters, SessionStarter starter) {
  std::string appData = appDataFolder();
  Reference<ChildSession> child;
  child = makeRef<ChildSession>(reactor, parameters, appData, [&](const ReadyOutcome& outcome) {
    if (!outcome.ok) {
      logf("handed-over session: ", outcome.error);
      QTimer::singleShot(0, qApp, [] { QApplication::exit(1); });
      return;
    }
    // Out of the child's callback before it is adopted.
    QTimer::singleShot(0, qApp, [&child, &parameters, starter] {
      starter(parameters, SessionLink::fromChild(std::move(child)));
    });
  });
  child->start();
  return QApplication::exec();
}

int runLoader(Reactor& reactor, const nv::message& parameters, const ProgramSwitches& switches,
              SessionStarter starter) {
  std::string appData = appDataFolder();
  Expected<std::string> census = censusFolder();
  QtWebClient web;
  std::unique_ptr<LoaderWindow> window;
  std::unique_ptr<LoaderStart> start;
  std::unique_ptr<UpgradeCensus> upgrade;
  Reference<IHandler> caller = createHandler(nullptr);

  LoaderHooks hooks;
  hooks.build = [&](const std::vector<Accelerator>&) {
    window = std::make_unique<LoaderWindow>(reactor, appData, start->addressBook());
  };
  hooks.place = [&](int32_t dx, int32_t dy) {
    window->show();
    if (dx || dy)
      window->move(window->pos() + QPoint(dx, dy));
  };
  hooks.showDisconnected = [&](const nv::message& p) { window->showDisconnected(p); };
  hooks.bookOpened = [&](const nv::message& reply) { window->bookOpened(reply); };
  hooks.apply = [&](const nv::message& p) { window->apply(p); };
  hooks.connect = [&](const nv::message& p) { window->connectWith(p); };
  hooks.quit = [] { QTimer::singleShot(0, qApp, [] { QApplication::quit(); }); };
  hooks.web = &web;
  start = std::make_unique<LoaderStart>(reactor, appData, census ? *census : std::string(),
                                        std::move(hooks));
  start->run(parameters, std::time(nullptr));
  if (!window)
    return 1;

  window->setSessionStarter([&](nv::message p, std::unique_ptr<SessionLink> link) {
    starter(std::move(p), std::move(link));
    // The loader's work is done: its settings are saved and it goes.
    start->close();
    window->hide();
  });
  if (start->upgrade()) {
    UpgradeCensusHooks census;
    census.confirm = [&](std::function<void(bool)> answer) {
      auto listener = makeRef<QuestionAnswer>(std::move(answer));
      showQuestionBox(window.get(), kConfirmUpgradeTitle, kConfirmUpgradeText, listener.get());
    };
    census.upgrade = [&] { caller->request(kCommandUpgrade, Path{0, kUpgradeHandlerId}, {}); };
    census.idle = [&] { window->flow().cancel(); };
    upgrade = std::make_unique<UpgradeCensus>(reactor, start->census(), std::move(census));
    window->setUpgrade([&] { upgrade->start(); });
  }
  whenShown(*window, switches, [&window](const QString& folder) {
    return QStringList{grab(*window, folder, "loader")};
  });
  int code = QApplication::exec();
  upgrade.reset();
  if (window->isVisible())
    start->close();
  caller->detach();
  window.reset();
  return code;
}

} // namespace

bool takeProgramSwitches(std::vector<char*>& args, ProgramSwitches& switches, std::string& error) {
  std::vector<char*> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i] ? args[i] : "";
    bool valued = a == "--icons" || a == "--screenshots";
    if (valued && i + 1 >= args.size()) {
      error = a + " needs a value";
      return false;
    }
    if (a == "--icons")
      switches.iconFolder = args[++i];
    else if (a == "--screenshots")
      switches.screenshots = QString::fromLocal8Bit(args[++i]);
    else if (a == "--quit-when-shown")
      switches.quitWhenShown = true;
    else if (a == "--demo")
      switches.demo = true;
    else
      rest.push_back(args[i]);
  }
  args = std::move(rest);
  return true;
}

int runProgram(std::span<char*> args, const ProgramSwitches& switches, SessionStarter starter) {
  QtReactor reactor;
  ReactorScope scope(reactor);
  if (switches.demo)
    return runDemo(switches);
  initialiseFramework();
  StartupDecision decision = decideStartup(args, STDIN_FILENO);
  switch (decision.kind) {
  case StartupDecision::Kind::Exit:
    if (decision.exitCode == 0)
      std::cout << kUsageText << "\n";
    return decision.exitCode;
  case StartupDecision::Kind::FinishUpgrade: // main() finishes upgrades before Qt starts
    return 0;
  case StartupDecision::Kind::Session:
    return runHandedOver(reactor, decision.parameters, std::move(starter));
  case StartupDecision::Kind::Loader:
    break;
  }
  return runLoader(reactor, decision.parameters, switches, std::move(starter));
}

} // namespace kestel::gui
