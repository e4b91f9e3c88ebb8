// The table widget over a million-row map from the simulator, and its sort and filter against
// Qt's proxy model over a plain item model holding the same rows.
//
// FirstRowsShown / FullFetchShown: nimbalux-sim runs with --rows N (the log table) on loopback;
//   the client logs in, makes the log map and a TableWidget over it (off screen, shown) and
//   fetches the whole table page by page; the Qt event loop runs between network turns, so the
//   model's own timer takes the pages in and the view paints. Timed until the first rows are in
//   the model (first) and until every row is (full). Counter peak_rss_MB: the process's peak
//   resident size after the fetch (run FullFetchShown alone for the client's own figure).
// Sort*/Filter*, on the rows of that fetch (the map stays alive), both sides ending with the
//   sorted or filtered rows ready for the view (row count and first row's text read back):
//   - kestel: the TableWidget's row index over the map: setSortKeys on the column (from the
//     router's order) / a filter row "Message contains dhcp" on the table sorted by Message;
//   - peer: QSortFilterProxyModel over a QStandardItemModel holding every row's display texts
//     (built from the same objects before timing; the Time column also holds its number under
//     the proxy's sort role): sort(column) from unsorted / setFilterFixedString on the Message
//     column, case-insensitive, on the proxy sorted by Message. A QTableView shown like the
//     widget follows the proxy, so both sides include the view's handling of the change.
//
// Run: bench_table --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true
// (KESTEL_BENCH_ROWS overrides the 1,000,000 rows.)
#include "api/container/MapFactories.h"
#include "api/net/ReactorScope.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/SlotConvertors.h"
#include "support/SimClient.h"

#include "gui/TableWidget.h" // after the core headers: Qt's keyword macros

#include <QApplication>
#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <sys/resource.h>

namespace {

using namespace kestel;
using Clock = std::chrono::steady_clock;

uint32_t rows() {
  const char* n = std::getenv("KESTEL_BENCH_ROWS");
  return n ? uint32_t(std::strtoul(n, nullptr, 10)) : 1000000u;
}

double peakRssMb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

double seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Log columns: Time (a number), Topics, Message (a text).
constexpr size_t kTime = kSystemColumns;
constexpr size_t kMessage = kSystemColumns + 2;

// The simulator, the sample model and the fetched log table, made once for the process.
struct Fixture {
  Fixture() {
    installSlotConvertors();
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
  // Fetches the table into a new widget; the times to the first and to all rows shown.
  void fetch(double& first, double& full) {
    table.reset();
    map = createContainer(*log);
    table = std::make_unique<gui::TableWidget>(map, typeColumns(*log));
    table->resize(800, 600);
    table->show();
    auto start = Clock::now();
    map->refresh();
    first = -1;
    while (map->fetchState() != FetchState::Complete || table->model()->rowCount() < int(n)) {
      reactor.runOnce(1);
      QCoreApplication::processEvents();
      if (first < 0 && table->model()->rowCount() > 0)
        first = seconds(start);
      if (!map->statusText().empty())
        std::abort();
    }
    full = seconds(start);
  }
  // The peer's rows: the same display texts, the Time number under the sort role.
  void buildPeer() {
    if (peer)
      return;
    const TableIndex& index = table->tableModel().rows();
    peer = std::make_unique<QStandardItemModel>(int(index.size()), 3);
    for (size_t r = 0; r < index.size(); ++r)
      for (int c = 0; c < 3; ++c) {
        const IObject& object = *index.object(r);
        auto* item = new QStandardItem(
            QString::fromStdString(index.field(kSystemColumns + size_t(c))->text(object)));
        if (c == 0)
          item->setData(std::get<uint32_t>(index.field(kTime)->value(object)), Qt::UserRole + 5);
        peer->setItem(int(r), c, item);
      }
    proxy = std::make_unique<QSortFilterProxyModel>();
    proxy->setSourceModel(peer.get());
    proxy->setFilterKeyColumn(2);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    // A view like the widget's follows the proxy, as the widget follows its rows.
    peerView = std::make_unique<QTableView>();
    peerView->verticalHeader()->hide();
    peerView->setModel(proxy.get());
    peerView->resize(800, 600);
    peerView->show();
  }

  uint32_t n = rows();
  ModelContext context;
  ModelScope modelScope{context};
  PollReactor reactor;
  ReactorScope scope{reactor};
  CMap* log = nullptr;
  test::SimClient client{reactor, KESTEL_SIM_PATH, {"--rows", std::to_string(n)}};
  Reference<ObjectMap> map;
  std::unique_ptr<gui::TableWidget> table;
  std::unique_ptr<QStandardItemModel> peer;
  std::unique_ptr<QSortFilterProxyModel> proxy;
  std::unique_ptr<QTableView> peerView;
};

// Made on first use, gone before the application object (it holds widgets and the simulator).
std::unique_ptr<Fixture> theFixture;

Fixture& fixture() {
  if (!theFixture)
    theFixture = std::make_unique<Fixture>();
  return *theFixture;
}

// The fixture with a fetched table (the fetch rows fetch their own).
Fixture& fetched() {
  Fixture& f = fixture();
  if (!f.table) {
    double first, full;
    f.fetch(first, full);
  }
  return f;
}

void FetchShown(benchmark::State& state, bool firstOnly) {
  Fixture& f = fixture();
  double first = 0, full = 0;
  for (auto _ : state) {
    f.fetch(first, full);
    state.SetIterationTime(firstOnly ? first : full);
  }
  state.counters["rows"] = f.n;
  state.counters["first_rows_s"] = first;
  state.counters["all_rows_s"] = full;
  state.counters["peak_rss_MB"] = peakRssMb();
}

void FirstRowsShown(benchmark::State& state) { FetchShown(state, true); }
void FullFetchShown(benchmark::State& state) { FetchShown(state, false); }

QString firstText(const QAbstractItemModel& model, int column) {
  return model.index(0, column).data().toString();
}

void KestelSort(benchmark::State& state, size_t column) {
  Fixture& f = fetched();
  for (auto _ : state) {
    state.PauseTiming();
    f.table->setSortKeys({});
    state.ResumeTiming();
    f.table->setSortKeys({{column, false}});
    benchmark::DoNotOptimize(firstText(*f.table->model(), int(column)));
  }
  f.table->setSortKeys({});
  state.counters["rows"] = double(f.table->model()->rowCount());
}

void PeerSort(benchmark::State& state, int column) {
  Fixture& f = fetched();
  f.buildPeer();
  f.proxy->setSortRole(column == 0 ? Qt::UserRole + 5 : Qt::DisplayRole);
  for (auto _ : state) {
    state.PauseTiming();
    f.proxy->sort(-1);
    state.ResumeTiming();
    f.proxy->sort(column);
    benchmark::DoNotOptimize(firstText(*f.proxy, column));
  }
  f.proxy->sort(-1);
  state.counters["rows"] = double(f.proxy->rowCount());
}

void SortText_kestel(benchmark::State& state) { KestelSort(state, kMessage); }
void SortText_peer(benchmark::State& state) { PeerSort(state, 2); }
void SortNumber_kestel(benchmark::State& state) { KestelSort(state, kTime); }
void SortNumber_peer(benchmark::State& state) { PeerSort(state, 0); }

void Filter_kestel(benchmark::State& state) {
  Fixture& f = fetched();
  f.table->setSortKeys({{kMessage, false}});
  int shown = 0;
  for (auto _ : state) {
    state.PauseTiming();
    f.table->setFilterRows({});
    state.ResumeTiming();
    f.table->setFilterRows({{kMessage, FilterOp::Contains, "dhcp"}});
    shown = f.table->model()->rowCount();
    benchmark::DoNotOptimize(firstText(*f.table->model(), int(kMessage)));
  }
  f.table->setFilterRows({});
  f.table->setSortKeys({});
  state.counters["rows"] = shown;
}

void Filter_peer(benchmark::State& state) {
  Fixture& f = fetched();
  f.buildPeer();
  f.proxy->setSortRole(Qt::DisplayRole);
  f.proxy->sort(2);
  int shown = 0;
  for (auto _ : state) {
    state.PauseTiming();
    f.proxy->setFilterFixedString(QString());
    state.ResumeTiming();
    f.proxy->setFilterFixedString(QStringLiteral("dhcp"));
    shown = f.proxy->rowCount();
    benchmark::DoNotOptimize(firstText(*f.proxy, 2));
  }
  f.proxy->setFilterFixedString(QString());
  f.proxy->sort(-1);
  state.counters["rows"] = shown;
}

BENCHMARK(FirstRowsShown)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(FullFetchShown)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(SortText_kestel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(SortText_peer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(SortNumber_kestel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(SortNumber_peer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(Filter_kestel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(Filter_peer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  theFixture.reset();
  return 0;
}
