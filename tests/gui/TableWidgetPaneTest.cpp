// A table pane over the table widget, against the simulator on loopback with the router pushing
// changes: the Filter command shows the widget's filter bar and hiding it drops its rows, Freeze
// keeps the rows shown while the map moves on and thawing catches up, a named view brings back
// the sort, the columns and the filter rows after they were changed, and export writes the rows
// in the order and with the columns the view shows.
// The core headers come before Qt's, whose keyword macros (emit, slots) they would trip on.
#include "api/container/MapFactories.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/SlotConvertors.h"
#include "support/SimClient.h"

#include "gui/TableBars.h"
#include "gui/TableWidgetPane.h"

#include "GuiTest.h"
#include "SampleModel.h"

#include <QFile>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <set>

namespace kestel::gui {
namespace {

using test::SampleModel;

// Counts the map's events (a reset that lists its batch counts its objects).
class EventCounter final : public IMapListener {
public:
  explicit EventCounter(ObjectMap& map) : map_(map) {}
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

std::vector<uint32_t> shownIds(const TableWidget& table) {
  std::vector<uint32_t> ids;
  for (size_t r = 0; r < table.tableModel().rows().size(); ++r)
    ids.push_back(table.tableModel().rows().id(r));
  return ids;
}

// The first column of the table's own whose values are of `kind`.
size_t columnOfKind(const TableWidget& table, ValueKind kind) {
  for (size_t c = kSystemColumns; c < table.tableLayout().count(); ++c)
    if (const auto& field = table.tableModel().rows().field(c); field && field->kind() == kind)
      return c;
  return 0;
}

} // namespace

class TableWidgetPaneTest : public QObject {
  Q_OBJECT
private slots:
  void paneOverTheTableWidget() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    SampleModel model;
    QVERIFY(model.ok);
    settingsRegistry().loadSettings("/nonexistent/kestel-test/settings.viw"); // record 0
    Expected<MenuRef> menu = findMenu("Firewall");
    QVERIFY(menu);
    auto* rules = static_cast<CMap*>(menu->type);
    test::SimClient client(reactor, KESTEL_SIM_PATH,
                           {"--rows", "60", "--table", "firewall", "--churn", "200"});
    QVERIFY(client.started());
    Reference<ObjectMap> map = createContainer(*rules);
    map->open();
    std::unique_ptr<TablePane> pane(createTablePane(map, rules));
    pane->resize(800, 500);
    pane->show();
    auto* table = qobject_cast<TableWidget*>(pane->view());
    QVERIFY(table);
    QVERIFY(client.turnUntil([&] { return map->size() >= 50; }));
    table->tableModel().applyWaiting();
    size_t text = columnOfKind(*table, ValueKind::Text);
    size_t number = columnOfKind(*table, ValueKind::Number);
    QVERIFY(text != 0 && number != 0);

    // Filter shows the bar with a line; a value filters; hiding the bar shows every row again.
    auto* bar = pane->findChild<TableFilterBar*>();
    QVERIFY(bar && bar->isHidden());
    QVERIFY(pane->action(PaneCommand::Filter)->isVisible());
    pane->run(PaneCommand::Filter);
    QVERIFY(!bar->isHidden());
    QCOMPARE(table->filterRows().size(), size_t(1));
    QCOMPARE(table->setFilterRows({{text, FilterOp::Contains, "no such text anywhere"}}),
             QStringList{QString()});
    bar->showRows();
    QCOMPARE(table->model()->rowCount(), 0);
    pane->run(PaneCommand::Filter);
    QVERIFY(bar->isHidden());
    QVERIFY(table->filterRows().empty());
    QCOMPARE(size_t(table->model()->rowCount()), table->tableModel().rows().map().size());

    // Frozen, the rows stay while the router changes the table; thawed, they catch up.
    table->tableModel().applyWaiting();
    pane->run(PaneCommand::Freeze);
    QVERIFY(pane->action(PaneCommand::Freeze)->isChecked());
    std::vector<uint32_t> frozen = shownIds(*table);
    auto counter = makeRef<EventCounter>(*map);
    map->addListener(counter.get());
    std::set<uint32_t> before(frozen.begin(), frozen.end());
    QVERIFY(client.turnUntil([&] {
      table->tableModel().applyWaiting(); // as the model's timer would
      std::vector<uint32_t> ids = map->ids();
      return counter->count >= 30 && std::set<uint32_t>(ids.begin(), ids.end()) != before;
    }));
    map->removeListener(counter.get());
    QCOMPARE(shownIds(*table), frozen);
    QCOMPARE(table->model()->rowCount(), int(frozen.size()));
    pane->run(PaneCommand::Freeze);
    std::vector<uint32_t> now = shownIds(*table), ids = map->ids();
    QCOMPARE(std::set<uint32_t>(now.begin(), now.end()),
             std::set<uint32_t>(ids.begin(), ids.end()));
    QVERIFY(now != frozen);

    // A named view keeps sort, column order, hidden columns and filter rows.
    table->setSortKeys({{number, true}, {text, false}});
    QHeaderView* header = table->horizontalHeader();
    header->moveSection(header->visualIndex(int(number)), int(kSystemColumns));
    table->runCommand(kShowColumnBase + int(text)); // hides it
    QVERIFY(table->isColumnHidden(int(text)));
    table->setFilterRows({{number, FilterOp::GreaterOrEqual, "0"}});
    QVERIFY(pane->saveNamedView("by number").ok());
    std::vector<SortKey> keys = table->tableLayout().sortKeys();
    std::vector<size_t> order = table->tableLayout().order();

    table->setSortKeys({});
    header->moveSection(header->visualIndex(int(number)), header->count() - 1);
    table->runCommand(kShowColumnBase + int(text));
    table->setFilterRows({});
    QVERIFY(pane->recallNamedView("by number"));
    QCOMPARE(table->tableLayout().sortKeys(), keys);
    QCOMPARE(table->tableLayout().order(), order);
    QCOMPARE(header->visualIndex(int(number)), int(kSystemColumns));
    QVERIFY(table->isColumnHidden(int(text)));
    QCOMPARE(table->filterRows(),
             (std::vector<FilterRow>{{number, FilterOp::GreaterOrEqual, "0"}}));
    QVERIFY(!bar->isHidden());

    // Export: the visible columns in header order (the CSV header line), the rows in display
    // order with their texts (the JSON array, read back by Qt's reader).
    table->tableModel().applyWaiting();
    QTemporaryDir dir;
    QVERIFY(pane->exportTo(dir.filePath("rules.csv"), ExportFormat::Csv));
    QVERIFY(pane->exportTo(dir.filePath("rules.json"), ExportFormat::Json));
    QFile csv(dir.filePath("rules.csv")), json(dir.filePath("rules.json"));
    QVERIFY(csv.open(QIODevice::ReadOnly) && json.open(QIODevice::ReadOnly));
    QStringList titles;
    for (int visual = 0; visual < header->count(); ++visual)
      if (int c = header->logicalIndex(visual); !table->isColumnHidden(c))
        titles << table->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(QString::fromUtf8(csv.readLine()).trimmed(), titles.join(','));
    QJsonArray rows = QJsonDocument::fromJson(json.readAll()).array();
    QCOMPARE(rows.size(), table->model()->rowCount());
    const TableIndex& index = table->tableModel().rows();
    const std::shared_ptr<TableField>& field = index.field(number);
    QString title = QString::fromStdString(table->tableLayout().name(number));
    for (int r = 0; r < rows.size(); ++r) {
      QCOMPARE(rows[r].toObject()[title].toString(),
               QString::fromStdString(field->text(*index.object(size_t(r)))));
      if (r > 0) // descending by number, as the view shows
        QVERIFY(field->compare(*index.object(size_t(r - 1)), *index.object(size_t(r))) >= 0);
    }
  }
};

KESTEL_GUI_TEST(TableWidgetPaneTest)

} // namespace kestel::gui

#include "TableWidgetPaneTest.moc"
