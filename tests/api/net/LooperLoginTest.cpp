// The sessions as the looper's session objects over real TCP against the simulator: a handler's
// login request through the secure session made by createProxy, the same through a legacy
// session installed with setSession, and the idle probe sent by the global handler and answered
// by the router.
#include "NetTestSupport.h"

#include "api/net/Connection.h"
#include "api/net/LegacySession.h"
#include "api/net/SecureSession.h"
#include "api/wire/Vocabulary.h"
#include "sim/RouterLogin.h"

namespace kestel::test {
namespace {

struct NoHooks final : IHandlerHooks {
  void onRequest(IHandler*, const nv::message&) override {}
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}
};

class LooperLoginTest : public ReactorTest {
protected:
  LooperLoginTest() {
    resetLooper();
    handler = createHandler(&hooks);
    login.addUser("admin", "pw", 0x7);
    login.facts().skin = "green";
    login.install(server);
    EXPECT_TRUE(server.listen(0).ok());
    connection = createConnection(reactor);
    setRouterConnection(connection.get());
    getLooper()->setSessionFactory(createProxy);
    connection->connect("127.0.0.1", server.port());
  }
  ~LooperLoginTest() override { resetLooper(); }

  // Sends the login request from a handler and waits for its reply.
  nv::message loginRequest() {
    auto listener = makeRef<RecordingListener>();
    handler->request(7, Path{13, 4}, nv::message(), listener.get(), 10000);
    EXPECT_TRUE(runUntil(reactor, [&] { return !listener->messages.empty(); }));
    return listener->messages.empty() ? nv::message() : listener->messages[0];
  }

  sim::SimServer server{reactor};
  sim::RouterLogin login;
  Reference<Connection> connection;
  NoHooks hooks;
  Reference<IHandler> handler;
};

TEST_F(LooperLoginTest, SecureSessionFromCreateProxy) {
  auto* session = static_cast<SecureSession*>(getLooper()->session());
  ASSERT_NE(session, nullptr);
  session->start("admin", "pw", nullptr);
  nv::message reply = loginRequest();
  EXPECT_FALSE(isError(reply));
  EXPECT_EQ("green", reply.get(nv::string_id(24)));
  EXPECT_EQ(0x7u, reply.get(nv::u32_id(39)));
  EXPECT_EQ(SecureSession::State::LoggedIn, session->state());

  // Idle: the global handler probes, the router answers, the connection stays.
  reactor.advance(20000);
  for (int i = 0; i < 20; ++i)
    reactor.runOnce(5); // the probe goes out and the router's answer comes back
  reactor.advance(10000);
  EXPECT_TRUE(connection->isUp());
  EXPECT_EQ(SecureSession::State::LoggedIn, session->state());
}

TEST_F(LooperLoginTest, LegacySessionInstalledWithSetSession) {
  login.faults().refuseSecure = true;
  auto legacy = createLegacyProxy(getLooper());
  ASSERT_TRUE(legacy);
  getLooper()->setSession(legacy.get());
  auto listener = makeRef<RecordingListener>();
  handler->request(4, Path{13, 4}, nv::message(), listener.get(), 10000);
  ASSERT_TRUE(runUntil(reactor, [&] { return !listener->messages.empty(); }));
  auto challenge = listener->messages[0].get(nv::raw_id(9));
  ASSERT_EQ(16u, challenge.size());
  nv::message credentials;
  credentials.set(nv::string_id(1), std::string("admin"));
  credentials.set(nv::raw_id(10), legacyLoginResponse("pw", challenge));
  auto second = makeRef<RecordingListener>();
  handler->request(7, Path{13, 4}, credentials, second.get(), 10000);
  ASSERT_TRUE(runUntil(reactor, [&] { return !second->messages.empty(); }));
  EXPECT_FALSE(isError(second->messages[0]));
  EXPECT_EQ("green", second->messages[0].get(nv::string_id(24)));
}

} // namespace
} // namespace kestel::test
