// CPU of the desktop program's process while a dashboard of 20 monitor applets follows the
// simulator, whose interface traffic and CPU load move once a second (its default).
//
// Both rows run the same session in one process: nimbalux-sim on loopback, the interfaces map
// open (subscribed, and read again every second as its descriptor asks) and the resources page
// read every second, the loop turning the reactor and Qt's events the same way (the reactor waits
// at most 50 ms, then Qt's queued events and paints are processed). Each row runs for
// KESTEL_BENCH_SECONDS (default 10) of wall time and reports the process's user+system CPU time
// over that time (getrusage) as cpu_percent of one core.
//   - Dashboard20: a dashboard window (shown off screen, 640x900) with 20 applets: for each of
//     the 7 interfaces its Tx rate (a graph of the reported rate) and its Tx bit rate (a graph of
//     the rate computed from the byte counter), 5 interfaces' byte counters as text, and the CPU
//     load (a graph); every graph takes a sample and repaints once a second.
//   - SessionOnly: the same session and maps with no dashboard: what the loop and the session
//     cost by themselves. The dashboard's own share is the difference of the two rows.
// There is no peer library: no charting library is installed here to draw the same applets.
//
// Run: bench_dashboard --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true
#include "app/Dashboard.h"
#include "api/container/DescriptorContainers.h"
#include "api/container/MapFactories.h"
#include "api/net/ReactorScope.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/SlotConvertors.h"
#include "support/SimClient.h"

#include "gui/DashboardWindow.h" // after the core headers: Qt's keyword macros

#include <QApplication>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <sys/resource.h>

// After the core's headers: Qt's "emit" and "slots" keywords would rename their members.
#include "QtBenchMain.h"

namespace {

using namespace kestel;
using Clock = std::chrono::steady_clock;

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

double runSeconds() {
  const char* s = std::getenv("KESTEL_BENCH_SECONDS");
  return s ? std::strtod(s, nullptr) : 10.0;
}

struct Fixture {
  Fixture() {
    installSlotConvertors();
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      if (!loadDescriptors(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name).ok())
        std::abort();
    if (!completeAllTypes().ok())
      std::abort();
    settingsRegistry().loadSettings("/nonexistent/kestel-bench/settings.viw");
    interfaces = createContainer(*static_cast<CMap*>(findMenu("Interfaces")->type));
    interfaces->open();
    resources = createObjectHolder(*static_cast<CItem*>(findMenu("Resources")->type));
    resources->refresh();
    if (!client.turnUntil([&] { return interfaces->size() >= 7; }))
      std::abort();
  }
  // Turns the loop for the run's time; the CPU share of one core it took.
  double turn() {
    double cpu = cpuSeconds();
    Clock::time_point start = Clock::now();
    auto end = start + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(runSeconds()));
    while (Clock::now() < end) {
      reactor.runOnce(50);
      QCoreApplication::processEvents();
    }
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return 100.0 * (cpuSeconds() - cpu) / wall;
  }

  PollReactor reactor;
  ReactorScope scope{reactor};
  ModelContext context;
  ModelScope modelScope{context};
  test::SimClient client{reactor, KESTEL_SIM_PATH, {}};
  Reference<ObjectMap> interfaces;
  Reference<ObjectHolder> resources;
};

std::unique_ptr<Fixture> theFixture;
Fixture& fixture() {
  if (!theFixture)
    theFixture = std::make_unique<Fixture>();
  return *theFixture;
}

void Dashboard20(benchmark::State& state) {
  Fixture& f = fixture();
  Dashboard dashboard;
  std::vector<uint32_t> ids = f.interfaces->ids();
  for (uint32_t id : ids)
    for (const char* field : {"txrate", "txbps"})
      if (!dashboard.addMonitor({"Interfaces", id, field}).ok())
        std::abort();
  for (size_t i = 0; i < 5; ++i)
    if (!dashboard.addMonitor({"Interfaces", ids[i], "txbytes"}).ok())
      std::abort();
  if (!dashboard.addMonitor({"Resources", kNoId, "cpuload"}).ok() ||
      dashboard.applets().size() != 20)
    std::abort();
  gui::DashboardWindow window(dashboard);
  window.resize(640, 900);
  window.show();
  double percent = 0;
  for (auto _ : state)
    percent = f.turn();
  state.counters["cpu_percent"] = percent;
  // The work was done: the first graph's samples that hold a value (about one a second).
  size_t shown = 0;
  for (const std::optional<double>& s : dashboard.applets()[0].feed->graph()->samples())
    shown += s ? 1 : 0;
  state.counters["graph_samples"] = double(shown);
}

void SessionOnly(benchmark::State& state) {
  Fixture& f = fixture();
  double percent = 0;
  for (auto _ : state)
    percent = f.turn();
  state.counters["cpu_percent"] = percent;
}

BENCHMARK(Dashboard20)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SessionOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
  return kestel::bench::runQtBenchmarks(argc, argv, [] { theFixture.reset(); });
}
