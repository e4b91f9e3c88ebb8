// The action window and the one-command window against the simulator's ping action and reboot
// command (in-process, loopback, manual clock): a ping run to its end with its echoes shown, the
// title and focus while running, a run that never ends stopped by Stop and by closing the window
// (the router sees the cancel both times), a window made to close when done, refusals by the
// router and by a field's check with the user's input kept, and the reboot's confirmation.
// The container headers before Qt's: they declare emit(), which Qt's keyword of that name breaks.
#include "api/container/DescriptorContainers.h"
#include "gen/CType.h"

#include "LiveRouter.h"

#include "GuiTest.h"
#include "gui/ActionWindow.h"
#include "gui/Desktop.h"
#include "gui/DoitWindow.h"
#include "gui/SlotForm.h"
#include "gui/Toolkit.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace kestel::gui {
namespace {

// The open message box of the toolkit, if any.
QMessageBox* openBox() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
      return box;
  return nullptr;
}

void typeInto(SlotForm* form, const char* field, const QString& text) {
  auto* view = dynamic_cast<TextView*>(form->view(field));
  QVERIFY2(view, field);
  view->editor()->selectAll();
  QTest::keyClicks(view->editor(), text);
}

QString shown(SlotForm* form, const char* field) {
  auto* view = dynamic_cast<ReadOnlyView*>(form->view(field));
  return view ? view->text() : QString("(no view %1)").arg(field);
}

ActionWindow* pingWindow(test::LiveRouter& router, CloseWhenDone closeWhenDone) {
  auto& type = static_cast<CAction&>(*router.menu("Ping"));
  auto* window = new ActionWindow(type, createObjectAction(type), closeWhenDone);
  window->resize(420, 360);
  window->show();
  QApplication::setActiveWindow(window);
  return window;
}

} // namespace

class ActionWindowTest : public QObject {
  Q_OBJECT

private slots:
  void pingRunsToItsEnd() {
    test::LiveRouter router;
    QVERIFY(router.ready());
    QPointer<ActionWindow> w = pingWindow(router, CloseWhenDone::No);
    QCOMPARE(w->windowTitle(), QString("Ping"));
    QVERIFY(w->startButton()->isEnabled());
    QVERIFY(!w->stopButton()->isEnabled());
    typeInto(w->parameters(), "to", "192.0.2.1");
    typeInto(w->parameters(), "count", "3");
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return shown(w->status(), "status") == "echo reply 1 of 3"; }));
    QCOMPARE(w->windowTitle(), QString("Ping (Running)"));
    QVERIFY(!w->startButton()->isEnabled());
    QVERIFY(w->stopButton()->isEnabled());
    QVERIFY(w->stopButton()->hasFocus());
    QCOMPARE(shown(w->status(), "host"), QString("192.0.2.1"));
    test::saveShot(*w, "action-running");
    // The router makes an echo a second; the window polls twice a second (the descriptor's 500).
    router.advance(1000);
    QVERIFY(router.runUntil([&] { return shown(w->status(), "status") == "echo reply 2 of 3"; }));
    router.advance(1000);
    QVERIFY(router.runUntil([&] { return !w->action().running(); }));
    QCOMPARE(shown(w->status(), "status"), QString("3 sent, 3 received, 0% packet loss"));
    QCOMPARE(w->windowTitle(), QString("Ping"));
    QVERIFY(w->startButton()->isEnabled());
    QVERIFY(w->startButton()->hasFocus());
    QCOMPARE(router.catalogue->ping().runCount(), size_t(0));
    QVERIFY(router.boxes.texts.empty());
    delete w;
  }

  void endlessRunStoppedAndClosed() {
    test::LiveRouter router;
    QVERIFY(router.ready());
    QPointer<ActionWindow> w = pingWindow(router, CloseWhenDone::No);
    typeInto(w->parameters(), "to", "198.18.0.1");
    typeInto(w->parameters(), "count", "0"); // until stopped
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return shown(w->status(), "status") == "echo reply 1"; }));
    router.advance(5000);
    QVERIFY(router.runUntil([&] { return shown(w->status(), "status") == "echo reply 6"; }));
    QVERIFY(w->action().running());
    QCOMPARE(router.catalogue->ping().runCount(), size_t(1));
    QTest::mouseClick(w->stopButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return !w->action().running(); }));
    QCOMPARE(router.catalogue->ping().runCount(), size_t(0)); // cancelled on the router
    QCOMPARE(w->windowTitle(), QString("Ping"));
    QVERIFY(w->startButton()->hasFocus());

    // Closing the window while it runs cancels the run too.
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return router.catalogue->ping().runCount() == 1; }));
    QTest::mouseClick(w->closeButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return w.isNull(); }));
    QVERIFY(router.runUntil([&] { return router.catalogue->ping().runCount() == 0; }));
    QVERIFY(router.boxes.texts.empty());
  }

  void closesWhenDone() {
    test::LiveRouter router;
    QVERIFY(router.ready());
    QPointer<ActionWindow> w = pingWindow(router, CloseWhenDone::Yes);
    typeInto(w->parameters(), "to", "192.0.2.7");
    typeInto(w->parameters(), "count", "1");
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return w.isNull(); }));
    QCOMPARE(router.catalogue->ping().runCount(), size_t(0));
  }

  void runsInADesktopFrame() {
    test::LiveRouter router;
    QVERIFY(router.ready());
    SettingsRegistry settings;
    QMainWindow main;
    auto* desktop = new Desktop(
        &main, nullptr, [](unsigned) { return QIcon(); }, settings);
    main.setCentralWidget(desktop);
    main.resize(800, 600);
    main.show();
    QPointer<QWidget> content = createActionWindow(*router.menu("Ping"), WindowContext{desktop});
    auto* w = qobject_cast<ActionWindow*>(content.data());
    QVERIFY(w);
    QPointer<QMdiSubWindow> frame = qobject_cast<QMdiSubWindow*>(w->parentWidget());
    QVERIFY(frame);
    QVERIFY(frame->isVisible());
    QCOMPARE(frame->windowTitle(), QString("Ping"));
    typeInto(w->parameters(), "to", "192.0.2.1");
    typeInto(w->parameters(), "count", "2");
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    QCOMPARE(frame->windowTitle(), QString("Ping (Running)"));
    QVERIFY(router.runUntil([&] { return shown(w->status(), "status") == "echo reply 1 of 2"; }));
    router.advance(1000);
    QVERIFY(router.runUntil([&] { return !w->action().running(); }));
    QCOMPARE(frame->windowTitle(), QString("Ping"));
    // Close takes the frame with it, not just the content.
    QTest::mouseClick(w->closeButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return frame.isNull() && content.isNull(); }));
    QVERIFY(desktop->windowsTopFirst().empty());
  }

  void refusalsKeepTheInput() {
    test::LiveRouter router;
    QVERIFY(router.ready());
    QPointer<ActionWindow> w = pingWindow(router, CloseWhenDone::Yes);
    // A field that fails its check: its error, nothing sent, the text stays.
    typeInto(w->parameters(), "to", "192.0.2.300");
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    QMessageBox* box = openBox();
    QVERIFY(box);
    QVERIFY2(box->text().contains("ip address expected"), qPrintable(box->text()));
    box->close();
    QVERIFY(!w->action().running());
    auto* to = dynamic_cast<TextView*>(w->parameters()->view("to"));
    QCOMPARE(to->editor()->text(), QString("192.0.2.300"));
    // The router's refusals: no address, too many echoes.
    struct Case {
      const char* to;
      const char* count;
      const char* error;
    } cases[] = {{"0.0.0.0", "4", "no address to ping"},
                 {"192.0.2.1", "10001", "Count must be at most 10000"}};
    for (const Case& c : cases) {
      router.boxes.texts.clear();
      typeInto(w->parameters(), "to", c.to);
      typeInto(w->parameters(), "count", c.count);
      QTest::mouseClick(w->startButton(), Qt::LeftButton);
      QVERIFY(router.runUntil([&] { return !router.boxes.texts.empty(); }));
      QVERIFY2(router.boxes.texts[0].find("Couldn't start") == 0, router.boxes.texts[0].c_str());
      QVERIFY2(router.boxes.texts[0].find(c.error) != std::string::npos,
               router.boxes.texts[0].c_str());
      QVERIFY(router.runUntil([&] { return !w->action().running(); }));
      // A start the router refused is no run that ended: the window stays.
      QVERIFY(!w.isNull());
      QVERIFY(w->startButton()->isEnabled());
      QCOMPARE(dynamic_cast<TextView*>(w->parameters()->view("count"))->editor()->text(),
               QString(c.count));
    }
    delete w;
  }

  void rebootAsksAndSends() {
    for (bool refused : {false, true}) {
      sim::CatalogueOptions options;
      options.menus.failCommits = refused;
      test::LiveRouter router(options);
      QVERIFY(router.ready());
      QPointer<QWidget> content = createDoitWindow(*router.menu("Reboot"), WindowContext{});
      auto* w = qobject_cast<DoitWindow*>(content.data());
      QVERIFY(w);
      w->show();
      QCOMPARE(w->runButton()->text(), QString("Reboot"));
      w->adjustSize();
      if (!refused)
        test::saveShot(*w, "doit-window");
      QTest::mouseClick(w->runButton(), Qt::LeftButton);
      QMessageBox* ask = openBox();
      QVERIFY(ask);
      QCOMPARE(ask->text(), QString("Reboot, yes?"));
      ask->button(QMessageBox::No)->click();
      QVERIFY(router.runUntil([&] { return !openBox(); }));
      QCOMPARE(router.catalogue->reboots(), 0u);
      QTest::mouseClick(w->runButton(), Qt::LeftButton);
      openBox()->button(QMessageBox::Yes)->click();
      QVERIFY(router.runUntil([&] { return w->runButton()->isEnabled(); }));
      QCOMPARE(router.catalogue->reboots(), refused ? 0u : 1u);
      QCOMPARE(w->statusLine()->text(), refused ? QString("Failed") : QString("Done"));
      QCOMPARE(router.boxes.texts.size(), size_t(refused ? 1 : 0));
      if (refused)
        QVERIFY2(router.boxes.texts[0].find("Reboot failed: ") == 0, router.boxes.texts[0].c_str());
      delete w;
    }
  }
};

KESTEL_GUI_TEST(ActionWindowTest)

} // namespace kestel::gui

#include "ActionWindowTest.moc"
