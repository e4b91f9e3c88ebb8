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
// ScrollUnderChurn_*: nimbalux-sim runs with --rows N --churn 1000 (a thousand changes a second
//   to the log table: eight in ten change a row, one adds, one removes); the client subscribes
//   to the log map and keeps it current. Each side shows the rows sorted by Message in an
//   800x600 view (off screen) that follows every change, and is scrolled one page down every
//   20 ms (back to the top at the end) for 300 steps after 25 warm-up steps. Between steps the
//   network and the event loop run as in the program, so each side takes in the churn its own
//   way. A step's latency is the time from when its scroll was due to when the view has
//   scrolled and repainted (QWidget::repaint), so time the GUI thread spent on changes before
//   the scroll counts. Reported: the median step (the benchmark's time), the 95th percentile
//   and the worst step, and the map changes taken in meanwhile.
//   - kestel: the TableWidget over the map (its row index places the changes, 100 ms batches);
//   - peer: QSortFilterProxyModel (dynamic sort) over a QStandardItemModel holding every row's
//     display texts, which a map listener keeps current: a changed object's items get its new
//     texts, an added one is appended, a removed one's row is taken out.
//   Only one side is attached to the map while it is measured.
//
// Run: bench_table --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true
// (KESTEL_BENCH_ROWS overrides the 1,000,000 rows.) The scroll pair runs on a simulator of its
// own (the other figures' router does not churn): run it with --benchmark_filter=Scroll.
#include "BenchSupport.h"
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
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sys/resource.h>
#include <unordered_map>

// After the core's headers: Qt's "emit" and "slots" keywords would rename their members.
#include "QtBenchMain.h"

namespace {

using namespace kestel;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Log columns: Time (a number), Topics, Message (a text).
constexpr size_t kTime = kSystemColumns;
constexpr size_t kMessage = kSystemColumns + 2;

// The simulator, the sample model and the fetched log table, made once for the process.
struct Fixture {
  explicit Fixture(unsigned churnPerSecond) : churn(churnPerSecond) {
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

  unsigned churn;
  uint32_t n = bench::rows();
  ModelContext context;
  ModelScope modelScope{context};
  PollReactor reactor;
  ReactorScope scope{reactor};
  CMap* log = nullptr;
  test::SimClient client{
      reactor, KESTEL_SIM_PATH, {"--rows", std::to_string(n), "--churn", std::to_string(churn)}};
  Reference<ObjectMap> map;
  std::unique_ptr<gui::TableWidget> table;
  std::unique_ptr<QStandardItemModel> peer;
  std::unique_ptr<QSortFilterProxyModel> proxy;
  std::unique_ptr<QTableView> peerView;
};

// Made on first use, gone before the application object (it holds widgets and the simulator).
// One simulator at a time: asking for the other churn rate replaces it.
std::unique_ptr<Fixture> theFixture;

Fixture& fixture(unsigned churn = 0) {
  if (theFixture && theFixture->churn != churn)
    theFixture.reset();
  if (!theFixture)
    theFixture = std::make_unique<Fixture>(churn);
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
  state.counters["peak_rss_MB"] = bench::peakRssMb();
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

// ---- scrolling while the router pushes changes

constexpr unsigned kChurn = 1000;
constexpr auto kStepInterval = std::chrono::milliseconds(20);
constexpr int kWarmUpSteps = 25;
constexpr int kSteps = 300;

// Counts the objects the map's events name (a reset that lists its batch counts its ids).
class ChangeCounter final : public IMapListener {
public:
  explicit ChangeCounter(ObjectMap& map) : map_(map) {}
  void mapChanged(const MapEvent& event) override {
    const std::vector<MapEvent>* events = nullptr;
    if (event.kind != MapEventKind::Reset)
      ++count;
    else if (map_.resetBatch(events))
      count += events->size();
  }
  size_t count = 0;

private:
  ObjectMap& map_;
};

// The churning log map, subscribed and holding the whole table.
Fixture& churning() {
  Fixture& f = fixture(kChurn);
  if (!f.map) {
    f.map = createContainer(*f.log);
    f.map->open();
    while (f.map->size() < f.n) {
      f.reactor.runOnce(10);
      if (!f.map->statusText().empty())
        std::abort();
    }
  }
  return f;
}

// Scrolls `view` a page every step interval; the latency of each step in ms.
std::vector<double> scrollSteps(Fixture& f, QTableView& view, int steps) {
  QScrollBar* bar = view.verticalScrollBar();
  std::vector<double> latencies;
  auto due = Clock::now();
  for (int i = 0; i < steps; ++i) {
    due += kStepInterval;
    while (Clock::now() < due) {
      f.reactor.runOnce(1);
      QCoreApplication::processEvents();
    }
    int to = bar->value() + bar->pageStep();
    bar->setValue(to > bar->maximum() ? 0 : to);
    view.viewport()->repaint();
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due).count());
  }
  return latencies;
}

void reportSteps(benchmark::State& state, std::vector<double> latencies, size_t changes,
                 int rowsShown) {
  std::sort(latencies.begin(), latencies.end());
  double median = latencies[latencies.size() / 2];
  state.SetIterationTime(median / 1000.0);
  state.counters["median_step_ms"] = median;
  state.counters["p95_step_ms"] = latencies[latencies.size() * 95 / 100];
  state.counters["worst_step_ms"] = latencies.back();
  state.counters["changes_taken_in"] = double(changes);
  state.counters["rows"] = rowsShown;
}

void ScrollUnderChurn_kestel(benchmark::State& state) {
  Fixture& f = churning();
  for (auto _ : state) {
    gui::TableWidget table(f.map, typeColumns(*f.log));
    table.setSortKeys({{kMessage, false}});
    table.resize(800, 600);
    table.show();
    scrollSteps(f, table, kWarmUpSteps);
    auto counter = makeRef<ChangeCounter>(*f.map);
    f.map->addListener(counter.get());
    std::vector<double> latencies = scrollSteps(f, table, kSteps);
    f.map->removeListener(counter.get());
    reportSteps(state, std::move(latencies), counter->count, table.model()->rowCount());
  }
}

// The peer's model kept current from the map's events: the display texts of Time, Topics and
// Message per object, the first item of each object's row found by its id.
class PeerFeed final : public IMapListener {
public:
  PeerFeed(ObjectMap& map, const std::vector<TableColumn>& columns, QStandardItemModel& model)
      : map_(map), columns_(columns), model_(model) {
    std::vector<uint32_t> ids = map.ids();
    model.setRowCount(int(ids.size()));
    model.setColumnCount(3);
    for (size_t r = 0; r < ids.size(); ++r) {
      const IObject& object = *map.find(ids[r]);
      for (int c = 0; c < 3; ++c)
        model.setItem(int(r), c, new QStandardItem(text(object, c)));
      first_[ids[r]] = model.item(int(r), 0);
    }
  }
  void mapChanged(const MapEvent& event) override {
    const std::vector<MapEvent>* events = nullptr;
    if (event.kind != MapEventKind::Reset)
      take(event.kind, event.id);
    else if (map_.resetBatch(events))
      for (const MapEvent& e : *events)
        take(e.kind, e.id);
  }

private:
  QString text(const IObject& object, int column) const {
    return QString::fromStdString(columns_[size_t(column)].field->text(object));
  }
  void take(MapEventKind kind, uint32_t id) {
    auto at = first_.find(id);
    IObject* object = map_.find(id);
    if (kind == MapEventKind::Removed || !object) {
      if (at != first_.end()) {
        model_.removeRow(at->second->row());
        first_.erase(at);
      }
    } else if (at == first_.end()) {
      QList<QStandardItem*> row;
      for (int c = 0; c < 3; ++c)
        row.append(new QStandardItem(text(*object, c)));
      model_.appendRow(row);
      first_[id] = row[0];
    } else {
      int r = at->second->row();
      for (int c = 0; c < 3; ++c)
        model_.item(r, c)->setText(text(*object, c));
    }
  }

  ObjectMap& map_;
  const std::vector<TableColumn>& columns_;
  QStandardItemModel& model_;
  std::unordered_map<uint32_t, QStandardItem*> first_;
};

void ScrollUnderChurn_peer(benchmark::State& state) {
  Fixture& f = churning();
  std::vector<TableColumn> columns = typeColumns(*f.log);
  for (auto _ : state) {
    QStandardItemModel model;
    auto feed = makeRef<PeerFeed>(*f.map, columns, model);
    f.map->addListener(feed.get());
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    proxy.sort(2);
    QTableView view;
    view.verticalHeader()->hide();
    view.setModel(&proxy);
    view.resize(800, 600);
    view.show();
    scrollSteps(f, view, kWarmUpSteps);
    auto counter = makeRef<ChangeCounter>(*f.map);
    f.map->addListener(counter.get());
    std::vector<double> latencies = scrollSteps(f, view, kSteps);
    f.map->removeListener(counter.get());
    f.map->removeListener(feed.get());
    reportSteps(state, std::move(latencies), counter->count, proxy.rowCount());
  }
}

BENCHMARK(FirstRowsShown)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(FullFetchShown)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(SortText_kestel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(SortText_peer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(SortNumber_kestel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(SortNumber_peer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(Filter_kestel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(Filter_peer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(ScrollUnderChurn_kestel)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(ScrollUnderChurn_peer)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
  return kestel::bench::runQtBenchmarks(argc, argv, [] { theFixture.reset(); });
}
