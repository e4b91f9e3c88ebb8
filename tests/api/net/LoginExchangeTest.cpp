// The curve against the published RFC 7748 vectors, and both ends of the exchange against
// each other: right and wrong passwords, salted and unsalted, and challenges that must yield no
// response.
#include "LoginTestSupport.h"

#include "api/net/LoginExchange.h"

#include <random>

namespace kestel {
namespace {

using namespace login;
using test::fromHex;
using test::vectors;

std::array<uint8_t, 32> to32(const Bytes& b) {
  std::array<uint8_t, 32> out{};
  std::copy(b.begin(), b.end(), out.begin());
  return out;
}

TEST(LoginCurve, MatchesTheCurve25519Vectors) {
  for (const auto& v : vectors()["x25519_dh"]) {
    auto alice = clampScalar(to32(fromHex(v["alice_private"])));
    auto bob = clampScalar(to32(fromHex(v["bob_private"])));
    Point a = multiply(alice, basePoint());
    Point b = multiply(bob, basePoint());
    EXPECT_EQ(to32(fromHex(v["alice_public"])), ec::montgomeryU(a));
    EXPECT_EQ(to32(fromHex(v["bob_public"])), ec::montgomeryU(b));
    // Through the 33-byte form, as the points travel.
    Point bDecoded = *decode(*encode(b));
    EXPECT_EQ(to32(fromHex(v["shared_secret"])), ec::montgomeryU(multiply(alice, bDecoded)));
  }
}

TEST(LoginCurve, RejectsMalformedPoints) {
  Encoded good = *encode(basePoint());
  Encoded wrongPrefix = good;
  wrongPrefix[0] = 0x04;
  Encoded xTooBig{};
  xTooBig[0] = 0x02;
  std::fill(xTooBig.begin() + 1, xTooBig.end(), 0xFF);
  int offCurve = 0;
  for (uint8_t last = 0; last < 20; ++last) {
    Encoded e = good;
    e[32] = uint8_t(e[32] + last + 1);
    offCurve += decode(e) ? 0 : 1;
  }
  EXPECT_TRUE(decode(good).has_value());
  EXPECT_FALSE(decode(wrongPrefix).has_value());
  EXPECT_FALSE(decode(xTooBig).has_value());
  EXPECT_FALSE(decode(ByteSpan(good).first(32)).has_value());
  EXPECT_GT(offCurve, 0); // about half of all x values are not on the curve
}

TEST(LoginCurve, RejectsTheSmallOrderPoints) {
  // x = A/3 (u = 0) with y = 0 has order two; its encoding is 0x02 | x.
  Point base = basePoint();
  Encoded e = *encode(base);
  // x(base) - 9 = A/3: subtract 9 from the big-endian x.
  int borrow = 9;
  for (int i = 32; i >= 1 && borrow; --i) {
    int v = e[i] - borrow;
    borrow = v < 0 ? 1 : 0;
    e[i] = uint8_t(v & 0xFF);
  }
  e[0] = 0x02;
  EXPECT_FALSE(decode(e).has_value());
  e[0] = 0x03;
  EXPECT_FALSE(decode(e).has_value());
}

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
  run.response = client.respond(*challenge);
  if (!run.response)
    return run;
  run.proof = router.checkResponse(*run.response);
  if (run.proof) {
    run.clientAccepts = client.acceptProof(asBytes(*run.proof));
    run.keysMatch = client.keys().send == router.keys().receive &&
                    client.keys().receive == router.keys().send &&
                    client.keys().send != client.keys().receive;
  }
  return run;
}

TEST(LoginExchange, BothEndsAgreeOnlyWithTheRightPassword) {
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

TEST(LoginExchange, ChallengesThatYieldNoResponse) {
  std::array<uint8_t, 32> a{};
  a.fill(3);
  ClientExchange client("admin", "x", a);
  Encoded good = *encode(multiply(clampScalar(a), basePoint()));
  Bytes point(good.begin(), good.end());
  Bytes notOnCurve = point;
  for (uint8_t i = 0; decode(notOnCurve); ++i)
    notOnCurve[32] = uint8_t(point[32] + i);
  std::vector<Bytes> bogus = {{},           Bytes(32, 2), Bytes(34, 2), Bytes(48, 2),
                              Bytes(50, 2), notOnCurve,   Bytes(33, 0)};
  Bytes salted = notOnCurve;
  salted.resize(49, 1);
  bogus.push_back(salted);
  for (const auto& b : bogus)
    EXPECT_FALSE(client.respond(b).has_value()) << b.size();
  EXPECT_FALSE(client.acceptProof(asBytes("S=")));
  EXPECT_TRUE(client.respond(point).has_value());
  EXPECT_FALSE(client.acceptProof(Bytes(42, '0')));
}

TEST(LoginExchange, RouterRefusesMalformedFirstChallenges) {
  std::array<uint8_t, 32> b{};
  b.fill(9);
  RouterUser decoy;
  std::array<uint8_t, 32> a{};
  a.fill(4);
  Bytes good = ClientExchange("admin", "x", a).firstChallenge();
  Bytes noZero = good;
  noZero.pop_back();
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
