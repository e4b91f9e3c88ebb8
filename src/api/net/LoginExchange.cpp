#include "api/net/LoginExchange.h"

#include "crypto/Des.h"
#include "crypto/Hmac.h"
#include "crypto/Md.h"
#include "crypto/Sha.h"
#include "util/Assert.h"

#include <cstring>

namespace kestel::login {
namespace {

constexpr std::string_view kPeerConstant = "This is for peer challenge";
constexpr std::string_view kAutherConstant = "This is for auther challenge";
constexpr std::string_view kMagic1 = "Magic server to client signing constant";
constexpr std::string_view kMagic2 = "Pad to make it do more than one iteration";
constexpr std::string_view kClientReceive =
    "On the client side, this is the receive key; on the server side, it is the send key.";
constexpr std::string_view kClientSend =
    "On the client side, this is the send key; on the server side, it is the receive key.";

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
  SecureBytes pv = passwordValue(salt, plainUser(user), password);
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
  sha.update(asBytes(plainUser(user)));
  SecureBytes out(32);
  sha.final(out.data());
  return out;
}

// Stands in for the password hash in the salted exchange: it needs the secret, which needs the
// password, but the router never needs the password itself.
std::array<uint8_t, 16> saltedPasswordHash(ByteSpan secret) {
  Sha256 sha;
  sha.update(secret);
  sha.update(asBytes("password hash"));
  uint8_t d[32];
  sha.final(d);
  std::array<uint8_t, 16> out;
  std::memcpy(out.data(), d, 16);
  secureWipe(d, sizeof d);
  return out;
}

struct Confirmation {
  std::array<uint8_t, kResponseLength> response;
  std::string proof;
};
Confirmation confirm(ByteSpan secret, ByteSpan routerChallenge, ByteSpan clientKey,
                     std::string_view user, ByteSpan passwordHash) {
  auto peer = challengeValue(secret, routerChallenge, true);
  auto auth = challengeValue(secret, clientKey, false);
  auto hash = challengeHash(peer, auth, plainUser(user));
  Confirmation c;
  c.response = ntResponse(hash, passwordHash);
  c.proof = authenticatorResponse(passwordHash, c.response, hash);
  return c;
}

} // namespace

SecureBytes passwordValue(ByteSpan salt, std::string_view user, std::string_view password) {
  Sha256 inner;
  inner.update(asBytes(user));
  inner.update(asBytes(":"));
  inner.update(asBytes(password));
  SecureBytes h(32);
  inner.final(h.data());
  Sha256 outer;
  outer.update(salt);
  outer.update(h);
  SecureBytes out(32);
  outer.final(out.data());
  return out;
}

std::array<uint8_t, 16> challengeValue(ByteSpan first, ByteSpan second, bool peer) {
  static const uint8_t zeros[40] = {};
  uint8_t pad[40];
  std::memset(pad, 0xF2, sizeof pad);
  Sha1 sha;
  sha.update(first);
  sha.update(second);
  sha.update(zeros, sizeof zeros);
  sha.update(asBytes(peer ? kPeerConstant : kAutherConstant));
  sha.update(pad, sizeof pad);
  uint8_t d[20];
  sha.final(d);
  std::array<uint8_t, 16> out;
  std::memcpy(out.data(), d, 16);
  return out;
}

std::array<uint8_t, 16> ntPasswordHash(std::string_view password) {
  SecureBytes wide;
  for (size_t i = 0; i < password.size() && wide.size() < 512; ++i) {
    wide.push_back(uint8_t(password[i]));
    wide.push_back(0);
  }
  Md4 md4;
  md4.update(wide);
  std::array<uint8_t, 16> out;
  md4.final(out.data());
  return out;
}

std::array<uint8_t, 8> challengeHash(ByteSpan peer, ByteSpan authenticator, std::string_view user) {
  Sha1 sha;
  sha.update(peer);
  sha.update(authenticator);
  sha.update(asBytes(user));
  uint8_t d[20];
  sha.final(d);
  std::array<uint8_t, 8> out;
  std::memcpy(out.data(), d, 8);
  return out;
}

std::array<uint8_t, kResponseLength> ntResponse(ByteSpan challenge8, ByteSpan passwordHash16) {
  KESTEL_ASSERT(challenge8.size() == 8 && passwordHash16.size() == 16, "api/net/LoginExchange");
  uint8_t z[21] = {};
  std::memcpy(z, passwordHash16.data(), 16);
  std::array<uint8_t, kResponseLength> out;
  for (int i = 0; i < 3; ++i) {
    uint8_t key[8];
    desSpreadKey(z + 7 * i, key);
    desEncryptBlock(key, challenge8.data(), out.data() + 8 * i);
    secureWipe(key, sizeof key);
  }
  secureWipe(z, sizeof z);
  return out;
}

std::string authenticatorResponse(ByteSpan passwordHash16, ByteSpan response24,
                                  ByteSpan challenge8) {
  Md4 md4;
  md4.update(passwordHash16);
  uint8_t hashHash[16];
  md4.final(hashHash);
  Sha1 sha;
  sha.update(hashHash, sizeof hashHash);
  sha.update(response24);
  sha.update(asBytes(kMagic1));
  uint8_t digest[20];
  sha.final(digest);
  sha.update(digest, sizeof digest);
  sha.update(challenge8);
  sha.update(asBytes(kMagic2));
  sha.final(digest);
  secureWipe(hashHash, sizeof hashHash);
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "S=";
  for (uint8_t b : digest) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

std::string_view plainUser(std::string_view login) { return login.substr(0, login.find('+')); }

SecureBytes asymmetricStartKey(ByteSpan secret, bool clientReceive) {
  static const uint8_t zeros[40] = {};
  uint8_t pad[40];
  std::memset(pad, 0xF2, sizeof pad);
  Sha1 sha;
  sha.update(secret);
  sha.update(zeros, sizeof zeros);
  sha.update(asBytes(clientReceive ? kClientReceive : kClientSend));
  sha.update(pad, sizeof pad);
  SecureBytes key(20);
  sha.final(key.data());
  return key;
}

SessionKeys deriveKeys(ByteSpan secret, Side side) {
  auto expand = [&](bool clientReceive) {
    auto expanded =
        hkdf(Sha1(), {}, asymmetricStartKey(secret, clientReceive), {}, kSessionKeyLength);
    KESTEL_ASSERT(expanded.ok(), "api/net/LoginExchange");
    return std::move(expanded.value());
  };
  SecureBytes clientReceive = expand(true);
  SecureBytes clientSend = expand(false);
  if (side == Side::Client)
    return {std::move(clientReceive), std::move(clientSend)};
  return {std::move(clientSend), std::move(clientReceive)};
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
  std::array<uint8_t, 16> passwordHash;
  if (challenge.size() == kPointLength) {
    auto z = encode(multiply(scalar_, *w));
    if (!z)
      return std::nullopt;
    secret.assign(z->begin(), z->end());
    passwordHash = ntPasswordHash(password_);
  } else {
    Scalars s = saltedScalars(challenge.subspan(kPointLength), user_, password_);
    Point t = add(*w, negate(multiply(s.w0, blindingPoint())));
    auto z = encode(timesEight(multiply(scalar_, t)));
    auto v = encode(timesEight(multiply(s.w1, t)));
    secureWipe(&s, sizeof s);
    if (!z || !v)
      return std::nullopt;
    secret = saltedSecret(*z, *v, publicKey_, challenge, user_);
    passwordHash = saltedPasswordHash(secret);
  }
  Confirmation c = confirm(secret, challenge, publicKey_, user_, passwordHash);
  secureWipe(passwordHash.data(), passwordHash.size());
  expectedProof_ = std::move(c.proof);
  keys_ = deriveKeys(secret, Side::Client);
  return Bytes(c.response.begin(), c.response.end());
}

bool ClientExchange::acceptProof(ByteSpan proof) const {
  return !expectedProof_.empty() && constantTimeEqual(proof, asBytes(expectedProof_));
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
  Point y = add(multiply(scalar_, basePoint()), multiply(u.verifier.w0, blindingPoint()));
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
  std::array<uint8_t, 16> passwordHash =
      u.salted ? saltedPasswordHash(secret_) : ntPasswordHash(u.password);
  Confirmation c = confirm(secret_, challenge_, clientKey_, login_, passwordHash);
  secureWipe(passwordHash.data(), passwordHash.size());
  if (!user_ || !constantTimeEqual(response, c.response))
    return std::nullopt;
  keys_ = deriveKeys(secret_, Side::Router);
  return c.proof;
}

} // namespace kestel::login
