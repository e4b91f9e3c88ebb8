// The client's end of the secure login against bytes computed here with OpenSSL alone, from the
// description in docs/protocol-login.md: the curve through OpenSSL's generic prime-curve code,
// SHA-1, SHA-256, MD4, single DES and HKDF from OpenSSL. The random bytes are fixed, so a fault
// that the client shares with the simulator's router end shows here although both ends agree.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include "api/net/LoginMessages.h"
#include "crypto/TestSupport.h"

namespace kestel {
namespace {

using test::Blob;
using test::fromHex;
using test::toHex;

Blob text(std::string_view s) { return Blob(s.begin(), s.end()); }

Blob concat(std::initializer_list<Blob> parts) {
  Blob all;
  for (const Blob& p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

Blob digest(const EVP_MD* md, std::initializer_list<Blob> parts) {
  Blob all = concat(parts), out(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EXPECT_EQ(1, EVP_Digest(all.data(), all.size(), out.data(), &n, md, nullptr));
  out.resize(n);
  return out;
}

Blob first(Blob b, size_t n) {
  b.resize(n);
  return b;
}

// One DES block under a 7-byte key spread to 8 bytes (seven key bits in the top of each byte).
Blob desBlock(const Blob& key7, const Blob& block) {
  Blob key(8);
  for (int i = 0; i < 8; ++i) {
    unsigned bits = 0;
    for (int b = 0; b < 7; ++b) {
      int bit = i * 7 + b;
      bits = (bits << 1) | ((key7[bit / 8] >> (7 - bit % 8)) & 1);
    }
    key[i] = uint8_t(bits << 1);
  }
  EVP_CIPHER* des = EVP_CIPHER_fetch(nullptr, "DES-ECB", "provider=legacy");
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Blob out(16);
  int n = 0;
  EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, des, nullptr, key.data(), nullptr));
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EXPECT_EQ(1, EVP_EncryptUpdate(ctx, out.data(), &n, block.data(), int(block.size())));
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(des);
  out.resize(8);
  return out;
}

Blob hkdfSha1(const Blob& ikm, size_t length) {
  Blob out(length);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr);
  EXPECT_EQ(1, EVP_PKEY_derive_init(ctx));
  EVP_PKEY_CTX_set_hkdf_md(ctx, EVP_sha1());
  EVP_PKEY_CTX_set1_hkdf_key(ctx, ikm.data(), int(ikm.size()));
  EXPECT_EQ(1, EVP_PKEY_derive(ctx, out.data(), &length));
  EVP_PKEY_CTX_free(ctx);
  return out;
}

// The curve y^2 = x^3 + a x + b over 2^255 - 19 with a = (3 - A^2) / 3, b = (2 A^3 - 9 A) / 27,
// A = 486662, and the base point x = 9 + A/3 with the odd y, in OpenSSL's generic code.
class Curve {
public:
  Curve() {
    BIGNUM *p = nullptr, *A = BN_new(), *a = BN_new(), *b = BN_new(), *t = BN_new();
    BIGNUM *inverse = BN_new(), *x = BN_new();
    BN_hex2bn(&p, "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed");
    BN_set_word(A, 486662);
    BN_set_word(t, 3);
    BN_mod_inverse(inverse, t, p, ctx_);
    BN_mod_sqr(a, A, p, ctx_);
    BN_mod_sub(a, t, a, p, ctx_);
    BN_mod_mul(a, a, inverse, p, ctx_); // (3 - A^2) / 3
    BN_mod_mul(x, A, inverse, p, ctx_); // A / 3
    BN_mod_sqr(b, A, p, ctx_);
    BN_mod_mul(b, b, A, p, ctx_);
    BN_mod_add(b, b, b, p, ctx_); // 2 A^3
    BN_set_word(t, 9 * 486662);
    BN_mod_sub(b, b, t, p, ctx_);
    BN_set_word(t, 27);
    BN_mod_inverse(inverse, t, p, ctx_);
    BN_mod_mul(b, b, inverse, p, ctx_); // (2 A^3 - 9 A) / 27
    group_ = EC_GROUP_new_curve_GFp(p, a, b, ctx_);
    BN_set_word(t, 9);
    BN_mod_add(x, x, t, p, ctx_);
    base_ = EC_POINT_new(group_);
    EC_POINT_set_compressed_coordinates(group_, base_, x, 1, ctx_);
    for (BIGNUM* n : {p, A, a, b, t, inverse, x})
      BN_free(n);
  }
  ~Curve() {
    for (EC_POINT* q : points_)
      EC_POINT_free(q);
    EC_POINT_free(base_);
    EC_GROUP_free(group_);
    BN_CTX_free(ctx_);
  }
  Curve(const Curve&) = delete;
  Curve& operator=(const Curve&) = delete;

  const EC_POINT* base() const { return base_; }
  // k P for a 32-byte little-endian scalar.
  const EC_POINT* mul(const Blob& scalar, const EC_POINT* q) {
    BIGNUM* k = BN_lebin2bn(scalar.data(), int(scalar.size()), nullptr);
    EC_POINT* r = keep(EC_POINT_new(group_));
    EXPECT_EQ(1, EC_POINT_mul(group_, r, nullptr, q, k, ctx_));
    BN_free(k);
    return r;
  }
  const EC_POINT* add(const EC_POINT* q, const EC_POINT* s) {
    EC_POINT* r = keep(EC_POINT_new(group_));
    EXPECT_EQ(1, EC_POINT_add(group_, r, q, s, ctx_));
    return r;
  }
  const EC_POINT* negate(const EC_POINT* q) {
    EC_POINT* r = keep(EC_POINT_dup(q, group_));
    EXPECT_EQ(1, EC_POINT_invert(group_, r, ctx_));
    return r;
  }
  const EC_POINT* timesEight(const EC_POINT* q) { return mul(Blob{8}, q); }
  // The compressed form of SEC 1: 0x02 | (y mod 2), then x as 32 bytes, most significant first.
  Blob encode(const EC_POINT* q) {
    Blob out(33);
    out.resize(
        EC_POINT_point2oct(group_, q, POINT_CONVERSION_COMPRESSED, out.data(), out.size(), ctx_));
    return out;
  }
  // Null when the bytes are not a point of the curve.
  const EC_POINT* decode(const Blob& bytes) {
    EC_POINT* r = EC_POINT_new(group_);
    if (EC_POINT_oct2point(group_, r, bytes.data(), bytes.size(), ctx_) != 1) {
      EC_POINT_free(r);
      return nullptr;
    }
    return keep(r);
  }
  bool atInfinity(const EC_POINT* q) const { return EC_POINT_is_at_infinity(group_, q) == 1; }

private:
  EC_POINT* keep(EC_POINT* q) {
    points_.push_back(q);
    return q;
  }

  BN_CTX* ctx_ = BN_CTX_new();
  EC_GROUP* group_ = nullptr;
  EC_POINT* base_ = nullptr;
  std::vector<EC_POINT*> points_;
};

Blob clamp(Blob k) {
  k[0] &= 0xF8;
  k[31] &= 0x7F;
  k[31] |= 0x40;
  return k;
}

// What the client must send and hold after the router's challenge.
struct Answer {
  Blob response;
  std::string proof;
  Blob receiveKey, sendKey;
};

// The RFC 2759 response and authenticator response and the RFC 3079 start keys expanded with
// HKDF-SHA-1, from the secret, the router's challenge bytes and the 16-byte password hash.
Answer confirmation(const Blob& secret, const Blob& challenge, const Blob& clientKey,
                    const std::string& user, const Blob& passwordHash) {
  const Blob zeros(40, 0), pad(40, 0xF2);
  Blob peer = first(
      digest(EVP_sha1(), {secret, challenge, zeros, text("This is for peer challenge"), pad}), 16);
  Blob auth = first(
      digest(EVP_sha1(), {secret, clientKey, zeros, text("This is for auther challenge"), pad}),
      16);
  Blob challengeHash = first(digest(EVP_sha1(), {peer, auth, text(user)}), 8);
  Blob key = passwordHash;
  key.resize(21, 0);
  Answer out;
  for (size_t i = 0; i < 3; ++i) {
    Blob part =
        desBlock(Blob(key.begin() + long(7 * i), key.begin() + long(7 * i + 7)), challengeHash);
    out.response.insert(out.response.end(), part.begin(), part.end());
  }
  Blob hashHash = digest(EVP_md4(), {passwordHash});
  Blob d =
      digest(EVP_sha1(), {hashHash, out.response, text("Magic server to client signing constant")});
  d = digest(EVP_sha1(), {d, challengeHash, text("Pad to make it do more than one iteration")});
  out.proof = "S=";
  for (char c : toHex(d))
    out.proof.push_back(char(std::toupper(static_cast<unsigned char>(c))));
  Blob receiveStart =
      first(digest(EVP_sha1(), {secret, zeros,
                                text("On the client side, this is the receive key; on the server "
                                     "side, it is the send key."),
                                pad}),
            20);
  Blob sendStart = first(
      digest(EVP_sha1(), {secret, zeros,
                          text("On the client side, this is the send key; on the server side, "
                               "it is the receive key."),
                          pad}),
      20);
  out.receiveKey = hkdfSha1(receiveStart, 36);
  out.sendKey = hkdfSha1(sendStart, 36);
  return out;
}

Blob utf16le(const std::string& s) {
  Blob out;
  for (char c : s) {
    out.push_back(uint8_t(c));
    out.push_back(0);
  }
  return out;
}

// The router's challenge for the router scalar `routerRandom` (a salted one when `salt` is not
// empty) and what the client with `clientRandom` must answer to it.
struct Round {
  Blob firstChallenge, challenge;
  Answer expected;
};

Round computeRound(Curve& curve, const Blob& clientRandom, const Blob& routerRandom,
                   const std::string& login, const std::string& password, const Blob& salt) {
  const std::string user = login.substr(0, login.find('+'));
  const Blob a = clamp(clientRandom);
  const Blob clientKey = curve.encode(curve.mul(a, curve.base()));
  Round round;
  round.firstChallenge = concat({clientKey, text(login), Blob{0}});
  if (salt.empty()) {
    const EC_POINT* w = curve.mul(routerRandom, curve.base());
    round.challenge = curve.encode(w);
    const Blob secret = curve.encode(curve.mul(a, w));
    round.expected = confirmation(secret, round.challenge, clientKey, user,
                                  digest(EVP_md4(), {utf16le(password)}));
    return round;
  }
  const Blob pv = digest(EVP_sha256(), {salt, digest(EVP_sha256(), {text(user + ":" + password)})});
  const Blob w0 = digest(EVP_sha256(), {pv, text("w0")});
  const Blob w1 = digest(EVP_sha256(), {pv, text("w1")});
  const EC_POINT* n = nullptr;
  for (uint8_t counter = 0; !n; ++counter) {
    Blob x = digest(EVP_sha256(), {text("Kestel salted login blinding point"), Blob{counter}});
    x[0] &= 0x7F;
    const EC_POINT* candidate = curve.decode(concat({Blob{0x02}, x}));
    if (candidate && !curve.atInfinity(curve.timesEight(candidate)))
      n = curve.timesEight(candidate);
  }
  const EC_POINT* blind = curve.mul(w0, n);
  const EC_POINT* y = curve.add(curve.mul(routerRandom, curve.base()), blind);
  round.challenge = concat({curve.encode(y), salt});
  const EC_POINT* t = curve.add(y, curve.negate(blind));
  const Blob z = curve.encode(curve.timesEight(curve.mul(a, t)));
  const Blob v = curve.encode(curve.timesEight(curve.mul(w1, t)));
  const Blob secret = digest(EVP_sha256(), {z, v, clientKey, round.challenge, text(user)});
  const Blob passwordHash = first(digest(EVP_sha256(), {secret, text("password hash")}), 16);
  round.expected = confirmation(secret, round.challenge, clientKey, user, passwordHash);
  return round;
}

TEST(LoginKnownAnswer, ClientExchangeMatchesAnIndependentComputation) {
  ASSERT_TRUE(test::legacyProviderLoaded()); // MD4 and DES
  Curve curve;
  struct Case {
    const char* login;
    const char* password;
    const char* clientRandom;
    const char* routerRandom;
    const char* salt; // empty: the unsalted challenge
  } cases[] = {
      {"admin", "", "a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
       "4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d", ""},
      {"admin+ct80w", "Secret pw 42",
       "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
       "5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb", ""},
      {"operator", "Secret pw 42",
       "0900000000000000000000000000000000000000000000000000000000000000",
       "0100000000000000000000000000000000000000000000000000000000000000",
       "000102030405060708090a0b0c0d0e0f"},
      {"admin+r", "correct horse battery staple",
       "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
       "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
       "5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.login);
    const Blob clientRandom = fromHex(c.clientRandom);
    Round round = computeRound(curve, clientRandom, fromHex(c.routerRandom), c.login, c.password,
                               fromHex(c.salt));
    std::array<uint8_t, 32> random{};
    std::copy(clientRandom.begin(), clientRandom.end(), random.begin());
    login::ClientExchange client(c.login, c.password, random);
    EXPECT_EQ(toHex(round.firstChallenge), toHex(client.firstChallenge()));
    auto response = client.respond(round.challenge);
    ASSERT_TRUE(response.ok()) << response.error().text;
    EXPECT_EQ(toHex(round.expected.response), toHex(*response));
    EXPECT_EQ(toHex(round.expected.receiveKey), toHex(client.keys().receive));
    EXPECT_EQ(toHex(round.expected.sendKey), toHex(client.keys().send));
    EXPECT_TRUE(client.acceptProof(asBytes(round.expected.proof)));
    std::string lowerCase = round.expected.proof;
    for (char& ch : lowerCase)
      ch = char(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_FALSE(client.acceptProof(asBytes(lowerCase)));
  }
}

} // namespace
} // namespace kestel
