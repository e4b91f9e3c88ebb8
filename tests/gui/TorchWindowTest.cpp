// The Torch window against a stand-in session layer: the filter typed into its fields reaches the
// query, the answer fills the table busiest first, and a wrong filter or the router's refusal
// shows in the status line.
#include "GuiTest.h"

#include "api/net/Connection.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "gui/TorchWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

namespace kestel::gui {
namespace {

struct FakeRouterSession final : ISession {
  void post(const nv::message& m) override { posted.push_back(m); }
  uint32_t agentId() const override { return kNoId; }
  std::vector<nv::message> posted;
};

nv::message flow(const char* src, uint64_t tx) {
  nv::message m;
  m.set(kFlowProtocol, 6u);
  m.set(kFlowSrcAddress, src);
  m.set(kFlowSrcPort, 40000u);
  m.set(kFlowDstAddress, "198.19.0.1");
  m.set(kFlowDstPort, 443u);
  m.set(kFlowTxBits, tx);
  return m;
}

} // namespace

class TorchWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<PollReactor> reactor;
  std::unique_ptr<ReactorScope> scope;
  Reference<FakeRouterSession> router;
  Reference<Connection> connection;

  void answer(const nv::message& query, nv::message reply) {
    reply.set(SYS_TO, query.get(SYS_FROM));
    reply.set(SYS_TYPE, TYPE_REPLY);
    reply.set(SYS_REQID, query.get(SYS_REQID));
    getLooper()->deliver(reply);
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
  }
  void cleanup() {
    connection = nullptr;
    router = nullptr;
    scope.reset();
    reactor.reset();
    resetLooper();
  }

  void filterQueryAndTable() {
    TorchWindow window(*reactor);
    QTest::keyClicks(window.field(0), "tcp");
    QTest::keyClicks(window.field(6), "ether1");
    QTest::keyClick(window.field(6), Qt::Key_Return);
    QCOMPARE(router->posted.size(), size_t(1));
    nv::message query = router->posted[0];
    QCOMPARE(query.get(SYS_TO), std::vector<uint32_t>{77});
    QCOMPARE(query.get(kTorchProtocol), 6u);
    QCOMPARE(query.get(kTorchPort), std::string("ether1"));
    QVERIFY(!query.has(kTorchSrcAddress));
    nv::message reply;
    reply.set(STD_OBJS, std::vector<nv::message>{flow("198.18.0.1", 2000),
                                                 flow("198.18.0.2", 5000000000ull)});
    answer(query, reply);
    QCOMPARE(window.table()->rowCount(), 2);
    QCOMPARE(window.table()->item(0, 1)->text(), QString("198.18.0.2"));
    QCOMPARE(window.table()->item(0, 6)->text(), QString("5.0 Gbps"));
    QCOMPARE(window.table()->item(1, 0)->text(), QString("tcp"));
    QCOMPARE(window.table()->horizontalHeaderItem(5)->text(), QString("VLAN Id"));
    QCOMPARE(window.status()->text(), QString("2 flow(s)"));

    window.field(2)->setText("70000");
    window.start();
    QCOMPARE(window.status()->text(), QString("Src. Port: not a port 0-65535"));
  }

  void routerRefusalShows() {
    TorchWindow window(*reactor);
    window.start();
    QCOMPARE(router->posted.size(), size_t(1));
    nv::message refusal;
    refusal.set(SYS_STATUS, STATUS_ERROR);
    refusal.set(SYS_ERRNO, ERROR_NOTALLOWED);
    answer(router->posted[0], refusal);
    QVERIFY(window.status()->text().startsWith("torch failed"));
    reactor->advance(TorchMonitor::kPeriodMs * 3);
    reactor->runOnce(0);
    QCOMPARE(router->posted.size(), size_t(1)); // no more questions
  }
};

KESTEL_GUI_TEST(TorchWindowTest)

} // namespace kestel::gui

#include "TorchWindowTest.moc"
