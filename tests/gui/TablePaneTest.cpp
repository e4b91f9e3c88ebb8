// The table pane on screen over a map fed by a stand-in router: the toolbar and keys follow the
// map's commands and the selection, keys and double click reach the map and the editor opener,
// the map's status text stands in place of the table, export and copy give the rows as the view
// shows them (read back with QJsonDocument), named views bring a header layout back, and a table
// window restores its panes, the active one and each pane's selection.
// The map's header before Qt's: it declares emit(), which Qt's keyword of that name breaks.
#include "api/container/ObjectMap.h"
#include "api/net/Connection.h"
#include "api/net/Looper.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/object/PackerElements.h"
#include "api/wire/Vocabulary.h"
#include "gen/ModelContext.h"
#include "miw/TablePaneActions.h"

#include "GuiTest.h"
#include "gui/TablePane.h"
#include "gui/TableRoles.h"
#include "gui/TableWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

namespace kestel::gui {
namespace {

constexpr nv::string_id kName{0x100001};
constexpr nv::u32_id kValue{0x100002};

struct Rec {
  std::string name;
  uint32_t value = 0;
};

class Item final : public RecordObject<Rec> {
public:
  using RecordObject::RecordObject;
  std::string getName() const override { return rec().name; }
};

Reference<IPacker> itemPacker() {
  static Reference<IPacker> packer = [] {
    auto p = createPacker();
    p->add(createText(memberOf(&Rec::name), kName), 1);
    p->add(createNumber(memberOf(&Rec::value), kValue), 2);
    return p;
  }();
  return packer;
}

struct FakeSession final : ISession {
  void post(const nv::message& m) override { posted.push_back(m); }
  uint32_t agentId() const override { return kNoId; }
  std::vector<nv::message> posted;
};

struct Opener final : IObjectEditorOpener {
  void openObjectEditor(ObjectMap&, IObject& object, bool isNew) override {
    opened.push_back(isNew ? 0 : object.getID());
  }
  void openCommentEditor(ObjectMap&, IObject& object) override {
    comments.push_back(object.getID());
  }
  std::vector<uint32_t> opened; // 0 for a new object
  std::vector<uint32_t> comments;
};

struct Boxes final : MessageBoxSink {
  void showMessageBox(const std::string&, const std::string& text) override {
    texts.push_back(text);
  }
  std::vector<std::string> texts;
};

// The objects of the map as rows (name, value), each carrying its id.
QStandardItemModel* modelOf(ObjectMap& map, QObject* parent) {
  auto* model = new QStandardItemModel(0, 2, parent);
  model->setHorizontalHeaderLabels({"Name", "Value"});
  for (uint32_t id : map.ids()) {
    const Rec& r = static_cast<Item*>(map.find(id))->rec();
    auto* name = new QStandardItem(QString::fromStdString(r.name));
    name->setData(id, ObjectIdRole);
    auto* value = new QStandardItem(QString::number(r.value));
    value->setData(r.value, Qt::UserRole + 2);
    model->appendRow({name, value});
  }
  return model;
}

QStringList menuTexts(QMenu* menu) {
  QStringList texts;
  for (QAction* a : menu->actions())
    if (!a->isSeparator())
      texts << a->text() + (a->isEnabled() ? "" : "(off)");
  delete menu;
  return texts;
}

} // namespace

class TablePaneTest : public QObject {
  Q_OBJECT

  std::unique_ptr<ModelContext> model;
  std::unique_ptr<ModelScope> modelScope;
  std::unique_ptr<PollReactor> reactor;
  std::unique_ptr<ReactorScope> scope;
  Reference<FakeSession> session;
  Reference<Connection> connection;
  Boxes boxes;
  std::unique_ptr<MessageBoxScope> boxScope;
  Opener opener;

  nv::message lastSent(uint32_t command) {
    for (auto it = session->posted.rbegin(); it != session->posted.rend(); ++it)
      if (it->get(SYS_CMD) == command)
        return *it;
    return {};
  }
  size_t sentCount(uint32_t command) {
    size_t n = 0;
    for (const nv::message& m : session->posted)
      n += m.get(SYS_CMD) == command ? 1 : 0;
    return n;
  }
  void answer(const nv::message& request, nv::message reply) {
    reply.set(SYS_TO, request.get(SYS_FROM));
    reply.set(SYS_TYPE, TYPE_REPLY);
    reply.set(SYS_REQID, request.get(SYS_REQID));
    getLooper()->deliver(reply);
  }
  // An ordered map (add, remove, move as given) holding rules 11 "ssh" 22, 12 "web" 80,
  // 13 "dns" 53.
  Reference<ObjectMap> makeMap(bool add, bool remove) {
    ObjectMapOptions o;
    o.ordered = true;
    o.add = add;
    o.remove = remove;
    o.move = true;
    o.noDefaults = true;
    auto map = makeRef<ObjectMap>(createFactory([](const nv::message&) {
                                    return Reference<IObject>(new Item(itemPacker()));
                                  }),
                                  Path{21, 4}, o);
    map->refresh();
    std::vector<nv::message> objects;
    for (auto [id, name, value] :
         {std::tuple{11u, "ssh", 22u}, {12u, "web", 80u}, {13u, "dns", 53u}}) {
      nv::message m;
      m.set(STD_ID, id);
      m.set(kName, name);
      m.set(kValue, value);
      objects.push_back(m);
    }
    nv::message page;
    page.set(STD_OBJS, objects);
    page.set(STD_GETALLID, kNoId);
    answer(lastSent(CMD_GETALL), page);
    return map;
  }
  // A pane over the map with a table view of its rows.
  TablePane* makePane(Reference<ObjectMap> map, bool withCommands = true) {
    auto* pane = new TablePane(map, nullptr, withCommands, false);
    auto* view = new QTableView;
    view->setModel(modelOf(*map, view));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    pane->setView(view);
    pane->setOpener(&opener);
    pane->resize(480, 240);
    return pane;
  }
  void selectRows(TablePane* pane, std::initializer_list<int> rows) {
    auto* selection = pane->view()->selectionModel();
    selection->clearSelection();
    for (int r : rows)
      selection->select(pane->view()->model()->index(r, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

private slots:
  void init() {
    resetLooper();
    model = std::make_unique<ModelContext>();
    modelScope = std::make_unique<ModelScope>(*model);
    setUserPolicy(0xFFFFFFFF);
    reactor = std::make_unique<PollReactor>(PollReactor::Clock::Manual);
    scope = std::make_unique<ReactorScope>(*reactor);
    session = makeRef<FakeSession>();
    getLooper()->setSession(session.get());
    connection = createConnection(*reactor);
    setRouterConnection(connection.get());
    boxScope = std::make_unique<MessageBoxScope>(boxes);
    opener = {};
    boxes.texts.clear();
    settingsRegistry().loadSettings("/nonexistent/kestel-test/settings.viw");
  }
  void cleanup() {
    boxScope.reset();
    setRouterConnection(nullptr);
    connection = nullptr;
    resetLooper();
    scope.reset();
    reactor.reset();
    modelScope.reset();
    model.reset();
  }

  void toolbarFollowsTheMapAndTheSelection() {
    std::unique_ptr<TablePane> pane(makePane(makeMap(true, true)));
    QVERIFY(pane->action(PaneCommand::Add)->isVisible());
    QVERIFY(pane->action(PaneCommand::Add)->isEnabled());
    QVERIFY(pane->action(PaneCommand::Remove)->isVisible());
    QVERIFY(!pane->action(PaneCommand::Remove)->isEnabled());
    QVERIFY2(!pane->action(PaneCommand::Enable)->isVisible(), "no type with a disabled member");
    QVERIFY2(!pane->action(PaneCommand::Freeze)->isVisible(), "the view cannot freeze");
    QCOMPARE(pane->statusText(), QString("3 items"));

    selectRows(pane.get(), {0, 2});
    QVERIFY(pane->action(PaneCommand::Remove)->isEnabled());
    QVERIFY(pane->action(PaneCommand::Copy)->isEnabled());
    QCOMPARE(pane->statusText(), QString("3 items (2 selected)"));

    std::vector<bool> frozen;
    pane->setFreezeHook([&](bool on) { frozen.push_back(on); });
    QAction* freeze = pane->action(PaneCommand::Freeze);
    QVERIFY(freeze->isVisible() && freeze->isCheckable());
    freeze->trigger();
    QVERIFY(freeze->isChecked());
    QCOMPARE(pane->statusText(), QString("3 items (2 selected) | Frozen"));
    freeze->trigger();
    QCOMPARE(frozen, (std::vector<bool>{true, false}));

    std::unique_ptr<TablePane> readOnly(makePane(makeMap(false, false)));
    QVERIFY(!readOnly->action(PaneCommand::Add)->isVisible());
    QVERIFY(!readOnly->action(PaneCommand::Remove)->isVisible());
    std::unique_ptr<TablePane> bare(makePane(makeMap(true, true), false));
    QVERIFY(!bare->toolBar());
  }

  void keysReachTheMapAndTheOpener() {
    std::unique_ptr<TablePane> pane(makePane(makeMap(true, true)));
    pane->show();
    QAbstractItemView* view = pane->view();
    selectRows(pane.get(), {2, 0});
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(sentCount(CMD_REMOVEOBJ), size_t(2));
    QCOMPARE(lastSent(CMD_REMOVEOBJ).get(STD_ID), 13u); // "rows go in display order"
    QCOMPARE(pane->statusText(), QString("3 items (2 selected) | Removing 2 items"));
    answer(lastSent(CMD_REMOVEOBJ), {});

    QTest::keyClick(view, Qt::Key_Insert);
    QCOMPARE(opener.opened, std::vector<uint32_t>{0});
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(pane->selectedIds(), (std::vector<uint32_t>{11, 12, 13}));
    QTest::keyClick(view, Qt::Key_F5);
    QVERIFY(pane->map().fetchState() == FetchState::Running);

    std::unique_ptr<TablePane> readOnly(makePane(makeMap(false, false)));
    readOnly->show();
    selectRows(readOnly.get(), {0});
    size_t removes = sentCount(CMD_REMOVEOBJ);
    QTest::keyClick(readOnly->view(), Qt::Key_Insert);
    QTest::keyClick(readOnly->view(), Qt::Key_Delete);
    QCOMPARE(opener.opened.size(), size_t(1)); // "Insert is ignored where adding is not allowed"
    QCOMPARE(sentCount(CMD_REMOVEOBJ), removes);
  }

  void doubleClickOpensTheEditor() {
    std::unique_ptr<TablePane> pane(makePane(makeMap(true, true)));
    pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(pane.get()));
    QAbstractItemView* view = pane->view();
    QRect cell = view->visualRect(view->model()->index(1, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(opener.opened, std::vector<uint32_t>{12});
  }

  void contextMenuEntries() {
    std::unique_ptr<TablePane> pane(makePane(makeMap(true, true)));
    pane->setExtraCommands({{"Reset Counters", [] {}}});
    QCOMPARE(menuTexts(pane->contextMenu()),
             (QStringList{"Select All\tCtrl+A", "Add\tINS", "Reset Counters", "Export..."}));
    selectRows(pane.get(), {1});
    pane->setAddVariants({{"Ether", [] { return Reference<IObject>(); }},
                          {"VLAN", [] { return Reference<IObject>(); }}});
    QMenu* menu = pane->contextMenu();
    QCOMPARE(menu->actions().at(1)->text(), QString("Add"));
    QVERIFY(menu->actions().at(1)->menu());
    QCOMPARE(menu->actions().at(1)->menu()->actions().size(), 2);
    QCOMPARE(menuTexts(menu), (QStringList{"Select All\tCtrl+A", "Add", "Remove\tDEL",
                                           "Reset Counters", "Export..."}));
    pane->action(PaneCommand::Add)->menu()->actions().at(1)->trigger();
    QCOMPARE(pane->statusText(), QString("3 items (1 selected) | No new object can be made here"));
  }

  void mapStatusStandsInPlaceOfTheTable() {
    auto map = makeMap(true, true);
    std::unique_ptr<TablePane> pane(makePane(map));
    QCOMPARE(pane->mapStatusShown(), QString());
    map->refresh();
    nv::message refused;
    refused.set(SYS_STATUS, STATUS_ERROR);
    refused.set(SYS_ERRNO, ERROR_TOOMUCH);
    answer(lastSent(CMD_GETALL), refused);
    QCOMPARE(pane->mapStatusShown(), QString(kTooMuchText));
    map->refresh();
    nv::message page;
    page.set(STD_OBJS, std::vector<nv::message>{});
    page.set(STD_GETALLID, kNoId);
    answer(lastSent(CMD_GETALL), page);
    QCOMPARE(pane->mapStatusShown(), QString());
  }

  // Export and copy take what the view shows: sorted, filtered, columns moved and hidden.
  void exportAndCopyFollowTheView() {
    auto map = makeMap(true, true);
    auto* pane = new TablePane(map, nullptr, true, false);
    std::unique_ptr<TablePane> owner(pane);
    auto* view = new QTableView;
    auto* proxy = new QSortFilterProxyModel(view);
    QStandardItemModel* source = modelOf(*map, view);
    auto* seven = new QStandardItem("7");
    seven->setData(7, Qt::UserRole + 2);
    source->appendRow({new QStandardItem("a,\"b\"\nc"), seven});
    proxy->setSourceModel(source);
    proxy->setFilterKeyColumn(0);
    proxy->setFilterRegularExpression("^[^w]"); // "web" is filtered out
    proxy->setSortRole(Qt::UserRole + 2);
    view->setModel(proxy);
    view->setSortingEnabled(true);
    view->sortByColumn(1, Qt::DescendingOrder);
    pane->setView(view);

    QTemporaryDir dir;
    QString path = dir.filePath("rows.json");
    QVERIFY(pane->exportTo(path, ExportFormat::Json));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonParseError error;
    QJsonArray rows = QJsonDocument::fromJson(file.readAll(), &error).array();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].toObject()["Name"].toString(), QString("dns"));
    QCOMPARE(rows[1].toObject()["Name"].toString(), QString("ssh"));
    QCOMPARE(rows[2].toObject()["Name"].toString(), QString("a,\"b\"\nc"));
    QCOMPARE(rows[2].toObject()["Value"].toString(), QString("7"));

    // Value first, Name hidden then shown again: the columns go in display order.
    view->horizontalHeader()->moveSection(1, 0);
    QVERIFY(pane->exportTo(dir.filePath("rows.csv"), ExportFormat::Csv));
    QFile csv(dir.filePath("rows.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll(),
             QByteArray("Value,Name\r\n53,dns\r\n22,ssh\r\n7,\"a,\"\"b\"\"\nc\"\r\n"));

    view->setColumnHidden(1, true);
    selectRows(pane, {2, 0});
    pane->run(PaneCommand::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString("dns\na,\"b\" c\n"));

    QVERIFY(!pane->exportTo(dir.filePath("missing/rows.csv"), ExportFormat::Csv));
  }

  void namedViewsBringTheHeaderBack() {
    std::unique_ptr<TablePane> pane(makePane(makeMap(true, true)));
    auto* view = static_cast<QTableView*>(pane->view());
    QHeaderView* header = view->horizontalHeader();
    header->moveSection(1, 0);
    header->resizeSection(0, 155);
    QVERIFY(pane->saveNamedView("value first").ok());
    header->moveSection(0, 1);
    view->setColumnHidden(1, true);
    QVERIFY(pane->recallNamedView("value first"));
    QCOMPARE(header->visualIndex(1), 0);
    QVERIFY(!view->isColumnHidden(1));
    QCOMPARE(header->sectionSize(0), 155);
    QVERIFY(!pane->recallNamedView("nothing"));
    QCOMPARE(pane->namedViews().names(), std::vector<std::string>{"value first"});
    // A map without a type text keeps its views under its path.
    QVERIFY(settingsRegistry().getSettings(0, nullptr, 0)->has("views/path 21,4"));
  }

  // Reopening a window selects the row that was selected when it closed, in each pane, even when
  // the rows arrive after the window opened.
  void windowRestoresPanesAndSelection() {
    SettingsRegistry settings;
    StringMap record;
    auto map = makeMap(true, true);
    {
      TableWindow window("Firewall", settings);
      window.addPane(makePane(map), "Filter");
      window.addPane(makePane(map), "NAT");
      window.setActivePane(1);
      selectRows(window.pane(1), {2});
      window.saveState(record, 0);
    }
    QCOMPARE(record.get("panes")->size(), size_t(8));
    TableWindow window("Firewall", settings);
    window.addPane(makePane(map), "Filter");
    auto* late = new TablePane(map, nullptr, true, false);
    auto* view = new QTableView;
    auto* model = new QStandardItemModel(0, 2, view);
    view->setModel(model);
    late->setView(view);
    window.addPane(late, "NAT");
    window.loadState(record);
    QCOMPARE(window.activePane(), late);
    QVERIFY(late->selectedIds().empty());
    QStandardItemModel* rows = modelOf(*map, view);
    while (rows->rowCount() > 0)
      model->appendRow(rows->takeRow(0));
    QCOMPARE(late->selectedIds(), std::vector<uint32_t>{13});
    QVERIFY(window.pane(0)->selectedIds().empty());

    // The first pane with every command, for the review shot.
    window.pane(0)->setFilterHook([](bool) {});
    window.pane(0)->setFreezeHook([](bool) {});
    window.setActivePane(0);
    selectRows(window.pane(0), {1});
    QTemporaryDir dir;
    window.resize(520, 260);
    window.show();
    QVERIFY(window.grab().save(dir.filePath("tablewindow.png")));
    if (qEnvironmentVariableIsSet("KESTEL_PANE_SHOT"))
      window.grab().save(qEnvironmentVariable("KESTEL_PANE_SHOT"));
  }
};

KESTEL_GUI_TEST(TablePaneTest)

} // namespace kestel::gui

#include "TablePaneTest.moc"
