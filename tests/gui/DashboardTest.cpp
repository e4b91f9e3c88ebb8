// The dashboard against the simulator on loopback, its interface traffic and CPU load moving
// every 200 ms: applets follow a counter as text (the same text the member's column shows), a
// reported rate and a rate computed from a counter as graphs, and the CPU load from a settings
// page; the applet list survives a save and a restore of the session file, an applet whose
// menu this router lacks is kept with the reason, and "Remove" takes an applet and its record.
// The core headers come before Qt's, whose keyword macros (emit, slots) they would trip on.
#include "app/Dashboard.h"
#include "api/container/MapFactories.h"
#include "api/container/MapRegistry.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/SlotConvertors.h"
#include "support/SimClient.h"

#include "GuiTest.h"
#include "SampleModel.h"
#include "gui/ColourScheme.h"
#include "gui/DashboardWindow.h"
#include "gui/GraphWidget.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace kestel::gui {
namespace {

using test::SampleModel;

size_t shownSamples(const IGraphModel& graph) {
  size_t n = 0;
  for (const std::optional<double>& s : graph.samples())
    n += s ? 1 : 0;
  return n;
}

} // namespace

class DashboardTest : public QObject {
  Q_OBJECT
private slots:
  void init() { settingsRegistry().loadSettings("/nonexistent/kestel-test/settings.viw"); }

  void monitorsFollowTheRouter() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    SampleModel model;
    QVERIFY(model.ok);
    test::SimClient client(reactor, KESTEL_SIM_PATH, {"--live-values", "200"});
    QVERIFY(client.started());
    // The first from a table's row: the table's map, shared; the others by name.
    Expected<MenuRef> interfaces = findMenu("Interfaces");
    QVERIFY(interfaces);
    Reference<ObjectMap> map = createContainer(*static_cast<CMap*>(interfaces->type));
    map->open();
    QVERIFY(client.turnUntil([&] { return map->find(1) != nullptr; }));
    Dashboard dashboard;
    const Slot* txbytes = findField(*interfaces->type, "txbytes");
    QVERIFY(dashboard.addMonitor(map, *interfaces->type, 1, *txbytes).ok());
    for (const char* field : {"txrate", "txbps"})
      QVERIFY(dashboard.addMonitor({"Interfaces", 1, field}).ok());
    QVERIFY(dashboard.addMonitor({"Resources", kNoId, "cpuload"}).ok());
    DashboardWindow window(dashboard);
    window.resize(620, 400);
    window.show();
    QList<MonitorApplet*> applets = window.applets();
    QCOMPARE(applets.size(), 4);
    QVERIFY2(!applets[0]->graph(), "a counter is text");
    QVERIFY(applets[1]->graph() && applets[2]->graph() && applets[3]->graph());
    const auto& entries = dashboard.applets();
    QCOMPARE(entries[0].name, std::string("ether1 Tx Bytes"));
    QVERIFY((entries[0].target == MonitorTarget{"Interfaces", 1, "txbytes"}));
    QCOMPARE(entries[3].name, std::string("CPU Load"));

    // The counter's text moves with the router, and is what the member's column shows.
    QCOMPARE(getObjectMap(Path{20, 1}), static_cast<IGenericMap*>(map.get()));
    QString first = applets[0]->valueText();
    QVERIFY(client.turnUntil(
        [&] { return !applets[0]->valueText().isEmpty() && applets[0]->valueText() != first; }));
    std::shared_ptr<TableField> column = slotField(*txbytes);
    QCOMPARE(applets[0]->valueText(), QString::fromStdString(column->text(*map->find(1))));

    // The graphs fill once a second; the computed rate is what the router sent at.
    QVERIFY(client.turnUntil([&] {
      for (size_t i = 1; i < entries.size(); ++i)
        if (shownSamples(*entries[i].feed->graph()) < 3)
          return false;
      return true;
    }));
    for (size_t i = 1; i < entries.size(); ++i)
      QVERIFY2(!applets[int(i)]->valueText().isEmpty(), entries[i].name.c_str());
    double rate = *entries[2].feed->graph()->latest();
    // The simulator's rates stay within 8 kbit/s and 900 Mbit/s.
    QVERIFY2(rate >= 8000 * 0.9 && rate <= 900e6, std::to_string(rate).c_str());
    double load = *entries[3].feed->graph()->latest();
    QVERIFY(load >= 1 && load <= 99);
    QCOMPARE(entries[3].feed->graph()->scaleTop(), 100.0);
    QVERIFY2(applets[3]->valueText().endsWith("%"), qPrintable(applets[3]->valueText()));

    // A few more seconds of history for the review shots; Qt lays the labels out meanwhile.
    if (qEnvironmentVariableIsSet("KESTEL_SHOTS_DIR"))
      client.turnUntil([&] { return shownSamples(*entries[1].feed->graph()) >= 10; });
    QCoreApplication::processEvents();
    test::saveShot(window, "dashboard");
    QPalette light = QApplication::palette();
    QApplication::setPalette(darkPalette());
    QCoreApplication::processEvents();
    test::saveShot(window, "dashboard-dark");
    QApplication::setPalette(light);
  }

  void appletsComeBackFromTheSessionFile() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    SampleModel model;
    QVERIFY(model.ok);
    test::SimClient client(reactor, KESTEL_SIM_PATH, {"--live-values", "0"});
    QVERIFY(client.started());
    QTemporaryDir dir;
    std::string file = dir.filePath("session.viw").toStdString();
    {
      Dashboard dashboard;
      QVERIFY(dashboard.addMonitor({"Interfaces", 2, "rxrate"}, "uplink in").ok());
      QVERIFY(dashboard.addMonitor({"Resources", kNoId, "uptime"}).ok());
      QVERIFY(dashboard.addMonitor({"Interfaces", 1, "txbps"}).ok());
      QVERIFY2(!dashboard.addMonitor({"No Such Menu", 1, "x"}).ok(), "nothing to follow");
      QVERIFY(!dashboard.addMonitor({"Interfaces", 1, "nosuchfield"}).ok());
      QCOMPARE(dashboard.applets().size(), size_t(3));
      QVERIFY(settingsRegistry().saveSettings(file));
    }
    // A record naming a menu this router does not have, as an older session file might.
    QVERIFY(settingsRegistry().loadSettings(file));
    StringMap stray;
    stray.set("name", packData(std::string_view("gone")));
    stray.set("menu", packData(std::string_view("Wireless")));
    stray.set("obj", packData(7u));
    stray.set("field", packData(std::string_view("signal")));
    uint32_t strayId = settingsRegistry().registerSettings(stray, kAppletRecordFlags);
    StringMap* main = settingsRegistry().getSettings(0, nullptr, 0);
    std::vector<uint32_t> ids = unpackIds(main->get(kDashboardKey));
    QCOMPARE(ids.size(), size_t(3));
    ids.insert(ids.begin() + 1, strayId);
    main->set(kDashboardKey, packIds(ids));
    QVERIFY(settingsRegistry().saveSettings(file));

    QVERIFY(settingsRegistry().loadSettings(file));
    Dashboard restored;
    restored.restore();
    const auto& applets = restored.applets();
    QCOMPARE(applets.size(), size_t(4));
    QCOMPARE(applets[0].name, std::string("uplink in"));
    QVERIFY((applets[0].target == MonitorTarget{"Interfaces", 2, "rxrate"}));
    QCOMPARE(applets[1].name, std::string("gone"));
    QVERIFY(!applets[1].feed);
    QVERIFY(!applets[1].problem.empty());
    QCOMPARE(applets[2].name, std::string("Uptime"));
    QVERIFY((applets[3].target == MonitorTarget{"Interfaces", 1, "txbps"}));
    QVERIFY(applets[3].feed && applets[3].feed->kind() == MonitorKind::CounterRate);

    // "Remove" on an applet takes it and its record; the stray one stays listed.
    std::vector<uint32_t> records;
    for (const Dashboard::Applet& a : applets)
      records.push_back(a.record);
    DashboardWindow window(restored);
    window.show();
    MonitorApplet* uptime = window.applets()[2];
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            uptime->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(uptime, &event);
    auto* menu = uptime->findChild<QMenu*>();
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions()[0]->text(), QString("Remove"));
    menu->actions()[0]->trigger();
    QTRY_COMPARE(restored.applets().size(), size_t(3));
    QCOMPARE(window.applets().size(), 3);
    std::vector<uint32_t> left =
        unpackIds(settingsRegistry().getSettings(0, nullptr, 0)->get(kDashboardKey));
    QCOMPARE(left, (std::vector<uint32_t>{records[0], strayId, records[3]}));
    QVERIFY(!settingsRegistry().getSettings(records[2], nullptr, 0));
  }
};

KESTEL_GUI_TEST(DashboardTest)

} // namespace kestel::gui
#include "DashboardTest.moc"
