// The Changes window against the simulator on loopback: changes made through the session's log
// are listed as they are made and answered, those of a safe-mode session under their header;
// Undo and Revert go through the router (its listing, read with kestel-cli, is the oracle), and
// the exported script replayed with kestel-cli on a fresh simulator gives the same listing.
// The core headers come before Qt's, whose keyword macros (emit, slots) they would trip on.
#include "api/container/MapFactories.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "miw/SlotConvertors.h"
#include "support/ChangeReplay.h"
#include "support/SimClient.h"

#include "gui/ChangesWindow.h"

#include "GuiTest.h"
#include "SampleModel.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace kestel::gui {
namespace {

using test::SampleModel;

// The router's firewall as kestel-cli lists it (every field, as JSON).
std::string listing(int port) {
  return test::runCommand("KESTEL_PASSWORD=pw " KESTEL_CLI_PATH " 127.0.0.1:" +
                          std::to_string(port) + " admin ls Firewall --json </dev/null");
}

} // namespace

class ChangesWindowTest : public QObject {
  Q_OBJECT
private slots:
  void listsRevertsAndExports() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    SampleModel model;
    QVERIFY(model.ok);
    test::SimClient client(reactor, KESTEL_SIM_PATH, {});
    QVERIFY(client.started());
    Expected<MenuRef> menu = findMenu("IP/Firewall");
    QVERIFY(menu);
    const CType& type = *menu->type;
    const Slot* comment = findField(type, "comment");
    QVERIFY(comment);
    Reference<ObjectMap> map = createContainer(static_cast<CMap&>(*menu->type));
    map->open();
    map->refresh();
    QVERIFY(client.turnUntil([&] { return map->fetchState() == FetchState::Complete; }));
    std::vector<uint32_t> ids = map->ids();
    QVERIFY(ids.size() >= 3);

    ChangeLog log;
    UndoRedo history(&log);
    SafeMode safe(nullptr, &log);
    ChangesWindow window(log, history, nullptr, [](int64_t ms) {
      return "12:00:" + std::to_string(10 + ms % 50); // steady texts for the review shot
    });
    window.resize(900, 320);
    window.show();
    QVERIFY(!window.undoButton()->isEnabled() && !window.exportButton()->isEnabled());

    auto change = [&](uint32_t id, const std::string& text) {
      IObject* object = map->find(id);
      ObjectValues before = objectValues(*object, type);
      (void)setFieldText(*object, *comment, text);
      size_t n = log.commit(*map, menu->name, type, object, std::move(before));
      bool answered = client.turnUntil([&] { return log.find(n)->state != ChangeState::Waiting; });
      return answered ? n : 0;
    };
    size_t first = change(ids[0], "uplink to the core");
    QVERIFY(first != 0);
    std::string afterFirst = listing(client.port());
    safe.enable();
    QVERIFY(client.turnUntil([&] { return safe.id() != kNoSafeMode; }));
    size_t second = change(ids[1], "lab traffic");
    size_t third = change(ids[2], "guests");
    QVERIFY(second != 0 && third != 0);

    // One change on its own, then the safe-mode session's header with its two changes.
    QTreeWidget* list = window.list();
    QCOMPARE(list->topLevelItemCount(), 2);
    QTreeWidgetItem* header = list->topLevelItem(1);
    QCOMPARE(header->text(1), QString("Safe Mode session (2 changes)"));
    QCOMPARE(header->childCount(), 2);
    QVERIFY(header->child(0)->text(3).endsWith(" -> lab traffic"));
    QCOMPARE(header->child(1)->text(4), QString("done"));
    QVERIFY(window.undoButton()->isEnabled() && !window.redoButton()->isEnabled());
    QVERIFY(!window.revertButton()->isEnabled()); // nothing selected
    window.selectChange(second);
    QVERIFY(window.revertButton()->isEnabled());
    test::saveShot(window, "changes-window");

    // Undo through the router, then Redo.
    QTest::mouseClick(window.undoButton(), Qt::LeftButton);
    QVERIFY(!window.undoButton()->isEnabled()); // while the router answers
    QVERIFY(client.turnUntil([&] { return history.waiting() == 0; }));
    QCOMPARE(list->topLevelItem(1)->child(1)->text(4), QString("undone"));
    QVERIFY(window.redoButton()->isEnabled());
    QTest::mouseClick(window.redoButton(), Qt::LeftButton);
    QVERIFY(client.turnUntil([&] { return history.waiting() == 0; }));
    QCOMPARE(list->topLevelItem(1)->child(1)->text(4), QString("done"));

    // Revert the second and the third: the router holds what it held after the first change.
    for (size_t number : {second, third}) {
      window.selectChange(number);
      QTest::mouseClick(window.revertButton(), Qt::LeftButton);
      QVERIFY(window.problem().isEmpty());
      size_t made = log.records().size();
      QVERIFY(client.turnUntil([&] { return log.find(made)->state != ChangeState::Waiting; }));
      QCOMPARE(log.find(made)->reverts, number);
    }
    QCOMPARE(window.selectedChange(), third); // kept across the list's updates
    QVERIFY(!window.revertButton()->isEnabled());
    QCOMPARE(listing(client.port()), afterFirst);
    QCOMPARE(list->topLevelItem(1)->childCount(), 4);

    // The exported script makes the same changes on a fresh router.
    std::string routerNow = listing(client.port());
    QTemporaryDir folder;
    std::string script = folder.filePath("changes.sh").toStdString();
    QVERIFY(window.exportTo(QString::fromStdString(script)));
    test::SimProcess fresh(KESTEL_SIM_PATH, {"--user", "admin:pw"});
    QVERIFY(fresh.port != 0);
    std::string ran = test::replayChangeScript(script, fresh.port, KESTEL_CLI_PATH);
    QVERIFY2(ran.find("exit 0") != std::string::npos, ran.c_str());
    QCOMPARE(listing(fresh.port), routerNow);

    // A folder that is not there: the window says so and keeps going.
    QVERIFY(!window.exportTo("/nonexistent/kestel/changes.sh"));
    QVERIFY(window.problem().startsWith("Couldn't export the changes: "));
    safe.disable();
    QVERIFY(client.turnUntil([&] { return safe.waiting() == 0; }));
  }
};

KESTEL_GUI_TEST(ChangesWindowTest)

} // namespace kestel::gui

#include "ChangesWindowTest.moc"
