// The secure session against a scripted router (the router's end of the exchange driven by the
// test over a connection double) on a manual clock: queueing across the login, framing in chunks,
// the overlay-agent path, refusals, the answer timer, malformed and replayed frames, the idle
// probe and the hand-over.
#include "LoginTestSupport.h"

#include "api/net/PollReactor.h"
#include "api/net/SecureSession.h"
#include "api/wire/Vocabulary.h"
#include "crypto/Random.h"
#include "util/Log.h"

namespace kestel {
namespace {

using test::FakeConnection;
using test::RouterFrames;

const nv::u32_id kSeq{1};
const nv::raw_id kBlob{2};

class LoginRecorder final : public EventListener {
public:
  void onEvent(Event& event) override {
    if (auto* e = static_cast<LoginResultEvent*>(event.cast(kLoginResultEventInterface)))
      results.push_back(e->failure());
  }
  std::vector<LoginFailure> results;
};

nv::message request(std::vector<uint32_t> to, uint32_t seq) {
  nv::message m;
  m.set(SYS_TO, to);
  m.set(kSeq, seq);
  return m;
}

class SecureSessionTest : public ::testing::Test {
public:
  SecureSessionTest() {
    hooks.deliver = [this](const nv::message& m) { delivered.push_back(m); };
    hooks.probe = [this] {
      ++probes;
      nv::message noop;
      noop.set(SYS_TO, std::vector<uint32_t>{1});
      noop.set(SYS_CMD, CMD_NOOP);
      session->post(noop);
    };
    session = makeRef<SecureSession>(reactor, *connection, hooks);
    user.name = "admin";
    user.password = "pw";
  }
  ~SecureSessionTest() override { setPlatformRandomBrokenForTesting(false); }

  void startLogin(const std::string& password = "pw") {
    session->start("admin", password, listener.get());
    first = connection->take();
  }
  void answerChallenge() {
    std::array<uint8_t, 32> b{};
    b.fill(0x42);
    router = std::make_unique<login::RouterExchange>(&user, decoy, b);
    auto challenge = router->challenge(first);
    ASSERT_TRUE(challenge);
    connection->deliver(6, *challenge);
    response = connection->take();
  }
  void sendProof() {
    auto proof = router->checkResponse(response);
    ASSERT_TRUE(proof);
    connection->deliver(6, asBytes(*proof));
    frames = std::make_unique<RouterFrames>(router->keys());
  }
  void login() {
    startLogin();
    answerChallenge();
    sendProof();
    ASSERT_EQ(SecureSession::State::LoggedIn, session->state());
  }

  PollReactor reactor{PollReactor::Clock::Manual};
  Reference<FakeConnection> connection = makeRef<FakeConnection>();
  SessionHooks hooks;
  Reference<SecureSession> session;
  Reference<LoginRecorder> listener = makeRef<LoginRecorder>();
  std::vector<nv::message> delivered;
  int probes = 0;
  login::RouterUser user, decoy;
  std::unique_ptr<login::RouterExchange> router;
  std::unique_ptr<RouterFrames> frames;
  Bytes first, response;
  CaptureLogSink log;
};

TEST_F(SecureSessionTest, QueuesUntilTheProofThenSendsInOrder) {
  startLogin();
  EXPECT_EQ(SecureSession::State::ChallengeSent, session->state());
  for (uint32_t i = 0; i < 3; ++i)
    session->post(request({4}, i));
  answerChallenge();
  EXPECT_EQ(SecureSession::State::ResponseSent, session->state());
  EXPECT_EQ(24u, response.size());
  EXPECT_TRUE(connection->sent.empty());
  sendProof();
  ASSERT_EQ(3u, connection->sent.size());
  for (uint32_t i = 0; i < 3; ++i) {
    nv::message m = frames->open(connection->take());
    EXPECT_EQ(i, m.get(kSeq));
    EXPECT_EQ(std::vector<uint32_t>{4}, m.get(SYS_TO));
  }
  EXPECT_TRUE(log.contains("sending first challenge"));
  EXPECT_TRUE(log.contains("recvd peer challenge 33"));
  EXPECT_TRUE(log.contains("recvd response"));
  EXPECT_FALSE(log.contains("pw"));
  EXPECT_TRUE(listener->results.empty());
}

TEST_F(SecureSessionTest, AFrameInThreeChunksIsDecodedOnceWhenComplete) {
  login();
  nv::message big = request({0}, 1);
  big.set(kBlob, Bytes(520, 0xAB));
  Bytes frame = frames->seal(big);
  ASSERT_EQ(594u, frame.size()); // 18 + 576: frames are 18 bytes plus whole blocks
  auto* receiver = connection->receivers.at(6);
  receiver->receive(6, frame.data(), 255);
  receiver->receive(0xFF, frame.data() + 255, 255);
  EXPECT_TRUE(delivered.empty());
  receiver->receive(0xFF, frame.data() + 510, frame.size() - 510);
  ASSERT_EQ(1u, delivered.size());
  EXPECT_EQ(Bytes(520, 0xAB), delivered[0].get(kBlob));
  EXPECT_FALSE(connection->isClosed());
}

TEST_F(SecureSessionTest, OverAnAgentThePathGetsTwoAndTheAgentInFront) {
  session->setAgentId(7);
  login();
  session->post(request({4, 9}, 1));
  nv::message sent = frames->open(connection->take());
  EXPECT_EQ((std::vector<uint32_t>{2, 7, 4, 9}), sent.get(SYS_TO));
}

TEST_F(SecureSessionTest, RefusalsGoToTheLoginListener) {
  startLogin("wrong");
  session->post(request({4}, 1));
  answerChallenge();
  EXPECT_FALSE(router->checkResponse(response));
  connection->deliver(6, asBytes("S=" + std::string(40, '0')));
  EXPECT_EQ(SecureSession::State::Refused, session->state());
  ASSERT_EQ(1u, listener->results.size());
  EXPECT_EQ(LoginFailure::WrongProof, listener->results[0]);
  session->post(request({4}, 2));
  EXPECT_TRUE(connection->sent.empty()); // nothing reaches a router that failed its proof
  connection->deliver(6, Bytes(40, 1));
  EXPECT_EQ("received garbage", connection->closeReason);
}

TEST_F(SecureSessionTest, ASilentRouterTimesOutAfterThreeSeconds) {
  startLogin();
  reactor.advance(2999);
  EXPECT_TRUE(listener->results.empty());
  reactor.advance(1);
  ASSERT_EQ(1u, listener->results.size());
  EXPECT_EQ(LoginFailure::NoChallenge, listener->results[0]);
  EXPECT_EQ(SecureSession::State::Refused, session->state());
  EXPECT_FALSE(connection->isClosed());
}

TEST_F(SecureSessionTest, MalformedInputEndsTheConnectionWithItsReason) {
  struct Case {
    const char* name;
    std::function<void(SecureSessionTest&)> act;
    std::string reason;
  } cases[] = {
      {"short challenge", [](auto& t) { t.connection->deliver(6, Bytes(32, 2)); },
       "bogus challenge"},
      {"long challenge", [](auto& t) { t.connection->deliver(6, Bytes(50, 2)); },
       "bogus challenge"},
      {"invalid point", [](auto& t) { t.connection->deliver(6, Bytes(33, 0)); }, "bogus challenge"},
      {"short frame",
       [](auto& t) {
         t.answerChallenge();
         t.sendProof();
         t.connection->deliver(6, Bytes(17, 0));
       },
       "received garbage"},
      {"flipped ciphertext bit",
       [](auto& t) {
         t.answerChallenge();
         t.sendProof();
         Bytes f = t.frames->seal(request({0}, 1));
         f[30] ^= 1;
         t.connection->deliver(6, f);
       },
       "decryption failed"},
      {"flipped vector bit",
       [](auto& t) {
         t.answerChallenge();
         t.sendProof();
         Bytes f = t.frames->seal(request({0}, 1));
         f[5] ^= 0x80;
         t.connection->deliver(6, f);
       },
       "decryption failed"},
      {"replayed frame",
       [](auto& t) {
         t.answerChallenge();
         t.sendProof();
         Bytes f = t.frames->seal(request({0}, 1));
         t.connection->deliver(6, f);
         EXPECT_EQ(1u, t.delivered.size());
         t.connection->deliver(6, f);
       },
       "decryption failed"},
      {"empty ciphertext",
       [](auto& t) {
         t.answerChallenge();
         t.sendProof();
         t.connection->deliver(6, Bytes(18, 0));
       },
       "decryption failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    connection = makeRef<FakeConnection>();
    session = makeRef<SecureSession>(reactor, *connection, hooks);
    delivered.clear();
    startLogin();
    c.act(*this);
    EXPECT_TRUE(connection->isClosed());
    EXPECT_EQ(c.reason, connection->closeReason);
    EXPECT_TRUE(connection->receivers.empty());
  }
  EXPECT_EQ(0u, reactor.timerCount());
}

TEST_F(SecureSessionTest, IdleProbeAndNoAnswer) {
  login();
  session->post(request({4}, 1));
  reactor.advance(19999);
  EXPECT_EQ(0, probes);
  reactor.advance(1);
  EXPECT_EQ(1, probes);
  connection->sent.clear();
  reactor.advance(9000);
  connection->deliver(6, frames->seal(request({1}, 2))); // the router answers
  reactor.advance(1000);
  EXPECT_FALSE(connection->isClosed()) << connection->closeReason;
  reactor.advance(10000); // 20000 ms after the probe went out
  EXPECT_EQ(2, probes);
  reactor.advance(9999);
  EXPECT_FALSE(connection->isClosed());
  reactor.advance(1);
  EXPECT_EQ("other end is not responding", connection->closeReason);
}

TEST_F(SecureSessionTest, WeakRandomFallbackStillLogsInAndSaysSoOnce) {
  setPlatformRandomBrokenForTesting(true);
  login();
  session->post(request({4}, 1));
  EXPECT_EQ(1u, frames->open(connection->take()).get(kSeq));
  size_t count = 0;
  for (const auto& line : log.lines())
    count += line == "CryptAcquireContext failed, generate weak key";
  EXPECT_EQ(1u, count);
}

TEST_F(SecureSessionTest, MessagesWithoutDestinationAreLoggedNotSent) {
  login();
  nv::message m;
  m.set(kSeq, 5u);
  session->post(m);
  EXPECT_TRUE(connection->sent.empty());
  EXPECT_TRUE(log.contains("message to me - I don't whant to handle it"));
}

TEST_F(SecureSessionTest, DescribeAndAdoptHandOverTheSession) {
  session->setAgentId(3);
  login();
  nv::message description = session->describe();
  auto other = makeRef<FakeConnection>();
  auto adopted = makeRef<SecureSession>(reactor, *other, hooks);
  nv::message partial = description;
  partial.remove(nv::raw_id{3});
  EXPECT_FALSE(adopted->adopt(partial));
  ASSERT_TRUE(adopted->adopt(description));
  EXPECT_EQ(SecureSession::State::LoggedIn, adopted->state());
  EXPECT_EQ(3u, adopted->agentId());
  adopted->post(request({4}, 8));
  nv::message sent = frames->open(other->take());
  EXPECT_EQ(8u, sent.get(kSeq));
  other->deliver(6, frames->seal(request({0}, 9)));
  ASSERT_EQ(1u, delivered.size());
  EXPECT_EQ(9u, delivered[0].get(kSeq));
  adopted->stop();
  EXPECT_TRUE(other->receivers.empty());
}

// A frame cut in two by the hand-over is completed in the adopter, a frame the first process
// already took is still refused as a replay there, and the adopter probes an idle router.
TEST_F(SecureSessionTest, AdoptedSessionFinishesAHalfFrameAndRefusesReplays) {
  login();
  Bytes seen = frames->seal(request({0}, 1));
  connection->deliver(6, seen);
  Bytes cut = frames->seal(request({0}, 2));
  ASSERT_GT(cut.size(), 20u);
  size_t half = cut.size() / 2;
  connection->deliver(6, ByteSpan(cut.data(), half));
  ASSERT_EQ(1u, delivered.size());
  nv::message description = session->describe();
  session->stop();

  auto other = makeRef<FakeConnection>();
  auto adopted = makeRef<SecureSession>(reactor, *other, hooks);
  ASSERT_TRUE(adopted->adopt(description));
  other->deliver(6, ByteSpan(cut.data() + half, cut.size() - half));
  ASSERT_EQ(2u, delivered.size());
  EXPECT_EQ(2u, delivered[1].get(kSeq));
  reactor.advance(kIdleProbeMs);
  EXPECT_EQ(1, probes); // the adopter's own idle timer
  other->deliver(6, seen);
  EXPECT_EQ(2u, delivered.size());
  EXPECT_EQ("decryption failed", other->closeReason);

  nv::message broken = description;
  broken.set(nv::raw_id{4}, Bytes(17, 0));
  EXPECT_FALSE(makeRef<SecureSession>(reactor, *other, hooks)->adopt(broken));
}

} // namespace
} // namespace kestel
