// The menus as the client's own looper and handlers reach them: a handler fetches and subscribes
// through the secure session made by createProxy, and another client's edit arrives at the
// handler's notification listener, routed by the return path the router kept.
#include "MenuTestSupport.h"

#include "api/net/Looper.h"

namespace kestel::test {
namespace {

struct NoHooks final : IHandlerHooks {
  void onRequest(IHandler*, const nv::message&) override {}
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}
};

class MenuLooperTest : public MenuRouterTest {
protected:
  MenuLooperTest() { resetLooper(); }
  ~MenuLooperTest() override {
    handler = nullptr;
    resetLooper();
  }

  // Opens the looper's router connection as admin.
  void connect() {
    connection = createConnection(reactor);
    setRouterConnection(connection.get());
    getLooper()->setSessionFactory(createProxy);
    connection->connect(kLoopback, router->server.port());
    static_cast<SecureSession*>(getLooper()->session())->start("admin", "pw", nullptr);
    handler = createHandler(&hooks);
  }

  Reference<Connection> connection;
  NoHooks hooks;
  Reference<IHandler> handler;
};

TEST_F(MenuLooperTest, HandlerFetchesAndHearsAnotherClientsEdit) {
  startRouter();
  connect();
  auto replies = makeRef<RecordingListener>();
  handler->request(CMD_GETALL, Path{21, 4}, nv::message(), replies.get(), 10000);
  ASSERT_TRUE(runUntil(reactor, [&] { return !replies->messages.empty(); }));
  EXPECT_EQ(6u, replies->messages[0].count(STD_OBJS));

  auto notified = makeRef<RecordingListener>();
  nv::message subscription;
  subscription.set(SYS_ORIGINATOR, 1000u);
  ASSERT_TRUE(handler->subscribe(notified.get(), Path{21, 4}, subscription));
  auto other = client();
  other->sync();
  nv::message rule;
  rule.set(nv::string_id(0x1E), "from the other client");
  uint32_t id = other->call({21, 4}, CMD_ADDOBJ, rule).get(STD_ID);
  ASSERT_TRUE(runUntil(reactor, [&] { return !notified->messages.empty(); }));
  const nv::message& n = notified->messages[0];
  EXPECT_EQ(CMD_NOTIFY, n.get(SYS_CMD));
  ASSERT_EQ(std::vector<uint32_t>{id}, idsOf(n));
  EXPECT_EQ("from the other client", n.get(STD_OBJS)[0].get(nv::string_id(0x1E)));

  // Unsubscribed, the handler hears nothing more.
  handler->unsubscribe(notified.get());
  handler->request(CMD_GETCOUNT, Path{21, 4}, nv::message(), replies.get(), 10000);
  ASSERT_TRUE(runUntil(reactor, [&] { return replies->messages.size() == 2; }));
  EXPECT_EQ(0u, catalogue->handler("firewall")->subscriptionCount());
}

} // namespace
} // namespace kestel::test
