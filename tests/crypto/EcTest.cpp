#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <algorithm>
#include <map>

#include "TestSupport.h"
#include "crypto/Ec.h"

namespace kestel {
namespace {

using test::Blob;
using test::fromHex;
using test::toHex;

ec::Scalar scalarOf(const Blob& b) {
  ec::Scalar s{};
  std::copy_n(b.begin(), 32, s.begin());
  return s;
}

std::string uHex(const ec::Point& p) { return toHex(ec::montgomeryU(p)); }

// X25519 from OpenSSL: clamped scalar times the point with u-coordinate u.
Blob opensslX25519(const Blob& scalar, const Blob& u) {
  EVP_PKEY* priv = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar.data(), 32);
  EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, u.data(), 32);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(priv, nullptr);
  Blob out(32);
  size_t length = 32;
  bool ok = EVP_PKEY_derive_init(ctx) == 1 && EVP_PKEY_derive_set_peer(ctx, peer) == 1 &&
            EVP_PKEY_derive(ctx, out.data(), &length) == 1;
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(peer);
  EVP_PKEY_free(priv);
  if (!ok)
    out.assign(32, 0); // OpenSSL refuses an all-zero result
  return out;
}

TEST(Ec, BasePointIsThatOfRfc7748) {
  const ec::Point& g = ec::basePoint();
  EXPECT_EQ(uHex(g), "09" + std::string(62, '0'));
  auto encoded = ec::encodePoint(g);
  ASSERT_TRUE(encoded.ok());
  // x = 9 + A/3; y = v of RFC 7748 section 4.1, which is odd.
  EXPECT_EQ(toHex(*encoded), "032aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaad245a");
  auto back = ec::decodePoint(*encoded);
  ASSERT_TRUE(back.ok());
  ASSERT_TRUE(ec::encodePoint(*back).ok());
  EXPECT_EQ(*ec::encodePoint(*back), *encoded);
}

TEST(Ec, Rfc7748Vectors) {
  for (const auto& v : test::vectors()["x25519"]) {
    Blob u = fromHex(v["u"].get<std::string>());
    auto point = ec::pointFromMontgomeryU(std::span<const uint8_t, 32>(u.data(), 32));
    if (!point.ok()) {
      GTEST_LOG_(INFO) << "u on the twist, not a curve point: " << v["source"];
      continue;
    }
    auto k = ec::clampScalar(scalarOf(fromHex(v["scalar"].get<std::string>())));
    EXPECT_EQ(uHex(ec::mul(k, *point)), v["output"].get<std::string>()) << v["source"];
  }
  const auto& dh = test::vectors()["x25519_dh"][0];
  auto a = ec::clampScalar(scalarOf(fromHex(dh["alice_private"].get<std::string>())));
  auto b = ec::clampScalar(scalarOf(fromHex(dh["bob_private"].get<std::string>())));
  ec::Point alice = ec::mul(a, ec::basePoint()), bob = ec::mul(b, ec::basePoint());
  EXPECT_EQ(uHex(alice), dh["alice_public"].get<std::string>());
  EXPECT_EQ(uHex(bob), dh["bob_public"].get<std::string>());
  // Both sides reach the same point, sign included, so the 33-byte secrets agree.
  auto ab = ec::encodePoint(ec::mul(b, alice)), ba = ec::encodePoint(ec::mul(a, bob));
  ASSERT_TRUE(ab.ok() && ba.ok());
  EXPECT_EQ(*ab, *ba);
  EXPECT_EQ(uHex(ec::mul(b, alice)), dh["shared_secret"].get<std::string>());
}

TEST(Ec, Rfc7748Iterated) {
  for (const auto& v : test::vectors()["x25519_iterated"]) {
    long long iterations = test::asNumber(v["iterations"]);
    if (iterations > 1000) {
      GTEST_LOG_(INFO) << "skipping " << iterations << " iterations (too slow for the suite)";
      continue;
    }
    Blob k = fromHex(v["start_k"].get<std::string>()), u = fromHex(v["start_u"].get<std::string>());
    for (long long i = 0; i < iterations; ++i) {
      auto point = ec::pointFromMontgomeryU(std::span<const uint8_t, 32>(u.data(), 32));
      ASSERT_TRUE(point.ok()) << "iteration " << i;
      auto result = ec::montgomeryU(ec::mul(ec::clampScalar(scalarOf(k)), *point));
      u = k;
      k.assign(result.begin(), result.end());
    }
    EXPECT_EQ(toHex(k), v["k"].get<std::string>()) << iterations;
  }
}

// Random points (any u on the curve, so small-order parts included) and random scalars.
TEST(Ec, LadderMatchesOpenSslX25519) {
  std::mt19937_64 rng(25519);
  int compared = 0;
  while (compared < 150) {
    Blob u = test::randomBlob(rng, 32);
    u[31] &= 0x7F;
    auto point = ec::pointFromMontgomeryU(std::span<const uint8_t, 32>(u.data(), 32));
    if (!point.ok())
      continue;
    Blob k = test::randomBlob(rng, 32);
    ASSERT_EQ(uHex(ec::mul(ec::clampScalar(scalarOf(k)), *point)), toHex(opensslX25519(k, u)));
    ++compared;
  }
}

// OpenSSL's generic prime-curve code on the same short-Weierstrass curve is an independent
// oracle for decoding, the compressed encoding, addition, doubling and multiplication.
struct OpenSslCurve {
  BN_CTX* ctx = BN_CTX_new();
  EC_GROUP* group = nullptr;
  OpenSslCurve() {
    BIGNUM *p = nullptr, *a = nullptr, *b = nullptr;
    BN_hex2bn(&p, "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed");
    BIGNUM* A = BN_new();
    BN_set_word(A, 486662);
    BIGNUM *three = BN_new(), *t = BN_new(), *inv = BN_new();
    BN_set_word(three, 3);
    a = BN_new();
    b = BN_new();
    BN_mod_sqr(t, A, p, ctx);        // A^2
    BN_mod_sub(a, three, t, p, ctx); // 3 - A^2
    BN_mod_inverse(inv, three, p, ctx);
    BN_mod_mul(a, a, inv, p, ctx); // (3 - A^2) / 3
    BN_mod_mul(t, t, A, p, ctx);   // A^3
    BN_mod_add(t, t, t, p, ctx);   // 2 A^3
    BIGNUM* nineA = BN_new();
    BN_set_word(nineA, 9 * 486662);
    BN_mod_sub(b, t, nineA, p, ctx);
    BN_set_word(t, 27);
    BN_mod_inverse(inv, t, p, ctx);
    BN_mod_mul(b, b, inv, p, ctx); // (2 A^3 - 9 A) / 27
    group = EC_GROUP_new_curve_GFp(p, a, b, ctx);
    for (BIGNUM* n : {p, a, b, A, three, t, inv, nineA})
      BN_free(n);
  }
  ~OpenSslCurve() {
    EC_GROUP_free(group);
    BN_CTX_free(ctx);
  }
  // Decodes our encoding; null when OpenSSL refuses it.
  EC_POINT* decode(const ec::Encoded& e) {
    EC_POINT* pt = EC_POINT_new(group);
    if (EC_POINT_oct2point(group, pt, e.data(), e.size(), ctx) != 1) {
      EC_POINT_free(pt);
      return nullptr;
    }
    return pt;
  }
  std::string encode(const EC_POINT* pt) {
    Blob out(33);
    size_t n =
        EC_POINT_point2oct(group, pt, POINT_CONVERSION_COMPRESSED, out.data(), out.size(), ctx);
    out.resize(n);
    return toHex(out);
  }
};

std::string hexOf(const ec::Point& p) {
  auto e = ec::encodePoint(p);
  return e.ok() ? toHex(*e) : "infinity";
}

TEST(Ec, ArithmeticMatchesOpenSslPrimeCurve) {
  OpenSslCurve ossl;
  ASSERT_NE(ossl.group, nullptr);
  std::mt19937_64 rng(9);
  int accepted = 0;
  for (int round = 0; round < 400; ++round) {
    ec::Encoded bytes;
    Blob raw = test::randomBlob(rng, 33);
    std::copy(raw.begin(), raw.end(), bytes.begin());
    bytes[0] = 0x02 | (bytes[0] & 1);
    bytes[1] &= 0x7F;
    auto ours = ec::decodePoint(bytes);
    EC_POINT* theirs = ossl.decode(bytes);
    ASSERT_EQ(ours.ok(), theirs != nullptr) << toHex(bytes);
    if (!ours.ok())
      continue;
    ++accepted;
    EXPECT_EQ(hexOf(*ours), toHex(bytes));
    // Doubling and adding to a multiple of the base point.
    ec::Scalar k;
    Blob kb = test::randomBlob(rng, 32);
    std::copy(kb.begin(), kb.end(), k.begin());
    ec::Point q = ec::mul(k, ec::basePoint());
    EC_POINT* qo = ossl.decode(*ec::encodePoint(q));
    ASSERT_NE(qo, nullptr);
    EC_POINT* r = EC_POINT_new(ossl.group);
    EC_POINT_dbl(ossl.group, r, theirs, ossl.ctx);
    EXPECT_EQ(hexOf(ec::dbl(*ours)), ossl.encode(r));
    EC_POINT_add(ossl.group, r, theirs, qo, ossl.ctx);
    EXPECT_EQ(hexOf(ec::add(*ours, q)), ossl.encode(r));
    EXPECT_EQ(hexOf(ec::add(q, *ours)), ossl.encode(r));
    // Inverse points sum to infinity; infinity is the neutral element.
    ec::Encoded negated = *ec::encodePoint(q);
    negated[0] ^= 1;
    EXPECT_TRUE(ec::isInfinity(ec::add(q, *ec::decodePoint(negated))));
    EXPECT_EQ(hexOf(ec::add(q, ec::infinity())), hexOf(q));
    EC_POINT_free(r);
    EC_POINT_free(qo);
    EC_POINT_free(theirs);
  }
  EXPECT_GT(accepted, 100);
}

// Scalar multiplication against OpenSSL's, on decoded points, on projective points (sums) and
// on points of small order, with random scalars and the scalars around multiples of the group
// order where the ladder meets infinity (k P or (k + 1) P).
TEST(Ec, MultiplicationMatchesOpenSslPrimeCurve) {
  OpenSslCurve ossl;
  std::mt19937_64 rng(2552);
  const Blob order = fromHex("1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ed");
  BIGNUM* l = BN_bin2bn(order.data(), static_cast<int>(order.size()), nullptr);
  std::vector<BIGNUM*> edges;
  for (int multiple : {0, 1, 2, 4, 8}) {
    for (int offset : {-1, 0, 1}) {
      BIGNUM* k = BN_new();
      BN_copy(k, l);
      BN_mul_word(k, static_cast<BN_ULONG>(multiple));
      if (offset < 0 && BN_is_zero(k))
        BN_set_word(k, 2); // instead of -1
      else if (offset < 0)
        BN_sub_word(k, 1);
      else
        BN_add_word(k, static_cast<BN_ULONG>(offset));
      edges.push_back(k);
    }
  }
  BIGNUM* all = BN_new();
  BN_set_bit(all, 256);
  BN_sub_word(all, 1);
  edges.push_back(all);

  // Points: u = 1 (order four), then random decodable ones and sums of two.
  std::vector<ec::Point> points;
  std::array<uint8_t, 32> uOne{};
  uOne[0] = 1;
  points.push_back(*ec::pointFromMontgomeryU(uOne));
  while (points.size() < 40) {
    Blob raw = test::randomBlob(rng, 33);
    raw[0] = 0x02 | (raw[0] & 1);
    raw[1] &= 0x7F;
    auto p = ec::decodePoint(raw);
    if (p.ok())
      points.push_back(points.size() % 3 == 0 ? ec::add(*p, points.back()) : *p);
  }
  for (const ec::Point& p : points) {
    EC_POINT* theirs = ossl.decode(*ec::encodePoint(p));
    ASSERT_NE(theirs, nullptr);
    std::vector<BIGNUM*> scalars = edges;
    for (int i = 0; i < 4; ++i) {
      Blob k = test::randomBlob(rng, 32);
      if (i == 0) {
        const ec::Scalar clamped = ec::clampScalar(scalarOf(k));
        k.assign(clamped.begin(), clamped.end());
      }
      std::reverse(k.begin(), k.end());
      scalars.push_back(BN_bin2bn(k.data(), 32, nullptr));
    }
    for (BIGNUM* k : scalars) {
      Blob bigEndian(32);
      ASSERT_EQ(BN_bn2binpad(k, bigEndian.data(), 32), 32);
      ec::Scalar ours;
      std::reverse_copy(bigEndian.begin(), bigEndian.end(), ours.begin());
      EC_POINT* r = EC_POINT_new(ossl.group);
      ASSERT_EQ(EC_POINT_mul(ossl.group, r, nullptr, theirs, k, ossl.ctx), 1);
      const std::string expected =
          EC_POINT_is_at_infinity(ossl.group, r) ? "infinity" : ossl.encode(r);
      EXPECT_EQ(hexOf(ec::mul(ours, p)), expected) << toHex(bigEndian);
      EC_POINT_free(r);
    }
    for (size_t i = edges.size(); i < scalars.size(); ++i)
      BN_free(scalars[i]);
    EC_POINT_free(theirs);
  }
  for (BIGNUM* k : edges)
    BN_free(k);
  BN_free(l);
}

// The point of order two and the point at infinity, which the ladder's formulas cannot take.
TEST(Ec, MultiplicationOfOrderTwoAndInfinity) {
  auto orderTwo = ec::pointFromMontgomeryU(std::array<uint8_t, 32>{});
  ASSERT_TRUE(orderTwo.ok());
  std::mt19937_64 rng(2);
  for (int i = 0; i < 8; ++i) {
    ec::Scalar k = scalarOf(test::randomBlob(rng, 32));
    k[0] = static_cast<uint8_t>((k[0] & 0xFE) | (i & 1));
    EXPECT_EQ(hexOf(ec::mul(k, *orderTwo)), i % 2 ? hexOf(*orderTwo) : "infinity") << i;
    EXPECT_TRUE(ec::isInfinity(ec::mul(k, ec::infinity())));
  }
}

TEST(Ec, DecodingRefusesMalformedPoints) {
  ec::Encoded g = *ec::encodePoint(ec::basePoint());
  std::vector<uint8_t> shortBytes(g.begin(), g.end() - 1);
  EXPECT_FALSE(ec::decodePoint(shortBytes).ok());
  for (uint8_t prefix : {0x00, 0x01, 0x04, 0x05, 0xFF}) {
    ec::Encoded bad = g;
    bad[0] = prefix;
    EXPECT_FALSE(ec::decodePoint(bad).ok()) << int(prefix);
  }
  ec::Encoded high = g;
  std::fill(high.begin() + 1, high.end(), 0xFF); // x >= p
  EXPECT_FALSE(ec::decodePoint(high).ok());
  // The point of order two: u = 0, so x = A/3 and y = 0.
  auto orderTwo = ec::pointFromMontgomeryU(std::array<uint8_t, 32>{});
  ASSERT_TRUE(orderTwo.ok());
  auto orderTwoBytes = ec::encodePoint(*orderTwo);
  ASSERT_TRUE(orderTwoBytes.ok());
  EXPECT_FALSE(ec::decodePoint(*orderTwoBytes).ok());
  EXPECT_FALSE(ec::encodePoint(ec::infinity()).ok());
}

// The points of small order, found with OpenSSL as l P for random points P (l the prime order of
// the base point): one of order two, two of order four, four of order eight. The decoder
// refuses each of them; the random points themselves, small parts included, are accepted.
TEST(Ec, DecodingRefusesEveryPointOfSmallOrder) {
  OpenSslCurve ossl;
  BIGNUM* order = nullptr;
  BN_hex2bn(&order, "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ed");
  std::map<std::string, int> smallOrder; // encoding -> order
  std::mt19937_64 rng(8);
  int points = 0;
  while (points < 200) {
    ec::Encoded bytes;
    Blob raw = test::randomBlob(rng, 33);
    std::copy(raw.begin(), raw.end(), bytes.begin());
    bytes[0] = 0x02 | (bytes[0] & 1);
    bytes[1] &= 0x7F;
    EC_POINT* p = ossl.decode(bytes);
    if (!p)
      continue;
    ++points;
    EXPECT_TRUE(ec::decodePoint(bytes).ok()) << toHex(bytes);
    EC_POINT* q = EC_POINT_new(ossl.group);
    ASSERT_EQ(1, EC_POINT_mul(ossl.group, q, nullptr, p, order, ossl.ctx));
    if (!EC_POINT_is_at_infinity(ossl.group, q)) {
      int k = 1;
      EC_POINT* multiple = EC_POINT_dup(q, ossl.group);
      while (!EC_POINT_is_at_infinity(ossl.group, multiple) && k <= 8) {
        EC_POINT_dbl(ossl.group, multiple, multiple, ossl.ctx);
        k *= 2;
      }
      smallOrder[ossl.encode(q)] = k;
      EC_POINT_free(multiple);
    }
    EC_POINT_free(q);
    EC_POINT_free(p);
  }
  BN_free(order);
  std::map<int, int> perOrder;
  for (const auto& [hex, k] : smallOrder) {
    ++perOrder[k];
    Blob bytes = fromHex(hex);
    auto decoded = ec::decodePoint(bytes);
    ASSERT_FALSE(decoded.ok()) << hex;
    EXPECT_EQ("point of small order", decoded.error().text);
  }
  EXPECT_EQ((std::map<int, int>{{2, 1}, {4, 2}, {8, 4}}), perOrder);
}

// A clamped scalar is a multiple of the cofactor, so a point of small order ends at infinity.
TEST(Ec, SmallOrderPointGoesToInfinityUnderClampedScalar) {
  // A point of order four doubles to the one of order two (u = 0); u = 1 is such a point.
  std::array<uint8_t, 32> one{};
  one[0] = 1;
  auto four = ec::pointFromMontgomeryU(one);
  ASSERT_TRUE(four.ok());
  EXPECT_EQ(uHex(ec::dbl(*four)), std::string(64, '0'));
  std::mt19937_64 rng(1);
  ec::Scalar k = ec::clampScalar(scalarOf(test::randomBlob(rng, 32)));
  EXPECT_TRUE(ec::isInfinity(ec::mul(k, *four)));
}

} // namespace
} // namespace kestel
