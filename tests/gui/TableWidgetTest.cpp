// The table widget over live maps: against the simulator, the selection, the current row and the
// row at the top of the view stay on their objects while the router pushes a thousand changes
// into a table sorted by a text column (which must stay sorted); rows of a movable table dragged
// in strict ordering are moved by the router and the table follows; the loader's managed list
// (a local handler) shows in the same widget; the header menu, the status line and saved state.
// The core headers come before Qt's, whose keyword macros (emit, slots) they would trip on.
#include "api/container/MapFactories.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/object/PackerElements.h"
#include "app/AddressBookStore.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/SlotConvertors.h"
#include "support/SimClient.h"

#include "gui/TableBars.h"
#include "gui/TableRoles.h"
#include "gui/TableWidget.h"

#include "GuiTest.h"
#include "SampleModel.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <set>

namespace kestel::gui {
namespace {

// The sample descriptors, loaded into a model of the test's own.
using test::SampleModel;

// Counts the objects the map's events name (a reset that lists its batch counts its ids).
class ChangeCounter final : public IMapListener {
public:
  explicit ChangeCounter(ObjectMap& map) : map_(map) {}
  void mapChanged(const MapEvent& event) override {
    const std::vector<MapEvent>* events = nullptr;
    if (event.kind != MapEventKind::Reset) {
      ++objects;
      ids.insert(event.id);
    } else if (map_.resetBatch(events)) {
      objects += events->size();
      for (const MapEvent& e : *events)
        ids.insert(e.id);
    }
  }
  size_t objects = 0;
  std::set<uint32_t> ids; // every object named

private:
  ObjectMap& map_;
};

std::set<uint32_t> present(const ObjectMap& map, const std::vector<uint32_t>& ids) {
  std::set<uint32_t> out;
  for (uint32_t id : ids)
    if (map.find(id))
      out.insert(id);
  return out;
}

uint32_t idAt(const TableWidget& table, int row) {
  return table.model()->index(row, 0).data(ObjectIdRole).toUInt();
}

struct Entry {
  std::string address, login;
};

struct NoReply final : EventListener {
  void onEvent(Event&) override {}
};

class EntryObject final : public RecordObject<Entry> {
public:
  using RecordObject::RecordObject;
};

} // namespace

class TableWidgetTest : public QObject {
  Q_OBJECT
private slots:
  void rowsHoldStillUnderChurn() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    SampleModel model;
    QVERIFY(model.ok);
    CMap* log = model.menu("Log");
    QVERIFY(log);
    test::SimClient client(reactor, KESTEL_SIM_PATH,
                           {"--rows", "3000", "--table", "log", "--churn", "1500"});
    QVERIFY(client.started());
    Reference<ObjectMap> map = createContainer(*log);
    map->open();
    std::vector<TableColumn> columns = typeColumns(*log);
    TableWidget table(map, columns);
    table.resize(640, 400);
    table.show();
    QVERIFY(client.turnUntil([&] { return map->size() >= 2900; }));
    size_t message = kSystemColumns + 2; // Time, Topics, Message
    QCOMPARE(table.tableLayout().name(message), std::string("Message"));
    table.setSortKeys({{message, false}});
    table.tableModel().applyWaiting();

    table.selectionModel()->select(
        QItemSelection(table.model()->index(100, 0), table.model()->index(104, 0)),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table.selectionModel()->setCurrentIndex(table.model()->index(102, int(message)),
                                            QItemSelectionModel::NoUpdate);
    table.verticalScrollBar()->setValue(90);
    std::vector<uint32_t> selected = table.selectedIds();
    QCOMPARE(selected.size(), size_t(5));
    std::vector<uint32_t> inView;
    for (int r = table.rowAt(0); r <= table.rowAt(table.viewport()->height() - 1); ++r)
      inView.push_back(idAt(table, r));
    QVERIFY(inView.size() > 10);
    uint32_t current = idAt(table, table.currentIndex().row());

    auto counter = makeRef<ChangeCounter>(*map);
    map->addListener(counter.get());
    QVERIFY(client.turnUntil([&] {
      table.tableModel().applyWaiting(); // as the model's timer does between pushes
      return counter->objects >= 1000;
    }));
    map->removeListener(counter.get());
    table.tableModel().applyWaiting();

    // Still sorted by message (then id), every object of the map shown once.
    const TableIndex& rows = table.tableModel().rows();
    QCOMPARE(rows.size(), map->size());
    // Rows that came and went in a batch (a layout change) reached the header too.
    QCOMPARE(size_t(table.verticalHeader()->count()), rows.size());
    const std::shared_ptr<TableField>& field = rows.field(message);
    for (size_t r = 1; r < rows.size(); ++r) {
      std::string a = field->text(*rows.object(r - 1)), b = field->text(*rows.object(r));
      QVERIFY2(a < b || (a == b && rows.id(r - 1) < rows.id(r)), "rows out of order");
    }
    // The objects selected, current and at the top are where they were (unless churned away).
    std::vector<uint32_t> now = table.selectedIds();
    QCOMPARE(std::set<uint32_t>(now.begin(), now.end()), present(*map, selected));
    if (map->find(current)) {
      QCOMPARE(idAt(table, table.currentIndex().row()), current);
    }
    // The first object in view that the router left alone is still in view (a view that jumps
    // after a changed object, or does not follow the rows coming and going above it, loses it).
    auto untouched = std::find_if(inView.begin(), inView.end(),
                                  [&](uint32_t id) { return counter->ids.count(id) == 0; });
    QVERIFY(untouched != inView.end());
    int row = int(table.tableModel().rows().rowOf(*untouched));
    QVERIFY(row >= table.rowAt(0) && row <= table.rowAt(table.viewport()->height() - 1));
    QVERIFY(table.verticalScrollBar()->value() > 0);
  }

  void strictOrderingMovesThroughTheRouter() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    SampleModel model;
    QVERIFY(model.ok);
    CMap* rules = model.menu("Firewall");
    QVERIFY(rules);
    test::SimClient client(reactor, KESTEL_SIM_PATH, {"--rows", "12", "--table", "firewall"});
    Reference<ObjectMap> map = createContainer(*rules);
    map->open();
    TableWidget table(map, typeColumns(*rules));
    QVERIFY(client.turnUntil([&] { return map->size() == 12; }));
    table.tableModel().applyWaiting();
    QVERIFY(!table.moveObjects({map->ids()[3]}, 0)); // only in strict ordering
    QCOMPARE(table.strictOrderTip(), QString("press to active strict ordering mode"));
    table.setStrictOrder(true);
    QCOMPARE(table.strictOrderTip(), QString("press to active sorting mode"));
    QCOMPARE(table.dragDropMode(), QAbstractItemView::InternalMove);

    // Rows 5 and 6 dropped on row 1: they go before it, together and in their order.
    std::vector<uint32_t> before = map->ids();
    table.selectionModel()->select(
        QItemSelection(table.model()->index(5, 0), table.model()->index(6, 0)),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    std::vector<uint32_t> moving = table.selectedIds();
    QCOMPARE(moving, (std::vector<uint32_t>{before[5], before[6]}));
    QVERIFY(table.moveObjects(moving, 1));
    std::vector<uint32_t> expected{before[0], before[5], before[6], before[1],
                                   before[2], before[3], before[4]};
    expected.insert(expected.end(), before.begin() + 7, before.end());
    QVERIFY(client.turnUntil([&] { return map->ids() == expected; }));
    table.tableModel().applyWaiting();
    std::vector<uint32_t> shown;
    for (int r = 0; r < table.model()->rowCount(); ++r)
      shown.push_back(idAt(table, r));
    QCOMPARE(shown, expected);
    QCOMPARE(table.selectedIds(), moving); // the selection went with them
  }

  void managedListShowsInTheSameWidget() {
    PollReactor reactor(PollReactor::Clock::Manual);
    ReactorScope scope(reactor);
    resetLooper();
    {
      AddressBookStore store(reactor);
      Reference<IHandler> client = createHandler(nullptr);
      auto replies = makeRef<NoReply>();
      const Path book{0, kAddressBookHandlerId};
      for (const char* address : {"198.18.0.9", "192.0.2.1", "198.18.0.2"}) {
        nv::message e;
        e.set(entry::kAddress, std::string(address));
        e.set(entry::kLogin, std::string("admin"));
        client->request(CMD_ADDOBJ, book, e, replies.get(), 0);
      }
      auto packer = createPacker();
      packer->add(createText(memberOf(&Entry::address), entry::kAddress), 1);
      packer->add(createText(memberOf(&Entry::login), entry::kLogin), 2);
      auto factory = createFactory(
          [packer](const nv::message&) { return Reference<IObject>(new EntryObject(packer)); });
      auto map = makeRef<ObjectMap>(factory, book, ObjectMapOptions{});
      map->open();
      reactor.runOnce(0);
      TableWidget table(
          map, {{{"Address", 120, true}, memberField("Address", memberOf(&Entry::address))},
                {{"Login", 80, true}, memberField("Login", memberOf(&Entry::login))}});
      table.setSortKeys({{kSystemColumns, false}});
      QCOMPARE(table.model()->rowCount(), 3);
      QCOMPARE(table.model()->index(0, int(kSystemColumns)).data().toString(),
               QString("192.0.2.1"));
      QCOMPARE(table.model()->index(2, int(kSystemColumns) + 1).data().toString(),
               QString("admin"));
      QCOMPARE(table.statusText(), QString("3 items"));

      // An entry added through the store appears in its sorted place.
      nv::message e;
      e.set(entry::kAddress, std::string("198.18.0.1"));
      client->request(CMD_ADDOBJ, book, e, replies.get(), 0);
      reactor.runOnce(0);
      table.tableModel().applyWaiting();
      QCOMPARE(table.model()->index(1, int(kSystemColumns)).data().toString(),
               QString("198.18.0.1"));
      QCOMPARE(table.setFilterRows({{kSystemColumns, FilterOp::Contains, "198.18"}}),
               QStringList{QString()});
      QCOMPARE(table.statusText(), QString("3 items out of 4"));

      // The same through the filter bar; find from the find field.
      TableFilterBar bar(&table);
      QVERIFY(!bar.isHidden());
      auto* value = bar.findChild<QLineEdit*>();
      QVERIFY(value);
      value->setText("192.0");
      QCOMPARE(table.statusText(), QString("1 item out of 4"));
      bar.findChildren<QToolButton*>().last()->click(); // the line's remove button
      QCOMPARE(table.statusText(), QString("4 items"));
      TableFindField find(&table);
      QCOMPARE(find.placeholderText(), QString("F3 - Find Next"));
      QTest::keyClicks(&find, "0.9");
      QTest::keyClick(&find, Qt::Key_F3);
      QCOMPARE(idAt(table, table.currentIndex().row()), idAt(table, 3));
      table.selectionModel()->clear();
      QCOMPARE(table.statusText(), QString("4 items"));
      table.selectRow(0);
      QCOMPARE(table.statusText(), QString("4 items (1 selected)"));
      client->detach();
    }
    resetLooper();
  }

  void headerMenuAndSavedState() {
    PollReactor reactor(PollReactor::Clock::Manual);
    ReactorScope scope(reactor);
    auto map = makeRef<ObjectMap>(
        createFactory([](const nv::message&) { return Reference<IObject>(new EntryObject()); }),
        Path{0, 77}, ObjectMapOptions{});
    std::vector<TableColumn> columns{
        {{"Address", 120, true}, memberField("Address", memberOf(&Entry::address))},
        {{"Login", 80, true}, memberField("Login", memberOf(&Entry::login))},
        {{"Comment", 80, false}, memberField("Comment", memberOf(&Entry::login))}};
    TableWidget table(map, columns, {true, true, true, {}, false, {}});
    std::unique_ptr<QMenu> menu(table.headerMenu(nullptr));
    QStringList texts;
    for (QAction* a : menu->actions())
      texts << a->text();
    QCOMPARE(texts, (QStringList{"Show Categories", "Detail Mode", "Inline Comments",
                                 "Show Columns", "Find\tCtrl+F", "Find Next\tCtrl+G"}));
    QStringList columnTexts;
    for (QAction* a : menu->actions()[3]->menu()->actions())
      columnTexts << a->text() + (a->isChecked() ? "*" : "") + QString::number(a->data().toInt());
    QCOMPARE(columnTexts, (QStringList{"Address*20", "Login*21"})); // never "Comment"
    table.setSessionInlineComments(true);
    menu.reset(table.headerMenu(nullptr));
    QCOMPARE(menu->actions()[2]->text(), QString("Don't Inline Comments"));
    QVERIFY(!menu->actions()[2]->isChecked());
    table.runCommand(kCmdInlineComments);
    QVERIFY(table.tableLayout().mode.inlineChosen && !table.tableLayout().mode.inlineComments);
    int owner = 0;
    connect(&table, &TableWidget::ownerCommand, [&](int c) { owner = c; });
    table.runCommand(4100);
    QCOMPARE(owner, 4100);

    // Hide Login, show it after a moved column, save, and load into a fresh table.
    table.runCommand(kShowColumnBase + 5);
    QVERIFY(table.isColumnHidden(5));
    table.horizontalHeader()->moveSection(table.horizontalHeader()->visualIndex(5), 4);
    table.setColumnWidth(4, 1500);
    SettingsRegistry registry;
    StringMap settings;
    table.saveState(settings, registry);
    TableWidget back(map, columns, {true, true, true, {}, false, {}});
    back.loadState(settings, registry);
    QVERIFY(back.isColumnHidden(5));
    QCOMPARE(back.horizontalHeader()->visualIndex(5), 4);
    QCOMPARE(back.columnWidth(4), 1500);
    QCOMPARE(back.tableLayout().mode, table.tableLayout().mode);
  }
};

KESTEL_GUI_TEST(TableWidgetTest)

} // namespace kestel::gui

#include "TableWidgetTest.moc"
