// The session window against the simulator's router served in-process over loopback on the
// test's manual clock: the loader's ReadyStep logs in and loads the sample descriptors (plus a
// small document of the status items), and the window takes the session from there. The oracle
// for safe mode, Undo and Redo is the router's own store.
#include "api/container/ObjectMap.h"
#include "api/net/Looper.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/net/SecureSession.h"
#include "api/wire/StatusVocabulary.h"
#include "app/ChangeLog.h"
#include "app/CommandLine.h"
#include "app/Dashboard.h"
#include "app/DefaultConfig.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"
#include "app/ReadyStep.h"
#include "app/SafeMode.h"
#include "app/SessionLink.h"
#include "gen/ModelContext.h"
#include "miw/SlotConvertors.h"
#include "miw/TablePaneActions.h"
#include "sim/MenuCatalogue.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"
#include "util/Log.h"

#include "GuiTest.h"
#include "gui/ActionWindow.h"
#include "gui/DashboardWindow.h"
#include "gui/Desktop.h"
#include "gui/SessionOpeners.h"
#include "gui/SessionWindow.h"
#include "gui/TableWindow.h"
#include "gui/Toolkit.h"

#include <QAbstractButton>
#include <QDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <fstream>

namespace kestel::gui {
namespace {

// Status items at (24, 0) and (24, 2) as a router's descriptors give them.
struct Boxes final : MessageBoxSink {
  void showMessageBox(const std::string& title, const std::string& text) override {
    shown.push_back(title + ": " + text);
  }
  std::vector<std::string> shown;
};

// A second client of the router that takes safe mode from the window.
class OtherClient {
public:
  OtherClient(PollReactor& reactor, uint16_t port) : connection_(createConnection(reactor)) {
    SessionHooks hooks;
    hooks.deliver = [this](const nv::message& m) {
      if (m.get(SYS_TYPE) == TYPE_REPLY)
        replies.push_back(m);
    };
    hooks.probe = [] {};
    session_ = makeRef<SecureSession>(reactor, *connection_, hooks);
    connection_->connect("127.0.0.1", port);
    session_->start("admin", "pw", nullptr);
  }
  ~OtherClient() {
    session_->stop();
    connection_->close(CloseMode::Now);
  }
  void takeSafeMode() {
    nv::message m;
    m.set(SYS_TO, std::vector<uint32_t>{17});
    m.set(SYS_FROM, std::vector<uint32_t>{0, 5});
    m.set(SYS_CMD, CMD_SAFEMODE_ON);
    m.set(SYS_REPLYEXP, true);
    m.set(SYS_REQID, 1u);
    session_->post(m);
  }
  std::vector<nv::message> replies;

private:
  Reference<IConnection> connection_;
  Reference<SecureSession> session_;
};

QMessageBox* openBox(QWidget& window) {
  for (QMessageBox* box : window.findChildren<QMessageBox*>())
    if (box->isVisible())
      return box;
  return nullptr;
}

QTreeWidgetItem* launcherItem(QTreeWidget& tree, const QString& group, const QString& entry) {
  for (int i = 0; i < tree.topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = tree.topLevelItem(i);
    if (group.isEmpty() && top->text(0) == entry)
      return top;
    if (top->text(0) != group)
      continue;
    for (int j = 0; j < top->childCount(); ++j)
      if (top->child(j)->text(0) == entry)
        return top->child(j);
  }
  return nullptr;
}

} // namespace

class SessionWindowTest : public QObject {
  Q_OBJECT

  // ---- the router

  void startRouter() {
    server = std::make_unique<sim::SimServer>(*reactor);
    login = std::make_unique<sim::RouterLogin>();
    login->addUser("admin", "pw");
    login->install(*server);
    catalogue = std::make_unique<sim::MenuCatalogue>(*reactor, sim::CatalogueOptions{});
    std::string error;
    QVERIFY2(catalogue->install(*login, error), error.c_str());
    // The router's status objects with values the test sets.
    login->addHandler({24, 0}, [](const sim::RouterRequest&) {
      nv::message m;
      m.set(status::kDate, 1704412800u); // Jan/05/2024
      m.set(status::kTime, 13u * 3600 + 4 * 60 + 5);
      return std::optional<nv::message>(m);
    });
    login->addHandler({24, 2}, [this](const sim::RouterRequest&) {
      nv::message m;
      m.set(status::kCpu, 7u);
      m.set(status::kMemory, uint64_t(64) * 1024 * 1024);
      m.set(status::kUptime, uptime);
      return std::optional<nv::message>(m);
    });
    login->addHandler({24, 3}, [this](const sim::RouterRequest& r) {
      nv::message m;
      if (r.message.get(SYS_CMD) == status::kRemoveCommand) {
        ++removals;
      } else if (offerNote) {
        m.set(DefaultConfig::kNote, "This router runs its factory setup.");
        m.set(DefaultConfig::kScript, "/ip address add address=192.168.88.1/24");
      }
      return std::optional<nv::message>(m);
    });
    auto bound = server->listen(0);
    QVERIFY(bound.ok());
    port = *bound;
  }

  // Logs in as the loader does and makes the window.
  void openWindow(nv::message extra = {}) {
    ReadyRequest request;
    request.connect = ConnectRequest{"127.0.0.1", port, "admin", "pw", false, false};
    request.appData = ss(home->path());
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      request.explicitFiles.push_back(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name);
    std::optional<ReadyOutcome> outcome;
    auto step = makeRef<ReadyStep>(
        *reactor, request, [](const std::string&) {}, [&](const ReadyOutcome& o) { outcome = o; });
    step->start();
    QVERIFY(drive([&] { return outcome.has_value(); }));
    QVERIFY2(outcome->ok, outcome->error.c_str());
    nv::message parameters = extra;
    parameters.set(param::kAddress, "127.0.0.1:" + std::to_string(port));
    parameters.set(param::kLogin, "admin");
    parameters.set(param::kCommandLineSession, ss(home->path()) + "/sessions/first");
    window = std::make_unique<SessionWindow>(parameters, SessionLink::fromReady(step));
    window->setProcessStarter(
        [this](const std::vector<std::string>& arguments, const nv::message* parameters) {
          started.push_back({arguments, parameters ? *parameters : nv::message()});
          return true;
        });
    window->resize(1100, 700);
    window->show();
  }

  bool drive(const std::function<bool()>& done, int64_t stepMs = 10) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < limit) {
      reactor->runOnce(1);
      reactor->advance(stepMs);
      QCoreApplication::processEvents();
    }
    return done();
  }
  void pass(int64_t ms) {
    const int64_t until = reactor->now() + ms;
    drive([&] { return reactor->now() >= until; });
  }

  TableWindow* openTable(const QString& group, const QString& entry) {
    // The launcher is filled by the window's start steps.
    drive([&] { return window->launcherTree()->topLevelItemCount() > 1; }, 0);
    QTreeWidgetItem* item = launcherItem(*window->launcherTree(), group, entry);
    if (!item)
      return nullptr;
    window->launcherTree()->itemClicked(item, 0);
    std::vector<QWidget*> open = window->sessionDesktop().contents();
    return open.empty() ? nullptr : qobject_cast<TableWindow*>(open.front());
  }

  // Every object of the router's store, in order.
  std::vector<nv::message> routerObjects(const char* name) {
    sim::MenuStore* store = catalogue->store(name);
    std::vector<nv::message> out;
    for (size_t i = 0; i < store->size(); ++i)
      out.push_back(store->get(store->idAt(i)));
    return out;
  }

  // Sets the comment of the first address through the session's change log.
  size_t editAddress(TableWindow& table, const std::string& comment) {
    ObjectMap& map = table.pane(0)->map();
    CType* type = findMenu("IP/Addresses")->type;
    IObject* first = nullptr;
    map.store().forEach([&](uint32_t, IObject& o) {
      if (!first)
        first = &o;
    });
    if (!first)
      return 0;
    ObjectValues before = objectValues(*first, *type);
    if (!setFieldText(*first, *findField(*type, "comment"), comment).ok())
      return 0;
    size_t n = window->changeLog().commit(map, "IP/Addresses", *type, first, std::move(before));
    drive([&] { return window->changeLog().find(n)->state != ChangeState::Waiting; });
    return n;
  }

  // Opens the addresses table and commits it once unchanged (a commit sends every field, so
  // the router's copy may gain fields); returns the table, its rows arrived.
  TableWindow* addressesReady() {
    TableWindow* table = openTable("IP", "Addresses");
    if (!table || !drive([&] { return table->pane(0)->map().size() > 0; }))
      return nullptr;
    ObjectMap& map = table->pane(0)->map();
    IObject* first = nullptr;
    map.store().forEach([&](uint32_t, IObject& o) {
      if (!first)
        first = &o;
    });
    bool told = false;
    struct Told final : IChangeListener {
      bool* flag;
      explicit Told(bool* f) : flag(f) {}
      void changeDone(IObject*, ChangeResult) override { *flag = true; }
    };
    auto listener = makeRef<Told>(&told);
    map.commit(first, listener.get());
    drive([&] { return told; });
    return table;
  }

private slots:
  void init() {
    home = std::make_unique<QTemporaryDir>();
    qputenv("KESTEL_HOME", home->path().toUtf8());
    resetLooper();
    model = std::make_unique<ModelContext>();
    modelScope = std::make_unique<ModelScope>(*model);
    installSlotConvertors();
    reactor = std::make_unique<PollReactor>(PollReactor::Clock::Manual);
    scope = std::make_unique<ReactorScope>(*reactor);
    boxScope = std::make_unique<MessageBoxScope>(boxes);
    boxes.shown.clear();
    started.clear();
    removals = 0;
    offerNote = false;
    uptime = 3600;
    startRouter();
  }
  void cleanup() {
    window.reset();
    pass(100);
    catalogue.reset();
    login.reset();
    server.reset();
    boxScope.reset();
    resetLooper();
    scope.reset();
    reactor.reset();
    modelScope.reset();
    model.reset();
    home.reset();
    setZoom(100);
  }

  void titleLauncherAndStatusBar() {
    CaptureLogSink log;
    offerNote = true;
    openWindow();
    QCOMPARE(window->objectName(), QString("nimbalux_main"));
    const QString address = "127.0.0.1:" + QString::number(port);
    QCOMPARE(window->windowTitle(), "admin@" + address + " - Kestel (64bit)");
    QVERIFY(drive([&] { return !window->connectionStatus().isEmpty(); }, 0));
    QVERIFY(window->connectionStatus().startsWith("Retrieving preferences from 127.0.0.1 (port "));
    QVERIFY(drive([&] { return window->windowTitle().contains(" v"); }));
    QVERIFY2(window->windowTitle().startsWith("admin@" + address + " (Router) - Kestel (64bit) v"),
             qPrintable(window->windowTitle()));
    QVERIFY(window->connectionStatus().isEmpty());

    // The launcher: "New Kestel" first, then the sample's services and groups.
    QTreeWidget& tree = *window->launcherTree();
    QCOMPARE(tree.topLevelItem(0)->text(0), QString("New Kestel"));
    QVERIFY(launcherItem(tree, {}, "Interfaces"));
    QVERIFY(launcherItem(tree, "IP", "Addresses"));
    QVERIFY(launcherItem(tree, "IP", "Firewall"));
    QVERIFY(!launcherItem(tree, "IP", "No Such Menu"));
    tree.itemClicked(tree.topLevelItem(0), 0);
    QCOMPARE(started.size(), size_t(1));
    QCOMPARE(started[0].first, std::vector<std::string>{"kestel"});

    // The status bar follows the holders of (24, 0) and (24, 2); the uptime counts on.
    QVERIFY2(drive([&] { return !window->statusField("Uptime").isEmpty(); }),
             qPrintable(window->statusField("Time") + "|" + window->statusField("CPU Load")));
    QCOMPARE(window->statusField("Time"), QString("13:04:05"));
    QCOMPARE(window->statusField("Date"), QString("Jan/05/2024"));
    QCOMPARE(window->statusField("CPU Load"), QString("7"));
    QVERIFY(!window->statusField("Free Memory").isEmpty());
    QCOMPARE(window->statusField("Uptime"), QString("01:00:00"));
    uptime = 4000; // the router rebooted... or its clock moved: the boot time follows
    QVERIFY(drive([&] { return log.contains("INF: updating bootTime "); }));

    // The default configuration: the note with the three buttons; removing asks the router.
    auto* note = window->findChild<QDialog*>("nimbalux_defconf");
    QVERIFY(note && note->isVisible());
    QCOMPARE(note->windowTitle(), QString("Nimbalux Default Configuration"));
    QStringList buttons;
    for (QPushButton* b : note->findChildren<QPushButton*>())
      buttons << b->text();
    buttons.sort();
    QCOMPARE(buttons, (QStringList{"OK", "Remove Configuration", "Show Script..."}));
    test::saveShot(*note, "session-default-config");
    for (QPushButton* b : note->findChildren<QPushButton*>())
      if (b->text() == "Remove Configuration")
        b->click();
    QVERIFY(drive([&] { return removals == 1; }));
    QVERIFY(boxes.shown.empty());
  }

  void opensWindowsFromTheLauncher() {
    openWindow();
    TableWindow* table = openTable("IP", "Addresses");
    QVERIFY(table);
    QVERIFY(table->paneCount() >= 1);
    QVERIFY(drive([&] { return table->pane(0)->map().size() > 0; }));
    QCOMPARE(table->pane(0)->map().size(), catalogue->store("addresses")->size());
    QCOMPARE(openTable("IP", "Addresses"), table); // raised, not opened twice
    QCOMPARE(window->sessionDesktop().windowCount(), size_t(1));
    // An alias opens the window it names, at its tab.
    QTreeWidgetItem* alias = launcherItem(*window->launcherTree(), "IP", "Neighbors");
    QVERIFY(alias);
    window->launcherTree()->itemClicked(alias, 0);
    QCOMPARE(window->sessionDesktop().windowCount(), size_t(2));
    auto* neighbours = qobject_cast<TableWindow*>(window->sessionDesktop().contents().front());
    QVERIFY(neighbours && neighbours != table);
    window->sessionDesktop().contents().front()->parentWidget()->close();
    QCOMPARE(window->sessionDesktop().windowCount(), size_t(1));
    pass(300);
    test::saveShot(*window, "session-window");

    // A kind nobody opens yet says so; once an opener is registered it gets the session.
    QTreeWidgetItem* ping = nullptr;
    for (const char* group : {"Tools", ""})
      if (!ping)
        ping = launcherItem(*window->launcherTree(), group, "Ping");
    QVERIFY(ping);
    window->launcherTree()->itemClicked(ping, 0);
    QMessageBox* box = openBox(*window);
    QVERIFY(box);
    QVERIFY2(box->text().contains("\"Ping\" cannot be opened"), qPrintable(box->text()));
    box->button(QMessageBox::Ok)->click();
    WindowContext seen;
    window->setTypeOpener(TypeKind::Action,
                          [&](CType& type, const WindowContext& context) -> QWidget* {
                            seen = context;
                            return new QLabel(qs(type.title()));
                          });
    window->launcherTree()->itemClicked(ping, 0);
    QCOMPARE(window->sessionDesktop().windowCount(), size_t(2));
    QCOMPARE(window->sessionDesktop().contents().front()->parentWidget()->windowTitle(),
             QString("Ping"));
    QCOMPARE(seen.changes, &window->changeLog());
    QCOMPARE(seen.desktop, &window->desktop());
  }

  void installedOpenersGiveEachWindowOneFrame() {
    openWindow();
    installWindowOpeners(*window);
    QTreeWidgetItem* ping = nullptr;
    QVERIFY(drive([&] {
      for (const char* group : {"Tools", ""})
        if (!ping)
          ping = launcherItem(*window->launcherTree(), group, "Ping");
      return ping != nullptr;
    }));
    window->launcherTree()->itemClicked(ping, 0);
    QCOMPARE(window->sessionDesktop().windowCount(), size_t(1));
    auto* action = qobject_cast<ActionWindow*>(window->sessionDesktop().contents().front());
    QVERIFY(action);
    auto* frame = qobject_cast<QMdiSubWindow*>(action->parentWidget());
    QVERIFY(frame);
    QCOMPARE(frame->mdiArea(), &window->desktop());
    // Its Close button takes the desktop's frame with it.
    for (QPushButton* button : action->findChildren<QPushButton*>())
      if (button->text() == "Close")
        button->click();
    QVERIFY(drive([&] { return window->sessionDesktop().windowCount() == 0; }));

    // A table's object opens in an editor on the same desktop; the window goes with it open.
    TableWindow* table = openTable("IP", "Addresses");
    QVERIFY(table && drive([&] { return table->pane(0)->map().size() > 0; }));
    ObjectMap& map = table->pane(0)->map();
    IObject* first = nullptr;
    map.store().forEach([&](uint32_t, IObject& o) {
      if (!first)
        first = &o;
    });
    QVERIFY(window->context().editors);
    int frames = int(window->desktop().subWindowList().size());
    window->context().editors->openObjectEditor(map, *first, false);
    QCOMPARE(int(window->desktop().subWindowList().size()), frames + 1);
    test::saveShot(*window, "session-window-editor");

    // A row's value goes to the dashboard, which opens with its monitor.
    TablePane* pane = table->pane(0);
    pane->selectObject(first->getID());
    QAction* monitor = nullptr;
    std::unique_ptr<QMenu> menu(pane->contextMenu());
    for (QAction* a : menu->actions())
      if (a->text() == "Add to Dashboard...")
        monitor = a;
    QVERIFY(monitor);
    monitor->trigger();
    auto* ask = window->findChild<QInputDialog*>();
    QVERIFY(ask);
    ask->setTextValue("Address");
    ask->accept();
    QCOMPARE(dashboardOf(window->desktop()).applets().size(), size_t(1));
    QVERIFY(
        drive([&] { return !dashboardOf(window->desktop()).applets()[0].feed->text().empty(); }));
  }

  void safeModeRollsBackWhenTheSessionEnds() {
    openWindow();
    TableWindow* table = addressesReady();
    QVERIFY(table);
    std::vector<nv::message> original = routerObjects("addresses");
    QAction* safe = window->action(session_cmd::kSafeMode);
    safe->trigger();
    QVERIFY(safe->isChecked());
    QVERIFY(drive([&] { return window->safeMode().id() != kNoSafeMode; }));
    size_t n = editAddress(*table, "while in safe mode");
    QCOMPARE(window->changeLog().find(n)->safeMode, window->safeMode().id());
    QVERIFY(routerObjects("addresses") != original);

    // Quitting asks; "No" keeps the window and safe mode.
    window->close();
    QMessageBox* question = openBox(*window);
    QVERIFY(question);
    QCOMPARE(question->text(),
             QString("You are in Safe Mode.  Quitting will unroll changes. Quit?"));
    question->button(QMessageBox::No)->click();
    QVERIFY(window->isVisible());
    QVERIFY(window->safeMode().on());
    window->close();
    openBox(*window)->button(QMessageBox::Yes)->click();
    QVERIFY(!window->isVisible());
    // The connection is gone: the router rolls the session's changes back.
    QVERIFY(drive([&] { return routerObjects("addresses") == original; }));
    QVERIFY(started.empty());
  }

  void safeModeReleasedByAnotherClient() {
    openWindow();
    window->action(session_cmd::kSafeMode)->trigger();
    QVERIFY(drive([&] { return window->safeMode().id() != kNoSafeMode; }));
    OtherClient other(*reactor, port);
    other.takeSafeMode();
    QVERIFY(drive([&] { return !window->safeMode().on(); }));
    QVERIFY(!window->action(session_cmd::kSafeMode)->isChecked());
    QCOMPARE(boxes.shown, std::vector<std::string>{"Info: Safe Mode released by other process"});

    // Switched on and off again by the user: the router releases it, nothing is shown.
    boxes.shown.clear();
    QVERIFY(drive([&] { return !other.replies.empty(); }));
    window->action(session_cmd::kSafeMode)->trigger();
    QVERIFY(drive([&] { return window->safeMode().id() != kNoSafeMode; }));
    window->action(session_cmd::kSafeMode)->trigger();
    QVERIFY(window->action(session_cmd::kSafeMode)->isChecked()); // until the router answers
    QVERIFY(drive([&] { return !window->safeMode().on(); }));
    QVERIFY(!window->action(session_cmd::kSafeMode)->isChecked());
    QVERIFY(boxes.shown.empty());
  }

  void undoAndRedo() {
    openWindow();
    window->action(session_cmd::kUndo)->trigger(); // nothing done yet
    QVERIFY(drive([&] { return !boxes.shown.empty(); }));
    QVERIFY2(boxes.shown[0].rfind("Nimbalux Kestel Error: Could not Undo - ", 0) == 0,
             boxes.shown[0].c_str());
    TableWindow* table = addressesReady();
    QVERIFY(table);
    std::vector<nv::message> original = routerObjects("addresses");
    size_t n = editAddress(*table, "undo me");
    std::vector<nv::message> changed = routerObjects("addresses");
    QVERIFY(changed != original);
    window->action(session_cmd::kUndo)->trigger();
    QVERIFY(drive([&] { return routerObjects("addresses") == original; }));
    QVERIFY(drive([&] { return window->changeLog().find(n)->undone; }));
    window->action(session_cmd::kRedo)->trigger();
    QVERIFY(drive([&] { return routerObjects("addresses") == changed; }));
    QVERIFY(drive([&] { return !window->changeLog().find(n)->undone; }));
  }

  void sessionFileReopensTheSameWindows() {
    openWindow();
    QVERIFY(openTable("IP", "Addresses"));
    QVERIFY(openTable("IP", "Firewall"));
    window->action(session_cmd::kInlineComments)->trigger();
    window->action(session_cmd::kZoomIn)->trigger();
    const std::string path = ss(home->path()) + "/saved.viw";
    QVERIFY(window->saveSession(path));
    QVERIFY(window->saveSession(path)); // saving again must not pile up window records
    const size_t records = window->settings().size();
    QVERIFY(window->saveSession(path));
    QCOMPARE(window->settings().size(), records);
    auto titles = [&] {
      QStringList out;
      for (QWidget* w : window->sessionDesktop().contents())
        out << w->windowTitle();
      return out;
    };
    const QStringList before = titles();
    QCOMPARE(before.size(), 2);

    window->action(session_cmd::kCloseAll)->trigger();
    window->action(session_cmd::kInlineComments)->trigger();
    window->action(session_cmd::kZoomOut)->trigger();
    QCOMPARE(window->sessionDesktop().windowCount(), size_t(0));
    QVERIFY(window->loadSession(path));
    QVERIFY(drive([&] { return window->sessionDesktop().windowCount() == 2; }));
    QCOMPARE(titles(), before);
    QVERIFY(window->inlineComments());
    QCOMPARE(window->flags().zoomStep, 1);
    QCOMPARE(zoom(), 110);
    QVERIFY(!window->hidePasswords());
  }

  void losingTheConnectionHandsBackToALoader() {
    openWindow();
    QVERIFY(openTable("IP", "Addresses"));
    window->move(40, 30);
    server->dropAll();
    QVERIFY(drive([&] { return !started.empty(); }));
    QCOMPARE(started[0].first, (std::vector<std::string>{"kestel", "-"}));
    const nv::message& loader = started[0].second;
    QVERIFY(loader.get(param::kDisconnected));
    QVERIFY(!loader.has(param::kNoAutoConnect));
    QCOMPARE(loader.get(param::kOffsetX), uint32_t(window->x()));
    QCOMPARE(loader.get(param::kOffsetY), uint32_t(window->y()));
    QCOMPARE(loader.get(param::kAddress), "127.0.0.1:" + std::to_string(port));
    QVERIFY(!window->isVisible());
    // The session was saved first, with the window that was open.
    QVERIFY(QFile::exists(home->path() + "/sessions/first.viw"));
  }

  void disconnectAsksForAnIdleLoader() {
    openWindow();
    window->action(session_cmd::kDisconnect)->trigger();
    QCOMPARE(started.size(), size_t(1));
    QVERIFY(started[0].second.get(param::kNoAutoConnect));
    QVERIFY(!started[0].second.has(param::kDisconnected));
    QVERIFY(!window->isVisible());
  }

  void passwordChangePromptOpensChangeNow() {
    nv::message extra;
    extra.set(kPasswordChangeDue, true);
    openWindow(extra);
    // Openers registered right after the window is made are there when it starts.
    std::string opened;
    window->setTypeOpener(TypeKind::Item, [&](CType& type, const WindowContext&) -> QWidget* {
      opened = type.title();
      return new QLabel("password");
    });
    QVERIFY(drive([&] { return !opened.empty(); }));
    QCOMPARE(opened, std::string("Change Now"));
    QCOMPARE(window->sessionDesktop().windowCount(), size_t(1));
  }

public:
  std::unique_ptr<QTemporaryDir> home;
  std::unique_ptr<ModelContext> model;
  std::unique_ptr<ModelScope> modelScope;
  std::unique_ptr<PollReactor> reactor;
  std::unique_ptr<ReactorScope> scope;
  Boxes boxes;
  std::unique_ptr<MessageBoxScope> boxScope;
  std::unique_ptr<sim::SimServer> server;
  std::unique_ptr<sim::RouterLogin> login;
  std::unique_ptr<sim::MenuCatalogue> catalogue;
  uint16_t port = 0;
  uint32_t uptime = 3600;
  int removals = 0;
  bool offerNote = false;
  std::unique_ptr<SessionWindow> window;
  std::vector<std::pair<std::vector<std::string>, nv::message>> started;
};

KESTEL_GUI_TEST(SessionWindowTest)

} // namespace kestel::gui

#include "SessionWindowTest.moc"
