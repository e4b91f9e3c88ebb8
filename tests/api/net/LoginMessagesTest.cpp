// Both ends of the login's messages against each other: right and wrong passwords, salted and
// unsalted, and challenges that must yield no response. The bytes of the client's end are checked
// against an independent computation in LoginKnownAnswerTest.
#include "LoginTestSupport.h"

#include "api/net/LoginMessages.h"

#include <algorithm>
#include <random>

namespace kestel {
namespace {

using namespace login;

struct ExchangeRun {
  std::optional<Bytes> response;
  std::optional<std::string> proof;
  bool clientAccepts = false;
  bool keysMatch = false;
};

ExchangeRun runExchange(const RouterUser* user, const std::string& login,
                        const std::string& password, uint32_t seed) {
  std::mt19937 rng(seed);
  std::array<uint8_t, 32> a, b;
  for (auto& x : a)
    x = uint8_t(rng());
  for (auto& x : b)
    x = uint8_t(rng());
  RouterUser decoy;
  decoy.salted = user && user->salted;
  ClientExchange client(login, password, a);
  RouterExchange router(user, decoy, b);
  ExchangeRun run;
  auto challenge = router.challenge(client.firstChallenge());
  EXPECT_TRUE(challenge.has_value());
  if (!challenge)
    return run;
  EXPECT_EQ(user && user->salted ? 49u : 33u, challenge->size());
  auto response = client.respond(*challenge);
  if (!response)
    return run;
  run.response = *response;
  run.proof = router.checkResponse(*run.response);
  if (run.proof) {
    run.clientAccepts = client.acceptProof(asBytes(*run.proof));
    run.keysMatch = client.keys().send == router.keys().receive &&
                    client.keys().receive == router.keys().send &&
                    client.keys().send != client.keys().receive;
  }
  return run;
}

TEST(LoginMessages, BothEndsAgreeOnlyWithTheRightPassword) {
  std::array<uint8_t, 16> salt{};
  salt.fill(0x5A);
  RouterUser plain{"admin", false, "secret", {}};
  RouterUser salted{"admin", true, "", makeVerifier("admin", "secret", salt)};
  struct Case {
    const RouterUser* user;
    std::string login, password;
    bool accepted;
  } cases[] = {
      {&plain, "admin", "secret", true},
      {&plain, "admin+ct", "secret", true},
      {&plain, "admin", "Secret", false},
      {&plain, "admin", "", false},
      {&salted, "admin", "secret", true},
      {&salted, "admin+r", "secret", true},
      {&salted, "admin", "secreT", false},
      {nullptr, "nobody", "secret", false},
      {&plain, "admin", std::string(300, 'p'), false},
  };
  uint32_t seed = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.login + "/" + c.password.substr(0, 10));
    ExchangeRun run = runExchange(c.user, c.login, c.password, seed++);
    ASSERT_TRUE(run.response.has_value());
    EXPECT_EQ(c.accepted, run.proof.has_value());
    EXPECT_EQ(c.accepted, run.clientAccepts);
    EXPECT_EQ(c.accepted, run.keysMatch);
  }
}

TEST(LoginMessages, ChallengesThatYieldNoResponseSayWhy) {
  std::array<uint8_t, 32> a{};
  a.fill(3);
  ClientExchange client("admin", "x", a);
  const ec::Encoded good = makeKeyPair(a).publicKey;
  const Bytes point(good.begin(), good.end());
  Bytes notOnCurve = point;
  for (uint8_t i = 0; ec::decodePoint(notOnCurve).ok(); ++i)
    notOnCurve[32] = uint8_t(point[32] + i);
  Bytes saltedOffCurve = notOnCurve;
  saltedOffCurve.resize(49, 1);
  struct Case {
    Bytes challenge;
    std::string reason;
  } cases[] = {
      {{}, "challenge is neither 33 nor 49 bytes"},
      {Bytes(32, 2), "challenge is neither 33 nor 49 bytes"},
      {Bytes(34, 2), "challenge is neither 33 nor 49 bytes"},
      {Bytes(48, 2), "challenge is neither 33 nor 49 bytes"},
      {Bytes(50, 2), "challenge is neither 33 nor 49 bytes"},
      {notOnCurve, "point not on the curve"},
      {saltedOffCurve, "point not on the curve"},
      {Bytes(33, 0), "bad point prefix"},
  };
  for (const auto& c : cases) {
    auto response = client.respond(c.challenge);
    ASSERT_FALSE(response.ok()) << c.challenge.size();
    EXPECT_EQ(c.reason, response.error().text) << c.challenge.size();
  }
  EXPECT_FALSE(client.acceptProof(asBytes("S=")));
  EXPECT_TRUE(client.respond(point).ok());
  EXPECT_FALSE(client.acceptProof(Bytes(42, '0')));
}

// A salted challenge whose point is valid but becomes a point of small order once the client
// takes the blinding off: Y = w0 N + T for the router's own w0 N and a point T of order four.
TEST(LoginMessages, SaltedChallengeThatUnblindsToSmallOrderYieldsNoResponse) {
  std::array<uint8_t, 16> salt{};
  salt.fill(0x33);
  RouterUser user{"admin", true, "", makeVerifier("admin", "secret", salt)};
  RouterUser decoy;
  std::array<uint8_t, 32> a{}, b{};
  a.fill(1);
  b.fill(2);
  ClientExchange client("admin", "secret", a);
  RouterExchange router(&user, decoy, b);
  auto challenge = router.challenge(client.firstChallenge());
  ASSERT_TRUE(challenge && challenge->size() == 49);
  const ec::Point y = *ec::decodePoint(ByteSpan(*challenge).first(33));
  const ec::Point blind = ec::add(y, ec::negate(ec::mul(makeKeyPair(b).scalar, ec::basePoint())));
  std::array<uint8_t, 32> one{};
  one[0] = 1; // u = 1: a point of order four
  const ec::Point orderFour = *ec::pointFromMontgomeryU(one);
  const ec::Encoded forged = *ec::encodePoint(ec::add(blind, orderFour));
  Bytes bad(forged.size() + salt.size());
  std::copy(salt.begin(), salt.end(), std::copy(forged.begin(), forged.end(), bad.begin()));
  auto response = client.respond(bad);
  ASSERT_FALSE(response.ok());
  EXPECT_EQ("salted challenge unblinds to a point of small order", response.error().text);
  EXPECT_TRUE(client.respond(*challenge).ok());
}

TEST(LoginMessages, RouterRefusesMalformedFirstChallenges) {
  std::array<uint8_t, 32> b{};
  b.fill(9);
  RouterUser decoy;
  std::array<uint8_t, 32> a{};
  a.fill(4);
  Bytes good = ClientExchange("admin", "x", a).firstChallenge();
  ASSERT_FALSE(good.empty());
  Bytes noZero(good.begin(), good.begin() + std::ptrdiff_t(good.size() - 1));
  Bytes badPoint = good;
  badPoint[0] = 7;
  for (const Bytes& first : {Bytes{}, Bytes(33, 2), noZero, badPoint}) {
    RouterExchange router(nullptr, decoy, b);
    EXPECT_FALSE(router.challenge(first).has_value());
  }
  RouterExchange router(nullptr, decoy, b);
  EXPECT_TRUE(router.challenge(good).has_value());
  EXPECT_FALSE(router.checkResponse(Bytes(23, 0)).has_value());
}

} // namespace
} // namespace kestel
