// From "Connect" to the session window with its launcher shown, and what ten open tables cost.
//
// The simulator's router (login, descriptor files, menus) runs in this process on loopback, on
// the same reactor as the client, as the tests run it; no peer library opens a session window,
// so these rows have no peer side and are figures of their own, not ratios.
//
// ConnectToLauncher/warm, /cold: the loader's ReadyStep connects, logs in, brings the descriptor
//   cache up to date (cold: the cache folder is removed before each iteration, so every file is
//   downloaded; warm: it is current) and loads the model; the session window is made from the
//   step, its start runs and the window (launcher filled) is painted off screen. Timed from the
//   connect to the painted window. Goal: warm below 400 ms.
// TenTablesOpen: with a session window up, the first table services of the launcher are opened
//   until ten tables (panes) show, and their rows fetched; counters rss_MB (the process's
//   resident size afterwards) and rss_growth_MB (what opening them added). The process holds
//   the simulator too, so rss_MB is an upper bound for the GUI's own.
//
// Run: bench_session --benchmark_repetitions=5
#include "api/container/ObjectMap.h"
#include "api/net/Looper.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/CommandLine.h"
#include "app/ReadyStep.h"
#include "app/SessionLink.h"
#include "app/SessionServices.h"
#include "gen/ModelContext.h"
#include "miw/SessionFiles.h"
#include "miw/SlotConvertors.h"
#include "sim/FileService.h"
#include "sim/MenuCatalogue.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"

#include "gui/SessionWindow.h" // after the core headers: Qt's keyword macros
#include "gui/TableWindow.h"

#include <QApplication>
#include <QTreeWidget>
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

using namespace kestel;
using Clock = std::chrono::steady_clock;

double rssMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0)
      return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

struct Router {
  explicit Router(PollReactor& reactor) : server(reactor), catalogue(reactor, {}) {
    login.addUser("admin", "pw");
    login.install(server);
    if (!files.load(login.facts().version).ok())
      std::abort();
    files.install(login, server);
    std::string error;
    if (!catalogue.install(login, error))
      std::abort();
    port = *server.listen(0);
  }
  sim::SimServer server;
  sim::RouterLogin login;
  sim::FileService files;
  sim::MenuCatalogue catalogue;
  uint16_t port = 0;
};

// Turns the reactor and Qt until `done`.
template <typename F> bool drive(PollReactor& reactor, F done) {
  auto limit = Clock::now() + std::chrono::seconds(30);
  while (!done() && Clock::now() < limit) {
    reactor.runOnce(1);
    QCoreApplication::processEvents();
  }
  return done();
}

// One session: connect, ready, window up with its launcher painted.
struct Session {
  Session(PollReactor& reactor, Router& router, const std::string& appData) {
    resetLooper();
    ReadyRequest request;
    request.connect = ConnectRequest{"127.0.0.1", router.port, "admin", "pw", false, false};
    request.appData = appData;
    std::optional<ReadyOutcome> outcome;
    auto step = makeRef<ReadyStep>(
        reactor, request, [](const std::string&) {}, [&](const ReadyOutcome& o) { outcome = o; });
    step->start();
    if (!drive(reactor, [&] { return outcome.has_value(); }) || !outcome->ok)
      std::abort();
    downloaded = outcome->cache ? outcome->cache->downloaded().size() : 0;
    nv::message parameters;
    parameters.set(param::kAddress, "127.0.0.1:" + std::to_string(router.port));
    parameters.set(param::kLogin, "admin");
    parameters.set(param::kChosenSession, std::string(kNoSession));
    window = std::make_unique<gui::SessionWindow>(parameters, SessionLink::fromReady(step));
    window->show();
    if (!drive(reactor, [&] { return window->launcherTree()->topLevelItemCount() > 1; }))
      std::abort();
    window->repaint();
  }
  ~Session() {
    window.reset();
    resetLooper();
  }
  std::unique_ptr<gui::SessionWindow> window;
  size_t downloaded = 0; // files the cache fetched
};

void connect(benchmark::State& state, bool warm) {
  PollReactor reactor;
  ReactorScope scope(reactor);
  Router router(reactor);
  const std::string appData = (std::filesystem::temp_directory_path() /
                               ("kestel-bench-session-" + std::to_string(::getpid())))
                                  .string();
  std::filesystem::create_directories(appData);
  ::setenv("KESTEL_HOME", appData.c_str(), 1);
  {
    ModelContext model;
    ModelScope modelScope(model);
    Session fill(reactor, router, appData); // the cache is current from here on
  }
  for (auto _ : state) {
    if (!warm) {
      state.PauseTiming();
      for (const auto& entry : std::filesystem::directory_iterator(appData))
        if (entry.is_directory() && entry.path().filename() != "sessions")
          std::filesystem::remove_all(entry.path());
      state.ResumeTiming();
    }
    ModelContext model;
    ModelScope modelScope(model);
    Session session(reactor, router, appData);
    benchmark::DoNotOptimize(session.window->windowTitle());
    state.PauseTiming();
    state.counters["files_downloaded"] = double(session.downloaded);
    session.window.reset();
    state.ResumeTiming();
  }
  std::filesystem::remove_all(appData);
}

void ConnectToLauncher_warm(benchmark::State& state) { connect(state, true); }
void ConnectToLauncher_cold(benchmark::State& state) { connect(state, false); }

void TenTablesOpen(benchmark::State& state) {
  PollReactor reactor;
  ReactorScope scope(reactor);
  Router router(reactor);
  const std::string appData = (std::filesystem::temp_directory_path() /
                               ("kestel-bench-tables-" + std::to_string(::getpid())))
                                  .string();
  ::setenv("KESTEL_HOME", appData.c_str(), 1);
  for (auto _ : state) {
    ModelContext model;
    ModelScope modelScope(model);
    Session session(reactor, router, appData);
    const double before = rssMb();
    int opened = 0, panes = 0;
    for (const auto& s : services()) {
      if (panes >= 10)
        break;
      if (!s->offered() || s->isNonPublic || serviceContents(*s).maps.empty())
        continue;
      auto* table = qobject_cast<gui::TableWindow*>(session.window->openService(*s));
      if (!table)
        continue;
      ++opened;
      panes += table->paneCount();
      const auto limit = Clock::now() + std::chrono::seconds(3);
      drive(reactor, [&] {
        for (int i = 0; i < table->paneCount(); ++i) {
          FetchState fetch = table->pane(i)->map().fetchState();
          if ((fetch == FetchState::Running || fetch == FetchState::Paging) && Clock::now() < limit)
            return false;
        }
        return true;
      });
    }
    QCoreApplication::processEvents();
    state.counters["windows"] = opened;
    state.counters["tables"] = panes;
    state.counters["rss_MB"] = rssMb();
    state.counters["rss_growth_MB"] = rssMb() - before;
  }
  std::filesystem::remove_all(appData);
}

BENCHMARK(ConnectToLauncher_warm)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(ConnectToLauncher_cold)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(TenTablesOpen)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM"))
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  kestel::installSlotConvertors();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
