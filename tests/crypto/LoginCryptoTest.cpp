#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include "TestSupport.h"
#include "crypto/ChallengeResponse.h"
#include "crypto/LoginCrypto.h"
#include "crypto/Random.h"
#include "util/Bytes.h"
#include "util/Log.h"

namespace kestel {
namespace {

using test::Blob;
using test::fromHex;
using test::toHex;

std::string field(const nlohmann::json& v, const char* name) { return v[name].get<std::string>(); }

Blob opensslDigest(const EVP_MD* md, std::initializer_list<Blob> parts) {
  Blob all;
  for (const Blob& p : parts)
    all.insert(all.end(), p.begin(), p.end());
  Blob out(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EVP_Digest(all.data(), all.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

Blob text(std::string_view s) { return Blob(s.begin(), s.end()); }

Blob mppeConstant(const char* name) {
  for (const auto& v : test::vectors()["mppe_constants"])
    if (field(v, "name") == name)
      return fromHex(field(v, "value"));
  return {};
}

TEST(ChallengeResponse, Rfc2759HashExample) {
  const auto& v = test::vectors()["mschapv2"][0];
  const Blob auth = fromHex(field(v, "authenticator_challenge"));
  const Blob peer = fromHex(field(v, "peer_challenge"));
  const std::string user = field(v, "username_text"), password = field(v, "password_text");
  EXPECT_EQ(toHex(challengeHash(peer, auth, user)), field(v, "challenge"));
  SecureBytes hash = ntPasswordHash(password);
  EXPECT_EQ(toHex(hash), field(v, "password_hash"));
  EXPECT_EQ(toHex(hashNtPasswordHash(hash)), field(v, "password_hash_hash"));
  auto response = generateNtResponse(auth, peer, user, password);
  EXPECT_EQ(toHex(response), field(v, "nt_response"));
  EXPECT_EQ(generateAuthenticatorResponse(password, response, peer, auth, user),
            field(v, "authenticator_response_text"));
  // The constants of the proof text, checked through an independent SHA-1.
  Blob digest = opensslDigest(EVP_sha1(), {fromHex(field(v, "password_hash_hash")),
                                           Blob(response.begin(), response.end()),
                                           fromHex(field(v, "magic1"))});
  digest = opensslDigest(EVP_sha1(),
                         {digest, fromHex(field(v, "challenge")), fromHex(field(v, "magic2"))});
  EXPECT_EQ(toHex(digest), field(v, "authenticator_response"));
}

TEST(ChallengeResponse, Rfc2759DesKeyExample) {
  const auto& v = test::vectors()["des_key_parity"][0];
  EXPECT_EQ(toHex(ntPasswordHash(field(v, "password_text"))), field(v, "password_hash"));
}

TEST(ChallengeResponse, PasswordIsCutAt256Characters) {
  std::string longPassword(300, 'x');
  EXPECT_EQ(toHex(ntPasswordHash(longPassword)),
            toHex(ntPasswordHash(longPassword.substr(0, 256))));
  EXPECT_NE(toHex(ntPasswordHash(longPassword.substr(0, 255))),
            toHex(ntPasswordHash(longPassword.substr(0, 256))));
}

TEST(ChallengeResponse, Rfc3079MasterAndStartKeys) {
  const auto& m = test::vectors()["mppe_master_key"][0];
  EXPECT_EQ(toHex(mppeMasterKey(fromHex(field(m, "password_hash_hash")),
                                fromHex(field(m, "nt_response")))),
            field(m, "master_key"));
  for (const auto& v : test::vectors()["mppe_start_keys"]) {
    auto direction = v["is_send"].get<bool>() ? KeyDirection::Send : KeyDirection::Receive;
    auto side = v["is_server"].get<bool>() ? KeySide::Server : KeySide::Client;
    SecureBytes key =
        asymmetricStartKey(fromHex(field(v, "master_key")),
                           static_cast<size_t>(test::asNumber(v["key_length"])), direction, side);
    EXPECT_EQ(toHex(key), field(v, "start_key")) << field(v, "source");
  }
  // The session-key and key-reduction vectors of RFC 3079 concern key changes that this
  // system's sessions never perform; only the start keys above are used.
}

TEST(LoginCrypto, ChallengeAndPasswordValuesMatchIndependentHashes) {
  std::mt19937_64 rng(3);
  Blob zeros(40, 0), pad(40, 0xF2);
  for (int round = 0; round < 200; ++round) {
    Blob a = test::randomBlob(rng, 33), b = test::randomBlob(rng, rng() % 50);
    Blob peer = opensslDigest(EVP_sha1(), {a, b, zeros, text("This is for peer challenge"), pad});
    Blob auth = opensslDigest(EVP_sha1(), {a, b, zeros, text("This is for auther challenge"), pad});
    peer.resize(16);
    auth.resize(16);
    EXPECT_EQ(toHex(challengeValue(a, b, ChallengeSide::Peer)), toHex(peer));
    EXPECT_EQ(toHex(challengeValue(a, b, ChallengeSide::Authenticator)), toHex(auth));

    std::string user = "admin" + std::to_string(round), password = toHex(b);
    Blob salt = test::randomBlob(rng, 16);
    Blob inner = opensslDigest(EVP_sha256(), {text(user + ":" + password)});
    EXPECT_EQ(toHex(passwordValue(user, password, salt)),
              toHex(opensslDigest(EVP_sha256(), {salt, inner})));
  }
}

Blob opensslHkdfSha1(const Blob& ikm, size_t length) {
  Blob out(length);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr);
  EVP_PKEY_derive_init(ctx);
  EVP_PKEY_CTX_set_hkdf_md(ctx, EVP_sha1());
  EVP_PKEY_CTX_set1_hkdf_key(ctx, ikm.data(), static_cast<int>(ikm.size()));
  EVP_PKEY_derive(ctx, out.data(), &length);
  EVP_PKEY_CTX_free(ctx);
  return out;
}

// Start keys from the published RFC 3079 constants, then HKDF from OpenSSL.
TEST(LoginCrypto, DirectionKeysMatchIndependentDerivation) {
  std::mt19937_64 rng(4);
  Blob zeros(40, 0), pad(40, 0xF2);
  for (int round = 0; round < 100; ++round) {
    Blob secret = test::randomBlob(rng, 33);
    DirectionKeys keys = deriveDirectionKeys(secret);
    Blob receiveStart = opensslDigest(EVP_sha1(), {secret, zeros, mppeConstant("Magic3"), pad});
    Blob sendStart = opensslDigest(EVP_sha1(), {secret, zeros, mppeConstant("Magic2"), pad});
    EXPECT_EQ(toHex(keys.receive), toHex(opensslHkdfSha1(receiveStart, 36)));
    EXPECT_EQ(toHex(keys.send), toHex(opensslHkdfSha1(sendStart, 36)));
  }
}

TEST(LoginCrypto, ResponseUsesNameUpToPlusAndComparesProofExactly) {
  Blob secret(33, 7), challenge(33, 9), ours(33, 11);
  LoginResponse plain = loginResponse(secret, challenge, ours, "admin", "pw");
  LoginResponse tagged = loginResponse(secret, challenge, ours, "admin+ct80w", "pw");
  EXPECT_EQ(plain.ntResponse, tagged.ntResponse);
  EXPECT_EQ(plain.expectedProof, tagged.expectedProof);
  EXPECT_EQ(plain.expectedProof.size(), 42u);
  EXPECT_TRUE(proofMatches(plain.expectedProof, asBytes(plain.expectedProof)));
  std::string wrong = plain.expectedProof;
  wrong.back() ^= 1;
  EXPECT_FALSE(proofMatches(plain.expectedProof, asBytes(wrong)));
  EXPECT_FALSE(proofMatches(plain.expectedProof, asBytes(plain.expectedProof + "0")));
  // The RFC 2759 pieces chained by hand give the same answer.
  auto peer = challengeValue(secret, challenge, ChallengeSide::Peer);
  auto auth = challengeValue(secret, ours, ChallengeSide::Authenticator);
  EXPECT_EQ(plain.ntResponse, generateNtResponse(auth, peer, "admin", "pw"));
  EXPECT_EQ(plain.expectedProof,
            generateAuthenticatorResponse("pw", plain.ntResponse, peer, auth, "admin"));
}

TEST(LoginCrypto, BothSidesReachTheSameSecret) {
  std::mt19937_64 rng(12);
  for (int round = 0; round < 20; ++round) {
    KeyPair client = makeKeyPair(test::randomBlob(rng, 32));
    KeyPair router = makeKeyPair(test::randomBlob(rng, 32));
    auto a = sharedSecret(client.scalar, router.publicKey);
    auto b = sharedSecret(router.scalar, client.publicKey);
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(a->size(), 33u);
    EXPECT_EQ(toHex(*a), toHex(*b));
  }
}

TEST(LoginCrypto, SharedSecretRefusesBadAndSmallOrderPoints) {
  KeyPair client = makeKeyPair(Blob(32, 0x5A));
  Blob truncated(client.publicKey.begin(), client.publicKey.end() - 1);
  EXPECT_FALSE(sharedSecret(client.scalar, truncated).ok());
  Blob notOnCurve(33, 0);
  notOnCurve[0] = 0x02;
  notOnCurve[32] = 2; // x = 2 is not on the curve
  EXPECT_FALSE(ec::decodePoint(notOnCurve).ok());
  EXPECT_FALSE(sharedSecret(client.scalar, notOnCurve).ok());
  // A point of order four (u = 1) is on the curve but would give infinity: refused.
  std::array<uint8_t, 32> one{};
  one[0] = 1;
  auto smallOrder = ec::encodePoint(*ec::pointFromMontgomeryU(one));
  ASSERT_TRUE(smallOrder.ok());
  auto refused = sharedSecret(client.scalar, *smallOrder);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().text, "point of small order");
}

TEST(Random, PlatformSourceAndWeakFallback) {
  CaptureLogSink log;
  SecureBytes a = random32(), b = random32();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(toHex(a), toHex(b));
  EXPECT_TRUE(log.lines().empty());
  setPlatformRandomBrokenForTesting(true);
  SecureBytes weak = random32();
  setPlatformRandomBrokenForTesting(false);
  EXPECT_EQ(weak.size(), 32u);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0], "CryptAcquireContext failed, generate weak key");
}

} // namespace
} // namespace kestel
