#include "api/net/LoginExchange.h"

#include "crypto/Sha.h"

#include <cstring>

namespace kestel::login {
namespace {

using Scalar = std::array<uint8_t, kScalarLength>;

Scalar scalarFromHash(ByteSpan a, std::string_view b) {
  Sha256 sha;
  sha.update(a);
  sha.update(asBytes(b));
  Scalar s;
  sha.final(s.data());
  return s;
}

Point timesEight(const Point& p) {
  Scalar eight{};
  eight[0] = 8;
  return multiply(eight, p);
}

// The blinding point of the salted exchange: the first valid x from SHA-256 of a fixed text and
// a counter, times the cofactor. Nobody knows its discrete logarithm.
const Point& blindingPoint() {
  static const Point n = [] {
    for (uint8_t counter = 0;; ++counter) {
      Sha256 sha;
      sha.update(asBytes("Kestel salted login blinding point"));
      sha.update(&counter, 1);
      Encoded e{};
      e[0] = 0x02;
      sha.final(e.data() + 1);
      e[1] &= 0x7F;
      if (auto p = decode(e))
        return timesEight(*p);
    }
  }();
  return n;
}

struct Scalars {
  Scalar w0, w1;
};
Scalars saltedScalars(ByteSpan salt, std::string_view user, std::string_view password) {
  SecureBytes pv = passwordValue(loginUserName(user), password, salt);
  return {scalarFromHash(pv, "w0"), scalarFromHash(pv, "w1")};
}

// The secret of the salted exchange: both products and the whole transcript.
SecureBytes saltedSecret(const Encoded& z, const Encoded& v, ByteSpan clientKey, ByteSpan challenge,
                         std::string_view user) {
  Sha256 sha;
  sha.update(z);
  sha.update(v);
  sha.update(clientKey);
  sha.update(challenge);
  sha.update(asBytes(loginUserName(user)));
  SecureBytes out(32);
  sha.final(out.data());
  return out;
}

// Stands in for the password hash in the salted exchange: it needs the secret, which needs the
// password, but the router never needs the password itself.
SecureBytes saltedPasswordHash(ByteSpan secret) {
  Sha256 sha;
  sha.update(secret);
  sha.update(asBytes("password hash"));
  SecureBytes d(32);
  sha.final(d.data());
  d.resize(16);
  return d;
}

struct Confirmation {
  std::array<uint8_t, kResponseLength> response;
  std::string proof;
};
Confirmation confirm(ByteSpan secret, ByteSpan routerChallenge, ByteSpan clientKey,
                     std::string_view user, ByteSpan passwordHash) {
  auto peer = challengeValue(secret, routerChallenge, ChallengeSide::Peer);
  auto auth = challengeValue(secret, clientKey, ChallengeSide::Authenticator);
  ChallengeHash hash = challengeHash(peer, auth, loginUserName(user));
  Confirmation c;
  c.response = challengeResponse(hash, passwordHash);
  c.proof = authenticatorResponse(hashNtPasswordHash(passwordHash), c.response, hash);
  return c;
}

} // namespace

SessionKeys deriveKeys(ByteSpan secret, Side side) {
  DirectionKeys keys = deriveDirectionKeys(secret);
  if (side == Side::Client)
    return {std::move(keys.receive), std::move(keys.send)};
  return {std::move(keys.send), std::move(keys.receive)};
}

Verifier makeVerifier(std::string_view user, std::string_view password,
                      std::span<const uint8_t, kSaltLength> salt) {
  Verifier v;
  std::memcpy(v.salt.data(), salt.data(), kSaltLength);
  Scalars s = saltedScalars(salt, user, password);
  v.w0 = s.w0;
  v.L = *encode(multiply(s.w1, basePoint()));
  secureWipe(s.w1.data(), s.w1.size());
  return v;
}

// ---- Client ------------------------------------------------------------------------------------

ClientExchange::ClientExchange(std::string user, std::string password,
                               std::span<const uint8_t, kScalarLength> random)
    : user_(std::move(user)), password_(std::move(password)), scalar_(clampScalar(random)) {
  publicKey_ = *encode(multiply(scalar_, basePoint()));
}

ClientExchange::~ClientExchange() {
  secureWipe(scalar_.data(), scalar_.size());
  secureWipe(password_.data(), password_.size());
  secureWipe(expectedProof_.data(), expectedProof_.size());
}

Bytes ClientExchange::firstChallenge() const {
  Bytes out(publicKey_.begin(), publicKey_.end());
  out.insert(out.end(), user_.begin(), user_.end());
  out.push_back(0);
  return out;
}

std::optional<Bytes> ClientExchange::respond(ByteSpan challenge) {
  if (challenge.size() != kPointLength && challenge.size() != kPointLength + kSaltLength)
    return std::nullopt;
  auto w = decode(challenge.first(kPointLength));
  if (!w)
    return std::nullopt;
  SecureBytes secret;
  SecureBytes passwordHash;
  if (challenge.size() == kPointLength) {
    auto z = encode(multiply(scalar_, *w));
    if (!z)
      return std::nullopt;
    secret.assign(z->begin(), z->end());
    passwordHash = ntPasswordHash(password_);
  } else {
    Scalars s = saltedScalars(challenge.subspan(kPointLength), user_, password_);
    Point t = ec::add(*w, negate(multiply(s.w0, blindingPoint())));
    auto z = encode(timesEight(multiply(scalar_, t)));
    auto v = encode(timesEight(multiply(s.w1, t)));
    secureWipe(&s, sizeof s);
    if (!z || !v)
      return std::nullopt;
    secret = saltedSecret(*z, *v, publicKey_, challenge, user_);
    passwordHash = saltedPasswordHash(secret);
  }
  Confirmation c = confirm(secret, challenge, publicKey_, user_, passwordHash);
  expectedProof_ = std::move(c.proof);
  keys_ = deriveKeys(secret, Side::Client);
  return Bytes(c.response.begin(), c.response.end());
}

bool ClientExchange::acceptProof(ByteSpan proof) const {
  return !expectedProof_.empty() && proofMatches(expectedProof_, proof);
}

// ---- Router ------------------------------------------------------------------------------------

RouterExchange::RouterExchange(const RouterUser* user, const RouterUser& decoy,
                               std::span<const uint8_t, kScalarLength> random)
    : user_(user), decoy_(decoy), scalar_(clampScalar(random)) {}

RouterExchange::~RouterExchange() { secureWipe(scalar_.data(), scalar_.size()); }

std::optional<Bytes> RouterExchange::challenge(ByteSpan first) {
  if (first.size() < kPointLength + 1 || first.back() != 0)
    return std::nullopt;
  auto a = decode(first.first(kPointLength));
  if (!a)
    return std::nullopt;
  std::memcpy(clientKey_.data(), first.data(), kPointLength);
  login_.assign(reinterpret_cast<const char*>(first.data()) + kPointLength,
                first.size() - kPointLength - 1);
  if (login_.find('\0') != std::string::npos)
    return std::nullopt;
  const RouterUser& u = user_ ? *user_ : decoy_;
  if (!u.salted) {
    challenge_.assign(kPointLength, 0);
    auto w = *encode(multiply(scalar_, basePoint()));
    std::memcpy(challenge_.data(), w.data(), kPointLength);
    auto z = encode(multiply(scalar_, *a));
    if (!z)
      return std::nullopt;
    secret_.assign(z->begin(), z->end());
    return challenge_;
  }
  Point y = ec::add(multiply(scalar_, basePoint()), multiply(u.verifier.w0, blindingPoint()));
  auto yEncoded = encode(y);
  auto l = decode(u.verifier.L);
  if (!yEncoded || !l)
    return std::nullopt;
  challenge_.assign(yEncoded->begin(), yEncoded->end());
  challenge_.insert(challenge_.end(), u.verifier.salt.begin(), u.verifier.salt.end());
  auto z = encode(timesEight(multiply(scalar_, *a)));
  auto v = encode(timesEight(multiply(scalar_, *l)));
  if (!z || !v)
    return std::nullopt;
  secret_ = saltedSecret(*z, *v, clientKey_, challenge_, login_);
  return challenge_;
}

std::optional<std::string> RouterExchange::checkResponse(ByteSpan response) {
  if (secret_.empty() || response.size() != kResponseLength)
    return std::nullopt;
  const RouterUser& u = user_ ? *user_ : decoy_;
  SecureBytes passwordHash = u.salted ? saltedPasswordHash(secret_) : ntPasswordHash(u.password);
  Confirmation c = confirm(secret_, challenge_, clientKey_, login_, passwordHash);
  if (!user_ || !constantTimeEqual(response, c.response))
    return std::nullopt;
  keys_ = deriveKeys(secret_, Side::Router);
  return c.proof;
}

} // namespace kestel::login
