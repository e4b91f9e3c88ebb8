// The session desktop with real Qt windows: placement and cascading in the MDI area, the
// "Windows" menu, a kind's placement remembered on close and restored, and a saved session's
// windows reopened in their stacking order with objects delivered through the reactor.
#include "GuiTest.h"

#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "gui/DemoWindow.h"
#include "gui/Desktop.h"
#include "gui/Toolkit.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

namespace kestel::gui {
namespace {

class LabelProducer final : public IWindowProducer {
public:
  LabelProducer(Desktop& d, std::string subtype, uint32_t id)
      : desktop_(d), subtype_(std::move(subtype)), id_(id) {}
  IManagedWindow* createWindow() override {
    auto* content = new QLabel(QString::fromStdString(subtype_));
    content->setMinimumSize(200, 120);
    return desktop_.makeWindow(content, QString::fromStdString(subtype_));
  }
  IManagedWindow* createWindow(void*) override { return createWindow(); }
  std::string type() const override { return "table"; }
  std::string subtype() const override { return subtype_; }
  uint32_t objectId() const override { return id_; }

private:
  Desktop& desktop_;
  std::string subtype_;
  uint32_t id_;
};

// Delivers looked-up producers later, through the reactor (as containers would).
class PostingProvider final : public IObjectLookup {
public:
  explicit PostingProvider(Desktop& d) : desktop_(d) {}
  void lookupObject(const std::string& subtype, uint32_t id, ObjectConsumer consumer) override {
    Reference<IWindowProducer> p(new LabelProducer(desktop_, subtype, id));
    currentReactor().post([consumer, p] { consumer(p); });
  }

private:
  Desktop& desktop_;
};

struct Session {
  QMainWindow window;
  QMenu* windows = window.menuBar()->addMenu("Windows");
  Desktop* desktop;
  explicit Session(SettingsRegistry& settings) {
    desktop = new Desktop(
        &window, windows, [](unsigned) { return QIcon(); }, settings);
    window.setCentralWidget(desktop);
    window.resize(900, 700);
    window.show();
  }
  std::vector<QString> titlesTopFirst() const {
    std::vector<QString> out;
    for (IManagedWindow* w : desktop->windowsTopFirst())
      out.push_back(static_cast<ManagedWindow*>(w)->windowTitle());
    return out;
  }
};

} // namespace

class DesktopTest : public QObject {
  Q_OBJECT
private slots:
  void windowsCascadeAndTheirKindsPlacementIsRemembered() {
    PollReactor reactor(PollReactor::Clock::Manual);
    ReactorScope scope(reactor);
    SettingsRegistry settings;
    Session s(settings);
    QVERIFY(QTest::qWaitForWindowExposed(&s.window));
    Reference<LabelProducer> a(new LabelProducer(*s.desktop, "ip/address", 1));
    Reference<LabelProducer> b(new LabelProducer(*s.desktop, "ip/address", 2));
    auto* first = static_cast<ManagedWindow*>(s.desktop->manager().openWindow(a.get(), nullptr));
    auto* second = static_cast<ManagedWindow*>(s.desktop->manager().openWindow(b.get(), nullptr));
    QVERIFY(first && second);
    const int step = s.desktop->captionHeight();
    QVERIFY(step > 0);
    QCOMPARE(second->geometry().topLeft(), first->geometry().topLeft() + QPoint(step, step));
    QCOMPARE(s.windows->actions().size(), 2);
    QCOMPARE(s.desktop->activeSubWindow(), second);
    QCOMPARE(first->objectName(), QString(kPaneName));

    second->setGeometry(40, 30, 320, 240);
    second->close();
    QCOMPARE(s.desktop->manager().size(), size_t(1));
    QCOMPARE(s.windows->actions().size(), 1);
    const uint32_t id = s.desktop->manager().placementId("table", "ip/address");
    QVERIFY(id != kNoSettingsId);
    Reference<LabelProducer> c(new LabelProducer(*s.desktop, "ip/address", 3));
    auto* third = static_cast<ManagedWindow*>(s.desktop->manager().openWindow(c.get(), nullptr));
    QCOMPARE(third->geometry(), QRect(40, 30, 320, 240));
  }

  void aSavedSessionReopensInItsStackingOrder() {
    PollReactor reactor(PollReactor::Clock::Manual);
    ReactorScope scope(reactor);
    SettingsRegistry settings;
    StringMap saved;
    std::vector<QString> order;
    {
      Session s(settings);
      for (auto [name, id] : {std::pair{"a", 1u}, {"b", 2u}, {"c", 3u}}) {
        Reference<LabelProducer> p(new LabelProducer(*s.desktop, name, id));
        s.desktop->manager().openWindow(p.get(), nullptr);
      }
      s.desktop->setActiveSubWindow(s.desktop->subWindowList().front()); // "a" on top
      order = s.titlesTopFirst();
      QCOMPARE(order.front(), QString("a"));
      s.desktop->manager().save(saved);
    }
    Session s(settings);
    PostingProvider provider(*s.desktop);
    s.desktop->manager().registerProvider("table", &provider);
    s.desktop->manager().init(saved);
    QCOMPARE(s.desktop->manager().size(), size_t(0)); // objects arrive through the reactor
    reactor.runOnce(0);
    QCOMPARE(s.desktop->manager().size(), size_t(3));
    QCOMPARE(s.titlesTopFirst(), order);
    QCOMPARE(reactor.timerCount(), size_t(0));
  }

  // The demonstration desktop (with icon sheets, so the icons window is as wide as it gets): at
  // its first size and after the main window shrank, every window lies inside the desktop area
  // and no scroll bar is needed.
  void demonstrationWindowsStayInsideTheDesktop() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    QTemporaryDir sheets;
    for (auto [name, size] :
         {std::pair{"icons16.png", 16}, {"icons24.png", 24}, {"icons32.png", 32}}) {
      QImage sheet(32 * size, 2 * size, QImage::Format_RGBA8888);
      sheet.fill(QColor(40, 120, 200));
      QVERIFY(sheet.save(sheets.filePath(name), "PNG"));
    }
    DemoWindow window(sheets.path().toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (QSize size : {QSize(), QSize(900, 600), QSize(760, 560)}) {
      if (size.isValid()) {
        window.resize(size);
        QApplication::processEvents();
      }
      Desktop& desktop = window.desktop();
      const QRect area(QPoint(0, 0), desktop.maximumViewportSize());
      const QList<QMdiSubWindow*> frames = desktop.subWindowList();
      QCOMPARE(frames.size(), qsizetype(3));
      for (QMdiSubWindow* frame : frames)
        QVERIFY2(area.contains(frame->geometry()),
                 qPrintable(frame->windowTitle() + " in " + QString::number(area.width())));
      QVERIFY(!desktop.horizontalScrollBar()->isVisible());
      QVERIFY(!desktop.verticalScrollBar()->isVisible());
    }
    // The menu bar shows the launcher group by its name, not by an icon in its place.
    const QList<QAction*> bar = window.menuBar()->actions();
    QVERIFY(!bar.isEmpty());
    QCOMPARE(bar.front()->text(), QString("Windows"));
    QVERIFY(bar.front()->icon().isNull());

    // A dark palette while it runs: the desktop's background follows.
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Dark, QColor(0x10, 0x12, 0x14));
    QApplication::setPalette(dark);
    QApplication::processEvents();
    QCOMPARE(window.desktop().background().color(), QColor(0x10, 0x12, 0x14));
    QApplication::setPalette(before);
  }
};

KESTEL_GUI_TEST(DesktopTest)

} // namespace kestel::gui

#include "DesktopTest.moc"
