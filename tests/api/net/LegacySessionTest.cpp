// The legacy group against an oracle nobody here wrote (Python's pow) and the legacy session
// against a scripted router on a manual clock: the handshake, queueing, frames in both directions,
// malformed values and frames, the idle probe and the hand-over.
#include "LoginTestSupport.h"

#include "api/net/LegacySession.h"
#include "api/net/PollReactor.h"
#include "api/wire/Vocabulary.h"
#include "crypto/StreamState.h"
#include "util/Log.h"

#include <cstring>

namespace kestel {
namespace {

using legacy::Number;
using test::FakeConnection;
using test::fromHex;

Number number(const std::string& hex) {
  Bytes b = fromHex(hex);
  Number n{};
  std::copy(b.begin(), b.end(), n.begin());
  return n;
}

Number testExponent() {
  Number e;
  for (size_t i = 0; i < e.size(); ++i)
    e[i] = uint8_t(i * 37 + 11);
  return e;
}

// (name, y, y^e mod m) with e = testExponent(), computed with Python's pow.
struct PowerVector {
  const char* name;
  const char* y;
  const char* result;
} kPowerVectors[] = {
    {"5",
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "0000000000000000000000000000005",
     "248dc78f2d9de0af8c8994324740a2ab55831327fcbdaf814e66c35e23ec8111795b0a18447858b1a95bbd2c4aaee"
     "75eef7a99c352085c454bf7dcb3dd5706d8f68029ebd614024bf9661fb269111bba48904274e5284361727587b98f"
     "5a16079e1b5e462d3e9b7a50c970888db9542cfa736dfb631dc298f871d192a541acbfc4972c03eeff7649d836c22"
     "6d5e56fd90245a4253b63c11b84c615b9bc5916c541f128b4170d0d8b485f11363e0e4985d4c5c9d1778a82b281a5"
     "61413a6eada299bd38599b0fee9c462597965d7780c6b523acecee24268843c31fbe34af004e8d5f784e52210a1f1"
     "5aea74395d9f9e06567134781a94a33"},
    {"2^1983+12345",
     "800000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "0000000000000000000000000003039",
     "3e650829fabbdeeb80b4644c4725c7825c36356fbbe31abb910ed6106512902ff1481ac61c0a3ddcd025f764bc22b"
     "558836da234a88a0a718496aaa991118d0f3043b5296e933e4a2d8b6419f6136b55d1dc1c5f7efa7fb05c1866647a"
     "99e69515ffe1e98988effb77ac22a2b7d80ea61111f4b88dd9043405ea2a051c95a390058b1ed2faeb7f0292977ef"
     "d5046a31e8cb125ca7c96ee8a8ee5e5821e8976e6c7860c24d8cf84074b7b7533ecac511b303fbad3781d00fcd7c4"
     "dd563bf75c6383ca911aa779b2198d17f494552af9bb65d6b6255ca00136aeff5c29ed22d66010fb3b32814ab91b0"
     "aef5b75f010b7531530765b37aa936c"},
    {"all ones",
     "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
     "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
     "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
     "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
     "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
     "fffffffffffffffffffffffffffffff",
     "8425d8ed3e3cf56c96dcdb94ac31aaa94d221825793294c4eab807a654d3becfa2f599beb3669d733d567e27e9ac7"
     "f82ba76b343aa7eb3c0d86d96b844864623f1b0f6adbc977b3940a9c9575b1544e77b02fcd74795ddff7865a3c03b"
     "179f66c1b4f3d916af256e5513d294486a05f19a58f46134032a7a73206fdbed0f8e95393fdfe3050d1f9f4bc5eca"
     "c221992d16bc588e7c405b04ffbce2d50d735c5af9ad40861b3fadefcd0978ff06f77ccdfdc2dc46cff59163d112c"
     "2a5cc23f44e72795f1e09af858b9120269ca667eeea66cea82d243b5c1652aaa5a6fcbe594776542bb4c47d531a58"
     "dd6668a82ccb0ace99c40d34439eece"},
};

TEST(LegacyCrypto, PowersMatchAnIndependentImplementation) {
  for (const auto& v : kPowerVectors) {
    SCOPED_TRACE(v.name);
    Number out{};
    ASSERT_EQ(legacy::Power::Ok, legacy::power(number(v.y), testExponent(), out));
    EXPECT_EQ(number(v.result), out);
  }
  Number out{};
  ASSERT_EQ(legacy::Power::Ok, legacy::powerOfGenerator(testExponent(), out));
  EXPECT_EQ(number(kPowerVectors[0].result), out);
}

TEST(LegacyCrypto, BothEndsAgreeOnTheSecret) {
  Number a{}, b{};
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] = uint8_t(i * 7 + 1);
    b[i] = uint8_t(i * 13 + 5);
  }
  Number ga{}, gb{}, sa{}, sb{};
  ASSERT_EQ(legacy::Power::Ok, legacy::powerOfGenerator(a, ga));
  ASSERT_EQ(legacy::Power::Ok, legacy::powerOfGenerator(b, gb));
  ASSERT_EQ(legacy::Power::Ok, legacy::power(gb, a, sa));
  ASSERT_EQ(legacy::Power::Ok, legacy::power(ga, b, sb));
  EXPECT_EQ(sa, sb);
  EXPECT_TRUE(legacy::usablePeerValue(ga));
  Number zero{}, one{}, two{};
  one[247] = 1;
  two[247] = 2;
  EXPECT_FALSE(legacy::usablePeerValue(zero));
  EXPECT_FALSE(legacy::usablePeerValue(one));
  EXPECT_TRUE(legacy::usablePeerValue(two));
  EXPECT_FALSE(legacy::usablePeerValue(number(std::string(496, 'f'))));
}

// The router's end, driven by the test.
class LegacyRouter {
public:
  // Answers the client's 248-byte value with its own (or with `reply` when given).
  Bytes answer(const Bytes& clientValue) {
    Number y, r{};
    std::memcpy(y.data(), clientValue.data(), y.size());
    r.fill(0x33);
    Number shared{}, k{};
    EXPECT_EQ(legacy::Power::Ok, legacy::power(y, r, shared));
    EXPECT_EQ(legacy::Power::Ok, legacy::powerOfGenerator(r, k));
    send_ = std::make_unique<StreamState>();
    send_->key(ByteSpan(shared.data() + 124, 124));
    receive_ = std::make_unique<StreamState>();
    receive_->key(ByteSpan(shared.data(), 124));
    return Bytes(k.begin(), k.end());
  }
  Bytes seal(const nv::message& m) {
    Bytes frame(12);
    EXPECT_TRUE(m.flatten(frame));
    size_t n = frame.size() - 12;
    frame[0] = uint8_t(n >> 8);
    frame[1] = uint8_t(n);
    auto check = send_->encrypt(frame.data() + 12, n);
    std::copy(check.begin(), check.end(), frame.begin() + 2);
    return frame;
  }
  nv::message open(Bytes frame) {
    EXPECT_TRUE(receive_->decrypt(frame.data() + 12, frame.size() - 12,
                                  std::span<const uint8_t, 10>(frame.data() + 2, 10)));
    return nv::message::fromBytes(ByteSpan(frame).subspan(12));
  }

private:
  std::unique_ptr<StreamState> send_, receive_;
};

const nv::u32_id kSeq{1};

nv::message request(std::vector<uint32_t> to, uint32_t seq) {
  nv::message m;
  m.set(SYS_TO, to);
  m.set(kSeq, seq);
  return m;
}

class LegacySessionTest : public ::testing::Test {
public:
  LegacySessionTest() { makeSession(); }
  void makeSession() {
    connection = makeRef<FakeConnection>();
    SessionHooks hooks;
    hooks.deliver = [this](const nv::message& m) { delivered.push_back(m); };
    hooks.probe = [this] {
      ++probes;
      session->post(request({1}, 0));
    };
    session = makeRef<LegacySession>(reactor, *connection, hooks);
    session->setReadyCallback([this] { ++ready; });
  }
  void handshake() {
    session->post(request({13, 4}, 1));
    Bytes value = connection->take();
    ASSERT_EQ(248u, value.size());
    connection->deliver(5, router.answer(value));
    ASSERT_FALSE(session->handshakePending());
  }

  PollReactor reactor{PollReactor::Clock::Manual};
  Reference<FakeConnection> connection;
  Reference<LegacySession> session;
  LegacyRouter router;
  std::vector<nv::message> delivered;
  int probes = 0, ready = 0;
  CaptureLogSink log;
};

TEST_F(LegacySessionTest, QueuedMessagesFollowTheHandshakeInOrder) {
  session->post(request({4}, 1));
  session->post(request({4}, 2));
  Bytes value = connection->take();
  EXPECT_TRUE(connection->sent.empty()); // nothing before the keys exist
  session->post(request({4}, 3));
  connection->deliver(5, router.answer(value));
  EXPECT_EQ(1, ready);
  ASSERT_EQ(3u, connection->sent.size());
  for (uint32_t i = 1; i <= 3; ++i)
    EXPECT_EQ(i, router.open(connection->take()).get(kSeq));
  connection->deliver(5, router.seal(request({0}, 9)));
  ASSERT_EQ(1u, delivered.size());
  EXPECT_EQ(9u, delivered[0].get(kSeq));
  EXPECT_TRUE(log.contains("sending first handshake"));
  EXPECT_TRUE(log.contains("doing handshake"));
}

TEST_F(LegacySessionTest, OverAnAgentThePathGetsTwoAndTheAgentInFront) {
  session->setAgentId(7);
  handshake();
  EXPECT_EQ((std::vector<uint32_t>{2, 7, 13, 4}), router.open(connection->take()).get(SYS_TO));
}

TEST_F(LegacySessionTest, MalformedInputEndsTheConnectionWithItsReason) {
  struct Case {
    const char* name;
    std::function<void(LegacySessionTest&)> act;
    std::string reason;
  } cases[] = {
      {"247-byte value", [](auto& t) { t.connection->deliver(5, Bytes(247, 9)); },
       "recvd bogus data"},
      {"249-byte value", [](auto& t) { t.connection->deliver(5, Bytes(249, 9)); },
       "recvd bogus data"},
      {"value one",
       [](auto& t) {
         Bytes one(248, 0);
         one[247] = 1;
         t.connection->deliver(5, one);
       },
       "recvd bogus data"},
      {"short frame",
       [](auto& t) {
         t.connection->deliver(5, t.router.answer(t.connection->take()));
         t.connection->deliver(5, Bytes(11, 0));
       },
       "received garbage"},
      {"flipped payload bit",
       [](auto& t) {
         t.connection->deliver(5, t.router.answer(t.connection->take()));
         Bytes f = t.router.seal(request({0}, 1));
         f[20] ^= 4;
         t.connection->deliver(5, f);
       },
       "decryption failed"},
      {"flipped check bit",
       [](auto& t) {
         t.connection->deliver(5, t.router.answer(t.connection->take()));
         Bytes f = t.router.seal(request({0}, 1));
         f[3] ^= 1;
         t.connection->deliver(5, f);
       },
       "decryption failed"},
      {"replayed frame",
       [](auto& t) {
         t.connection->deliver(5, t.router.answer(t.connection->take()));
         Bytes f = t.router.seal(request({0}, 1));
         t.connection->deliver(5, f);
         EXPECT_EQ(1u, t.delivered.size());
         t.connection->deliver(5, f);
       },
       "decryption failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    makeSession();
    delivered.clear();
    session->post(request({4}, 1));
    if (std::string(c.name).find("value") != std::string::npos)
      connection->take();
    c.act(*this);
    EXPECT_EQ(c.reason, connection->closeReason);
    EXPECT_TRUE(connection->receivers.empty());
  }
  EXPECT_EQ(0u, reactor.timerCount());
}

TEST_F(LegacySessionTest, IdleProbeThenNoAnswerEndsTheConnection) {
  handshake();
  reactor.advance(20000);
  EXPECT_EQ(1, probes);
  reactor.advance(9999);
  EXPECT_FALSE(connection->isClosed());
  reactor.advance(1);
  EXPECT_EQ("other end is not responding", connection->closeReason);
}

TEST_F(LegacySessionTest, DescribeAndAdoptCarryTheStreamStates) {
  session->setAgentId(4);
  handshake();
  router.open(connection->take());
  nv::message description = session->describe();
  auto other = makeRef<FakeConnection>();
  SessionHooks hooks;
  hooks.deliver = [this](const nv::message& m) { delivered.push_back(m); };
  hooks.probe = [] {};
  auto adopted = makeRef<LegacySession>(reactor, *other, hooks);
  EXPECT_FALSE(adopted->adopt(nv::message()));
  ASSERT_TRUE(adopted->adopt(description));
  adopted->post(request({5}, 6));
  nv::message sent = router.open(other->take());
  EXPECT_EQ((std::vector<uint32_t>{2, 4, 5}), sent.get(SYS_TO));
  other->deliver(5, router.seal(request({0}, 8)));
  ASSERT_EQ(1u, delivered.size());
  adopted->stop();
}

// A frame cut in two by the hand-over is completed by the adopter, whose stream state then
// still matches the router's for the frame after it.
TEST_F(LegacySessionTest, AdopterFinishesAHalfReceivedFrame) {
  handshake();
  Bytes cut = router.seal(request({0}, 1));
  Bytes next = router.seal(request({0}, 2));
  size_t half = cut.size() / 2;
  ASSERT_GT(half, 12u);
  connection->deliver(5, ByteSpan(cut.data(), half));
  nv::message description = session->describe();
  session->stop();
  auto other = makeRef<FakeConnection>();
  SessionHooks hooks;
  hooks.deliver = [this](const nv::message& m) { delivered.push_back(m); };
  hooks.probe = [] {};
  auto adopted = makeRef<LegacySession>(reactor, *other, hooks);
  ASSERT_TRUE(adopted->adopt(description));
  other->deliver(5, ByteSpan(cut.data() + half, cut.size() - half));
  other->deliver(5, next);
  ASSERT_EQ(2u, delivered.size());
  EXPECT_EQ(1u, delivered[0].get(kSeq));
  EXPECT_EQ(2u, delivered[1].get(kSeq));
  EXPECT_FALSE(other->isClosed());
  adopted->stop();
}

} // namespace
} // namespace kestel
