// An object map filled from the simulator, against the floor of the same work with no network.
//
// FetchOverLoopback: nimbalux-sim runs as a child process with --rows N (the log table); the
//   client logs in with the secure session and an object map made from the sample descriptors'
//   log type fetches the whole table page by page (default page size, cookies) over loopback:
//   decrypt, decode, create and unpack every object, place it in the map. Counter peak_rss_MB is
//   the process's peak resident size (run this row alone for the client's own figure).
// DecodeAndUnpackFloor: the same N objects as the simulator generates them, pre-encoded into
//   pages of the same size (not timed); timed: decode every page, create and unpack every object
//   with the same factory and place it in a map store, the container the map keeps its objects in.
// ChurnApplied: the simulator with --rows 100000 and --churn R pushes changes (49 objects per
//   notification, so every object gives one map event) into the subscribed map; counters give
//   the objects applied per second of wall time and per second of the client thread's CPU time.
//
// Run: bench_map_fetch --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true
// (KESTEL_BENCH_ROWS overrides the 1,000,000 rows.)
#include "BenchSupport.h"
#include "api/container/MapFactories.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "sim/MenuSamples.h"
#include "support/SimClient.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace kestel;

// CPU seconds (user and system) a process has used so far, from /proc; 0 when unreadable.
double processCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t end = text.rfind(')'); // the command name may hold spaces
  if (end == std::string::npos)
    return 0;
  std::istringstream fields(text.substr(end + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) // fields 3..13: state to cmajflt
    fields >> skip;
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) / double(::sysconf(_SC_CLK_TCK));
}

double threadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The descriptor model of the sample router, with its log type.
struct Model {
  Model() {
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      if (!loadDescriptors(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name).ok())
        std::abort();
    if (!completeAllTypes().ok())
      std::abort();
    auto found = findMenu("Log");
    if (!found.ok())
      std::abort();
    log = static_cast<CMap*>(found->type);
  }
  ModelContext context;
  ModelScope scope{context};
  CMap* log = nullptr;
};

// A logged-in client of the simulator program on loopback with its own reactor.
struct Client {
  explicit Client(std::vector<std::string> simArgs)
      : sim(reactor, KESTEL_SIM_PATH, std::move(simArgs)) {}
  double routerCpuSeconds() const { return processCpuSeconds(sim.routerPid()); }
  // Turns the reactor for as long as `done()` takes: a fetch has no turn limit.
  template <typename F> void turnUntil(F done) {
    sim.turnUntil(done, std::numeric_limits<int>::max());
  }

  PollReactor reactor;
  ReactorScope scope{reactor};
  test::SimClient sim;
};

void FetchOverLoopback(benchmark::State& state) {
  Model model;
  uint32_t n = bench::rows();
  Client client({"--rows", std::to_string(n)});
  double routerCpu = 0;
  for (auto _ : state) {
    Reference<ObjectMap> map = createContainer(*model.log);
    double routerStart = client.routerCpuSeconds();
    map->refresh();
    client.turnUntil(
        [&] { return map->fetchState() == FetchState::Complete || !map->statusText().empty(); });
    routerCpu += client.routerCpuSeconds() - routerStart;
    if (map->size() != n) {
      state.SkipWithError("the map does not hold every row");
      break;
    }
    state.PauseTiming();
    map = nullptr;
    state.ResumeTiming();
  }
  state.counters["rows"] = n;
  state.counters["peak_rss_MB"] = bench::peakRssMb();
  // The simulator's CPU time per fetch (10 ms ticks): it answers each page request in turn.
  state.counters["router_cpu_ms"] =
      benchmark::Counter(routerCpu * 1000, benchmark::Counter::kAvgIterations);
}

void DecodeAndUnpackFloor(benchmark::State& state) {
  Model model;
  uint32_t n = bench::rows();
  nv::message (*row)(uint32_t) = nullptr;
  for (const sim::MenuDefinition& d : sim::sampleMenus())
    if (d.name == "log")
      row = d.row;
  std::vector<std::vector<uint8_t>> pages;
  constexpr uint32_t kPage = 100; // the simulator's default page size
  for (uint32_t first = 0; first < n; first += kPage) {
    nv::message page;
    for (uint32_t i = first; i < std::min(n, first + kPage); ++i) {
      nv::message object = row(i);
      object.set(STD_ID, i + 1);
      page.append(STD_OBJS, object);
    }
    page.set(nv::u32_id(STD_OBJ_COUNT), n);
    pages.emplace_back();
    if (!page.flatten(pages.back()))
      std::abort();
  }
  Reference<IObjectFactory> factory = createTypeFactory(*model.log);
  for (auto _ : state) {
    MapStore store(model.log->ordered);
    for (const std::vector<uint8_t>& bytes : pages) {
      nv::message page(bytes);
      page.forEach(STD_OBJS, [&](const nv::message& element) {
        Reference<IObject> object = factory->create(element);
        object->getPacker()->unpack(element, object.get());
        uint32_t id = element.get(STD_ID);
        object->setID(id);
        store.insert(id, std::move(object));
      });
    }
    if (store.size() != n) {
      state.SkipWithError("the store does not hold every row");
      break;
    }
    state.PauseTiming();
    store.clear();
    state.ResumeTiming();
  }
  state.counters["rows"] = n;
}

class EventCounter final : public IMapListener {
public:
  void mapChanged(const MapEvent& event) override {
    if (event.kind == MapEventKind::Reset)
      ++resets;
    else
      ++objects;
  }
  size_t objects = 0, resets = 0;
};

void ChurnApplied(benchmark::State& state) {
  Model model;
  constexpr uint32_t kRows = 100000;
  const auto churn = std::to_string(state.range(0));
  Client client(
      {"--rows", std::to_string(kRows), "--table", "log", "--churn", churn, "--page-size", "49"});
  Reference<ObjectMap> map = createContainer(*model.log);
  // The subscription delivers the current objects (a paged fetch would chase the churn: the
  // object its cookie points at keeps being removed).
  map->open();
  // Three seconds for the current objects to arrive, then the churn is measured.
  auto warm = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < warm)
    client.reactor.runOnce(10);
  auto counter = makeRef<EventCounter>();
  map->addListener(counter.get());
  size_t applied = 0;
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    // One second of churn: every change the router pushes meanwhile is applied.
    counter->objects = 0;
    double cpu0 = threadCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    auto end = start + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end)
      client.reactor.runOnce(10);
    cpu += threadCpuSeconds() - cpu0;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    applied += counter->objects;
  }
  map->removeListener(counter.get());
  state.counters["applied_per_s"] = double(applied) / wall;
  state.counters["applied_per_cpu_s"] = cpu > 0 ? double(applied) / cpu : 0;
  state.counters["client_cpu_share"] = cpu / wall;
  state.counters["resets"] = double(counter->resets);
  state.counters["map_size"] = double(map->size());
}

BENCHMARK(FetchOverLoopback)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(DecodeAndUnpackFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(ChurnApplied)
    ->Arg(100000)
    ->Arg(400000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace

BENCHMARK_MAIN();
