// The connect step end to end over real TCP on loopback against the in-process simulator (one
// reactor with a manual clock drives both): secure and legacy logins with an encrypted request
// and reply afterwards, refusals, the legacy fallback decision table, and routers that misbehave.
#include "app/ConnectStep.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"
#include "support/Constants.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kestel {
namespace {

const nv::string_id kEchoText{5};

class ConnectStepTest : public ::testing::Test {
public:
  ConnectStepTest() {
    login.addUser("admin", "pw", 0x1F);
    login.addSaltedUser("bob", "s3cret", 0x3);
    login.facts().requiredClient = "3.40";
    login.facts().skin = "blue";
    // A router handler that echoes string 5, for the round trip after the login.
    login.addHandler({7, 1}, [](const sim::RouterRequest& r) {
      nv::message reply;
      reply.set(kEchoText, r.message.get(kEchoText) + "/" + r.user.login.name);
      return std::optional<nv::message>(reply);
    });
    login.install(server);
    port = *server.listen(0);
  }
  ~ConnectStepTest() override {
    if (step)
      step->cancel();
    step = nullptr;
  }

  // Turns the reactor, moving the manual clock 1 ms per turn, until `done`, `turns` turns or
  // the real-time limit.
  bool drive(const std::function<bool()>& done, int turns = 1000000) {
    auto limit = std::chrono::steady_clock::now() + test::kRealTimeLimit;
    while (!done() && turns-- > 0 && std::chrono::steady_clock::now() < limit) {
      reactor.runOnce(1);
      reactor.advance(1);
    }
    return done();
  }
  bool routerHasBytes() {
    uint64_t n = 0;
    server.forEachConnection([&](sim::SimConnection& c) { n += c.bytesReceived(); });
    return n > 0;
  }

  ConnectOutcome connect(const std::string& user, const std::string& password, bool legacyMode,
                         bool silentSecure = false) {
    ConnectRequest request{test::kLoopback, port, user, password, legacyMode};
    outcome.reset();
    server.dropAll(); // earlier attempts' connections must not count below
    step = makeRef<ConnectStep>(reactor, request, [this](const ConnectOutcome& o) { outcome = o; });
    step->start();
    if (silentSecure) {
      // The router swallows the first challenge; the answer timer decides after 3000 ms.
      EXPECT_TRUE(drive([this] { return routerHasBytes(); }));
      reactor.advance(3000);
    }
    if (!drive([this] { return outcome.has_value(); }, 500)) {
      reactor.advance(3000); // a router that never answers the legacy handshake either
      EXPECT_TRUE(drive([this] { return outcome.has_value(); }));
    }
    return outcome.value_or(ConnectOutcome{});
  }

  // Sends a request through the logged-in session and waits for the reply.
  std::string roundTrip(const std::string& text) {
    std::optional<nv::message> reply;
    step->setDeliver([&](const nv::message& m) { reply = m; });
    nv::message request;
    request.set(SYS_TO, std::vector<uint32_t>{7, 1});
    request.set(SYS_FROM, std::vector<uint32_t>{9});
    request.set(SYS_REQID, 77u);
    request.set(SYS_REPLYEXP, true);
    request.set(kEchoText, text);
    step->post(request);
    drive([&] { return reply.has_value(); });
    step->setDeliver({});
    if (!reply || reply->get(SYS_REQID) != 77u || reply->get(SYS_TO) != std::vector<uint32_t>{9})
      return "no reply";
    return reply->get(kEchoText);
  }

  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope scope{reactor};
  sim::SimServer server{reactor};
  sim::RouterLogin login;
  uint16_t port = 0;
  Reference<ConnectStep> step;
  std::optional<ConnectOutcome> outcome;
  std::vector<nv::message> replies;
  CaptureLogSink log;
};

TEST_F(ConnectStepTest, SecureLoginThenAnEncryptedRoundTrip) {
  for (const char* user : {"admin", "bob"}) {
    SCOPED_TRACE(user);
    ConnectOutcome o = connect(user, user == std::string("admin") ? "pw" : "s3cret", false);
    ASSERT_EQ(ConnectOutcome::LoggedIn, o.kind) << o.text;
    EXPECT_FALSE(o.legacy);
    EXPECT_EQ("3.40", o.reply.get(kLoginReplyRequiredClient));
    EXPECT_EQ("blue", o.reply.get(kLoginReplySkin));
    EXPECT_EQ(user == std::string("admin") ? 0x1Fu : 0x3u, o.reply.get(kLoginReplyPolicy));
    EXPECT_FALSE(o.reply.get(kLoginReplyChangePassword));
    EXPECT_EQ("hello/" + std::string(user), roundTrip("hello"));
    EXPECT_EQ(std::string(30 * 1024, 'x') + "/" + user, roundTrip(std::string(30 * 1024, 'x')));
    step->cancel();
  }
  EXPECT_TRUE(log.contains("startKeyExchange"));
  EXPECT_FALSE(log.contains("s3cret"));
  EXPECT_EQ(2u, login.loginCount());
}

TEST_F(ConnectStepTest, WrongPasswordsAndUnknownUsers) {
  for (auto [user, password] :
       {std::pair{"admin", "nope"}, std::pair{"bob", "pw"}, std::pair{"eve", "pw"}}) {
    SCOPED_TRACE(user);
    ConnectOutcome o = connect(user, password, true);
    EXPECT_EQ(ConnectOutcome::WrongLogin, o.kind);
    EXPECT_EQ("wrong username or password", o.text);
  }
  EXPECT_TRUE(log.contains("kex failed"));
}

TEST_F(ConnectStepTest, LegacyFallbackDecisionTable) {
  struct Case {
    bool refuseSecure, noLegacy, legacyMode;
    bool noChallenge;
    const char* password;
    ConnectOutcome::Kind kind;
    std::string text;
  } cases[] = {
      {true, false, true, false, "pw", ConnectOutcome::LoggedIn, ""},
      {true, false, true, false, "bad", ConnectOutcome::WrongLogin, "wrong username or password"},
      {true, false, false, false, "pw", ConnectOutcome::LegacyNotAllowed,
       "router does not support secure connection, please enable Legacy Mode if you want to "
       "connect anyway"},
      {true, true, true, false, "pw", ConnectOutcome::Refused, "Router refused connection"},
      {true, true, false, false, "pw", ConnectOutcome::Refused, "Router refused connection"},
      {false, false, true, false, "bad", ConnectOutcome::WrongLogin, "wrong username or password"},
      {true, false, true, true, "pw", ConnectOutcome::NoAuthentication,
       "could not start authentication"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.refuseSecure) + std::to_string(c.noLegacy) +
                 std::to_string(c.legacyMode) + c.password);
    login.faults().refuseSecure = c.refuseSecure;
    login.faults().noLegacy = c.noLegacy;
    login.faults().noLegacyChallenge = c.noChallenge;
    ConnectOutcome o = connect("admin", c.password, c.legacyMode, c.refuseSecure);
    EXPECT_EQ(c.kind, o.kind) << o.text;
    EXPECT_EQ(c.text, o.text);
    if (o.kind == ConnectOutcome::LoggedIn) {
      EXPECT_TRUE(o.legacy);
      EXPECT_EQ("blue", o.reply.get(kLoginReplySkin));
      EXPECT_EQ("legacy/admin", roundTrip("legacy"));
    }
    step->cancel();
  }
}

TEST_F(ConnectStepTest, MisbehavingRouters) {
  struct Case {
    const char* name;
    std::function<void(sim::LoginFaults&)> set;
    ConnectOutcome::Kind kind;
    std::string text;
  } cases[] = {
      {"wrong proof", [](auto& f) { f.wrongProof = true; }, ConnectOutcome::WrongLogin,
       "wrong username or password"},
      {"garbage frames", [](auto& f) { f.garbageFrames = true; }, ConnectOutcome::Disconnected,
       "decryption failed"},
      {"drop after 40 bytes", [this](auto&) { server.setDropAfterBytes(40); },
       ConnectOutcome::Disconnected, "peer closed connection"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    login.faults() = {};
    c.set(login.faults());
    ConnectOutcome o = connect("admin", "pw", false);
    EXPECT_EQ(c.kind, o.kind) << o.text;
    EXPECT_EQ(c.text, o.text);
    step->cancel();
  }
}

TEST_F(ConnectStepTest, NoRouterListening) {
  uint16_t closed = port;
  server.dropAll();
  {
    sim::SimServer other(reactor);
    closed = *other.listen(0);
  } // the port is free again: nobody listens there
  ConnectRequest request{test::kLoopback, closed, "admin", "pw", false};
  step = makeRef<ConnectStep>(reactor, request, [this](const ConnectOutcome& o) { outcome = o; });
  step->start();
  ASSERT_TRUE(drive([this] { return outcome.has_value(); }));
  EXPECT_EQ(ConnectOutcome::ConnectFailed, outcome->kind);
  EXPECT_EQ("could not connect to 127.0.0.1 Reason:connection refused", outcome->text);
}

} // namespace
} // namespace kestel
