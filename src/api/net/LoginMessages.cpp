#include "api/net/LoginMessages.h"

#include "crypto/Sha.h"

#include <cstring>

namespace kestel::login {
namespace {

ec::Scalar scalarFromHash(ByteSpan a, std::string_view b) {
  Sha256 sha;
  sha.update(a);
  sha.update(asBytes(b));
  ec::Scalar s;
  sha.final(s.data());
  return s;
}

// The blinding point of the salted exchange: the first valid x from SHA-256 of a fixed text and
// a counter, times the cofactor. Nobody knows its discrete logarithm.
const ec::Point& blindingPoint() {
  static const ec::Point n = [] {
    for (uint8_t counter = 0;; ++counter) {
      Sha256 sha;
      sha.update(asBytes("Kestel salted login blinding point"));
      sha.update(&counter, 1);
      ec::Encoded e{};
      e[0] = 0x02;
      sha.final(e.data() + 1);
      e[1] &= 0x7F;
      if (auto p = ec::decodePoint(e); p.ok())
        return ec::timesCofactor(*p);
    }
  }();
  return n;
}

struct Scalars {
  ec::Scalar w0, w1;
};
Scalars saltedScalars(ByteSpan salt, std::string_view user, std::string_view password) {
  SecureBytes pv = passwordValue(loginUserName(user), password, salt);
  return {scalarFromHash(pv, "w0"), scalarFromHash(pv, "w1")};
}

// The secret of the salted exchange: both products and the whole transcript.
SecureBytes saltedSecret(const ec::Encoded& z, const ec::Encoded& v, ByteSpan clientKey,
                         ByteSpan challenge, std::string_view user) {
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
  v.L = *ec::encodePoint(ec::mul(s.w1, ec::basePoint()));
  secureWipe(s.w1.data(), s.w1.size());
  return v;
}

// ---- Client ------------------------------------------------------------------------------------

ClientExchange::ClientExchange(std::string user, std::string password,
                               std::span<const uint8_t, kScalarLength> random)
    : user_(std::move(user)), password_(std::move(password)), keyPair_(makeKeyPair(random)) {}

ClientExchange::~ClientExchange() {
  secureWipe(password_.data(), password_.size());
  secureWipe(expectedProof_.data(), expectedProof_.size());
}

Bytes ClientExchange::firstChallenge() const {
  Bytes out(keyPair_.publicKey.begin(), keyPair_.publicKey.end());
  out.insert(out.end(), user_.begin(), user_.end());
  out.push_back(0);
  return out;
}

Expected<SecureBytes> ClientExchange::saltedSecret(ByteSpan challenge) const {
  auto y = ec::decodePoint(challenge.first(kPointLength));
  if (!y)
    return y.error();
  Scalars s = saltedScalars(challenge.subspan(kPointLength), user_, password_);
  const ec::Point t = ec::add(*y, ec::negate(ec::mul(s.w0, blindingPoint())));
  if (ec::hasSmallOrder(t)) {
    secureWipe(&s, sizeof s);
    return makeError("salted challenge unblinds to a point of small order");
  }
  auto z = ec::encodePoint(ec::timesCofactor(ec::mul(keyPair_.scalar, t)));
  auto v = ec::encodePoint(ec::timesCofactor(ec::mul(s.w1, t)));
  secureWipe(&s, sizeof s);
  if (!z || !v)
    return makeError("salted challenge gives the point at infinity");
  return login::saltedSecret(*z, *v, keyPair_.publicKey, challenge, user_);
}

Expected<Bytes> ClientExchange::respond(ByteSpan challenge) {
  const bool salted = challenge.size() == kPointLength + kSaltLength;
  if (challenge.size() != kPointLength && !salted)
    return makeError("challenge is neither 33 nor 49 bytes");
  auto secret = salted ? saltedSecret(challenge) : sharedSecret(keyPair_.scalar, challenge);
  if (!secret)
    return secret.error();
  LoginResponse response =
      salted ? loginResponseForHash(*secret, challenge, keyPair_.publicKey, user_,
                                    saltedPasswordHash(*secret))
             : loginResponse(*secret, challenge, keyPair_.publicKey, user_, password_);
  expectedProof_ = std::move(response.expectedProof);
  keys_ = deriveKeys(*secret, Side::Client);
  return Bytes(response.ntResponse.begin(), response.ntResponse.end());
}

bool ClientExchange::acceptProof(ByteSpan proof) const {
  return !expectedProof_.empty() && proofMatches(expectedProof_, proof);
}

// ---- Router ------------------------------------------------------------------------------------

RouterExchange::RouterExchange(const RouterUser* user, const RouterUser& decoy,
                               std::span<const uint8_t, kScalarLength> random)
    : user_(user), decoy_(decoy), keyPair_(makeKeyPair(random)) {}

std::optional<Bytes> RouterExchange::challenge(ByteSpan first) {
  if (first.size() < kPointLength + 1 || first.back() != 0)
    return std::nullopt;
  const ByteSpan clientKey = first.first(kPointLength);
  auto a = ec::decodePoint(clientKey);
  if (!a)
    return std::nullopt;
  std::memcpy(clientKey_.data(), clientKey.data(), kPointLength);
  login_.assign(reinterpret_cast<const char*>(first.data()) + kPointLength,
                first.size() - kPointLength - 1);
  if (login_.find('\0') != std::string::npos)
    return std::nullopt;
  const RouterUser& u = user_ ? *user_ : decoy_;
  if (!u.salted) {
    auto secret = sharedSecret(keyPair_.scalar, clientKey);
    if (!secret)
      return std::nullopt;
    secret_ = std::move(secret).value();
    challenge_.assign(keyPair_.publicKey.begin(), keyPair_.publicKey.end());
    return challenge_;
  }
  const ec::Point y =
      ec::add(ec::mul(keyPair_.scalar, ec::basePoint()), ec::mul(u.verifier.w0, blindingPoint()));
  auto yEncoded = ec::encodePoint(y);
  auto l = ec::decodePoint(u.verifier.L);
  if (!yEncoded || !l)
    return std::nullopt;
  challenge_.assign(yEncoded->begin(), yEncoded->end());
  challenge_.insert(challenge_.end(), u.verifier.salt.begin(), u.verifier.salt.end());
  auto z = ec::encodePoint(ec::timesCofactor(ec::mul(keyPair_.scalar, *a)));
  auto v = ec::encodePoint(ec::timesCofactor(ec::mul(keyPair_.scalar, *l)));
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
  LoginResponse expected =
      loginResponseForHash(secret_, challenge_, clientKey_, login_, passwordHash);
  if (!user_ || !constantTimeEqual(response, expected.ntResponse))
    return std::nullopt;
  keys_ = deriveKeys(secret_, Side::Router);
  return expected.expectedProof;
}

} // namespace kestel::login
