// The terminal pane against a stand-in session layer on the manual clock: keys as a VT102 sends
// them, a paste of any length going out whole, the window size following the pane and its zoom,
// the scrollback with its limit, selection and copying, repainting only the changed cells, and
// the title after the router's close.
#include "GuiTest.h"

#include "api/net/Connection.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "gui/TerminalPane.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

namespace kestel::gui {
namespace {

using U32s = std::vector<uint32_t>;

struct FakeRouterSession final : ISession {
  void post(const nv::message& m) override { posted.push_back(m); }
  uint32_t agentId() const override { return kNoId; }
  std::vector<nv::message> posted;
};

} // namespace

class TerminalPaneTest : public QObject {
  Q_OBJECT

  std::unique_ptr<PollReactor> reactor;
  std::unique_ptr<ReactorScope> scope;
  Reference<FakeRouterSession> router;
  Reference<Connection> connection;
  std::unique_ptr<TerminalPane> pane;

  std::vector<nv::message> take() { return std::exchange(router->posted, {}); }
  // The bytes of the data messages posted since the last call.
  std::string sent() {
    std::string out;
    for (const nv::message& m : take())
      if (m.get(SYS_CMD) == kTerminalData) {
        auto raw = m.get(kTerminalBytes);
        out.append(raw.begin(), raw.end());
      }
    return out;
  }
  void fromRouter(uint32_t command, const std::string& bytes = {}) {
    nv::message m;
    m.set(SYS_TO, U32s{0, pane->console().session().handlerId()});
    m.set(SYS_CMD, command);
    m.set(STD_ID, 42u);
    if (!bytes.empty())
      m.set(kTerminalBytes, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    getLooper()->deliver(m);
    reactor->advance(TerminalSession::kHandOverMs);
    reactor->runOnce(0);
    QCoreApplication::processEvents();
  }

private slots:
  void init() {
    resetLooper();
    reactor = std::make_unique<PollReactor>(PollReactor::Clock::Manual);
    scope = std::make_unique<ReactorScope>(*reactor);
    router = makeRef<FakeRouterSession>();
    getLooper()->setSession(router.get());
    connection = createConnection(*reactor);
    setRouterConnection(connection.get());
    pane = std::make_unique<TerminalPane>(*reactor, "Terminal gw");
    pane->open("admin", {});
    auto open = take();
    QCOMPARE(open.size(), size_t(1));
    nv::message reply;
    reply.set(SYS_TO, U32s{0, pane->console().session().handlerId()});
    reply.set(SYS_TYPE, TYPE_REPLY);
    reply.set(SYS_REQID, open[0].get(SYS_REQID));
    reply.set(STD_ID, 42u);
    getLooper()->deliver(reply);
    QCOMPARE(pane->console().session().state(), TerminalSession::State::Open);
    take();
  }
  void cleanup() {
    pane.reset();
    connection = nullptr;
    router = nullptr;
    scope.reset();
    reactor.reset();
    resetLooper();
  }

  void keysGoOutAsAVt102SendsThem() {
    QTest::keyClicks(pane.get(), "ls");
    QTest::keyClick(pane.get(), Qt::Key_Return);
    QTest::keyClick(pane.get(), Qt::Key_Tab); // not a focus change
    QTest::keyClick(pane.get(), Qt::Key_Up);
    QTest::keyClick(pane.get(), Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(pane.get(), Qt::Key_Backspace);
    QTest::keyClick(pane.get(), Qt::Key_Delete);
    QCOMPARE(sent(), std::string("ls\r\t\x1b[A\x03\x7f\x1b[3~"));
    fromRouter(kTerminalData, "\x1b[?1h"); // cursor-keys mode
    QTest::keyClick(pane.get(), Qt::Key_Up);
    QTest::keyClick(pane.get(), Qt::Key_Left);
    QCOMPARE(sent(), std::string("\x1bOA\x1bOD"));
    QTest::keyClick(pane.get(), Qt::Key_Shift); // a lone modifier sends nothing
    QCOMPARE(sent(), std::string());
  }

  void aPasteOfAnyLengthGoesOutWhole() {
    std::string text;
    for (int i = 0; text.size() < 100000; ++i)
      text += "echo " + std::to_string(i) + "\n";
    text.resize(100000);
    QApplication::clipboard()->setText(QString::fromStdString(text));
    pane->paste();
    std::string expected = text;
    std::replace(expected.begin(), expected.end(), '\n', '\r');
    size_t messages = 0;
    std::string arrived;
    for (const nv::message& m : take()) {
      QVERIFY(m.get(kTerminalBytes).size() <= TerminalSession::kMaxDataBytes);
      auto raw = m.get(kTerminalBytes);
      arrived.append(raw.begin(), raw.end());
      ++messages;
    }
    QCOMPARE(arrived, expected);
    QVERIFY(messages >= 100000 / TerminalSession::kMaxDataBytes);
  }

  void windowSizeFollowsThePaneAndItsZoom() {
    pane->show(); // a hidden widget hears of its size only when shown
    QVERIFY(QTest::qWaitForWindowExposed(pane.get()));
    take();
    QSize cell = pane->cellSize();
    int bar = pane->findChild<QScrollBar*>()->sizeHint().width();
    pane->resize(100 * cell.width() + bar, 30 * cell.height());
    auto sizes = take();
    QCOMPARE(sizes.size(), size_t(1));
    QCOMPARE(sizes[0].get(SYS_CMD), kTerminalWindowSize);
    QCOMPARE(sizes[0].get(kTerminalColumns), 100u);
    QCOMPARE(sizes[0].get(kTerminalRows), 30u);
    pane->resize(100 * cell.width() + bar + cell.width() / 2, 30 * cell.height());
    QVERIFY(take().empty()); // the same number of cells
    QTest::keyClick(pane.get(), Qt::Key_Plus, Qt::ControlModifier);
    QVERIFY(pane->cellSize().height() > cell.height());
    sizes = take();
    QCOMPARE(sizes.size(), size_t(1));
    QVERIFY(sizes[0].get(kTerminalColumns) < 100u);
    QCOMPARE(pane->console().screen().columns(), int(sizes[0].get(kTerminalColumns)));
  }

  void scrollbackKeepsWhatLeftTheScreen() {
    std::string lines;
    for (int i = 0; i < 60; ++i)
      lines += "line " + std::to_string(i) + "\r\n";
    fromRouter(kTerminalData, lines);
    int rows = pane->console().screen().rows();
    QCOMPARE(int(pane->scrollbackSize()), 61 - rows);
    std::string all = pane->allText();
    QVERIFY(all.rfind("line 0\nline 1\n", 0) == 0);
    QVERIFY(all.find("line 59\n") != std::string::npos);
    pane->select(0, 0, 1, 4);
    QCOMPARE(pane->selectedText(), std::string("line 0\nline"));
    pane->copySelection();
    QCOMPARE(QApplication::clipboard()->text(), QString("line 0\nline"));
    pane->scrollBack(5);
    QCOMPARE(pane->scrolledBack(), 5);
    fromRouter(kTerminalData, "more\r\n"); // looking back, the view keeps its lines
    QCOMPARE(pane->scrolledBack(), 6);
    QTest::keyClick(pane.get(), Qt::Key_A); // typing returns to the live screen
    QCOMPARE(pane->scrolledBack(), 0);
    pane->setScrollbackLines(10);
    QCOMPARE(pane->scrollbackSize(), size_t(10));
    fromRouter(kTerminalData, "x\r\ny\r\n");
    QCOMPARE(pane->scrollbackSize(), size_t(10));
  }

  void onlyTheChangedCellsAreRepainted() {
    pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(pane.get()));
    fromRouter(kTerminalData, "\x1b[5;3H");
    QCoreApplication::processEvents();
    fromRouter(kTerminalData, "x");
    QSize c = pane->cellSize();
    // The new character and the cursor's move one cell on.
    QCOMPARE(pane->lastPaint(), QRect(2 * c.width(), 4 * c.height(), 2 * c.width(), c.height()));
  }

  void theRoutersCloseShowsInTheTitle() {
    QCOMPARE(pane->windowTitle(), QString("Terminal gw"));
    fromRouter(kTerminalClose);
    QCOMPARE(pane->windowTitle(), QString("Terminal gw (Disconnected)"));
    QTest::keyClicks(pane.get(), "ignored");
    QVERIFY(sent().empty());
  }
};

KESTEL_GUI_TEST(TerminalPaneTest)

} // namespace kestel::gui

#include "TerminalPaneTest.moc"
