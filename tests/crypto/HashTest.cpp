#include <gtest/gtest.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>

#include "TestSupport.h"
#include "crypto/Cpu.h"
#include "crypto/Hmac.h"
#include "crypto/HmacSha1.h"
#include "crypto/Md.h"
#include "crypto/Sha.h"

namespace kestel {
namespace {

using test::Blob;
using test::fromHex;
using test::toHex;

std::unique_ptr<Hash> makeHash(const std::string& name) {
  if (name == "sha1")
    return std::make_unique<Sha1>();
  if (name == "sha256")
    return std::make_unique<Sha256>();
  if (name == "md4")
    return std::make_unique<Md4>();
  return std::make_unique<Md5>();
}

// Every test runs with the processor extensions (where present) and with the portable code.
class HashPaths : public ::testing::TestWithParam<CpuPath> {
protected:
  void SetUp() override { setCpuPath(GetParam()); }
  void TearDown() override { setCpuPath(CpuPath::Best); }
};

TEST_P(HashPaths, PublishedDigests) {
  for (const char* name : {"sha1", "sha256", "md4", "md5"}) {
    for (const auto& v : test::vectors()[name]) {
      auto hash = makeHash(name);
      Blob message = fromHex(v["message"].get<std::string>());
      long long repeat = v.contains("repeat") ? test::asNumber(v["repeat"]) : 1;
      // Feed the repeated message in uneven pieces to cross block boundaries.
      Blob chunk;
      for (int i = 0; i < 997; ++i)
        chunk.insert(chunk.end(), message.begin(), message.end());
      long long left = repeat;
      while (left >= 997) {
        hash->update(chunk);
        left -= 997;
      }
      for (; left > 0; --left)
        hash->update(message);
      Blob digest(hash->digestSize());
      hash->final(digest.data());
      EXPECT_EQ(toHex(digest), v["digest"].get<std::string>()) << name << " " << v["source"];
    }
  }
}

TEST_P(HashPaths, HmacSha1Rfc2202) {
  for (const auto& v : test::vectors()["hmac_sha1"]) {
    Hmac mac(Sha1(), fromHex(v["key"].get<std::string>()));
    SecureBytes tag = mac.digest(fromHex(v["data"].get<std::string>()));
    std::string expected = v["digest"].get<std::string>();
    // Case 5 publishes a truncated tag.
    EXPECT_EQ(toHex(tag).substr(0, expected.size()), expected) << v["source"];
  }
}

TEST_P(HashPaths, HkdfSha1Rfc5869) {
  for (const auto& v : test::vectors()["hkdf_sha1"]) {
    auto okm = hkdf(Sha1(), fromHex(v["salt"].get<std::string>()),
                    fromHex(v["ikm"].get<std::string>()), fromHex(v["info"].get<std::string>()),
                    static_cast<size_t>(test::asNumber(v["length"])));
    ASSERT_TRUE(okm.ok());
    EXPECT_EQ(toHex(*okm), v["okm"].get<std::string>()) << v["source"];
  }
}

TEST(Hkdf, RefusesMoreThan255Blocks) {
  EXPECT_FALSE(hkdf(Sha1(), {}, Blob(20, 1), {}, 255 * 20 + 1).ok());
  EXPECT_TRUE(hkdf(Sha1(), {}, Blob(20, 1), {}, 255 * 20).ok());
}

const EVP_MD* opensslDigest(const std::string& name) {
  if (name == "sha1")
    return EVP_sha1();
  if (name == "sha256")
    return EVP_sha256();
  if (name == "md5")
    return EVP_md5();
  return test::legacyProviderLoaded() ? EVP_md4() : nullptr;
}

Blob opensslHash(const EVP_MD* md, const Blob& data) {
  Blob out(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

// Random lengths around the block and padding boundaries, fed in random pieces.
TEST_P(HashPaths, AgreesWithOpenSsl) {
  std::mt19937_64 rng(20261206);
  for (const char* name : {"sha1", "sha256", "md4", "md5"}) {
    const EVP_MD* md = opensslDigest(name);
    if (!md) {
      GTEST_LOG_(INFO) << "OpenSSL legacy provider missing: skipping " << name;
      continue;
    }
    auto hash = makeHash(name);
    for (int round = 0; round < 1500; ++round) {
      size_t n = round < 200 ? round : rng() % 3000;
      Blob data = test::randomBlob(rng, n);
      for (size_t at = 0; at < n;) {
        size_t piece = std::min<size_t>(n - at, rng() % 130);
        hash->update(data.data() + at, piece);
        at += piece;
      }
      Blob ours(hash->digestSize());
      hash->final(ours.data());
      ASSERT_EQ(toHex(ours), toHex(opensslHash(md, data))) << name << " length " << n;
    }
  }
}

TEST_P(HashPaths, HmacAndHkdfAgreeWithOpenSsl) {
  std::mt19937_64 rng(7);
  for (const char* name : {"sha1", "sha256", "md5"}) {
    const EVP_MD* md = opensslDigest(name);
    auto hash = makeHash(name);
    for (int round = 0; round < 600; ++round) {
      Blob key = test::randomBlob(rng, rng() % 150);
      Blob data = test::randomBlob(rng, rng() % 700);
      Hmac mac(*hash, key);
      SecureBytes ours = mac.digest(data);
      Blob theirs(EVP_MAX_MD_SIZE);
      unsigned int n = 0;
      HMAC(md, key.data(), static_cast<int>(key.size()), data.data(), data.size(), theirs.data(),
           &n);
      theirs.resize(n);
      ASSERT_EQ(toHex(ours), toHex(theirs)) << name;

      Blob salt = test::randomBlob(rng, rng() % 80);
      Blob info = test::randomBlob(rng, rng() % 40);
      size_t length = 1 + rng() % 100;
      auto okm = hkdf(*hash, salt, key, info, length);
      ASSERT_TRUE(okm.ok());
      Blob expected(length);
      EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr);
      ASSERT_EQ(EVP_PKEY_derive_init(ctx), 1);
      EVP_PKEY_CTX_set_hkdf_md(ctx, md);
      EVP_PKEY_CTX_set1_hkdf_salt(ctx, salt.data(), static_cast<int>(salt.size()));
      EVP_PKEY_CTX_set1_hkdf_key(ctx, key.empty() ? salt.data() : key.data(),
                                 static_cast<int>(key.size()));
      EVP_PKEY_CTX_add1_hkdf_info(ctx, info.data(), static_cast<int>(info.size()));
      size_t outLength = length;
      ASSERT_EQ(EVP_PKEY_derive(ctx, expected.data(), &outLength), 1);
      EVP_PKEY_CTX_free(ctx);
      ASSERT_EQ(toHex(*okm), toHex(expected)) << name;
    }
  }
}

// The session tags' HMAC-SHA-1 with precomputed keyed states: every length across the one- and
// two-final-block boundaries, random lengths, and keys shorter, equal to and longer than a block.
TEST_P(HashPaths, KeyedSha1TagsAgreeWithOpenSsl) {
  std::mt19937_64 rng(1984);
  for (int round = 0; round < 700; ++round) {
    const size_t keyLength = round % 7 == 0 ? 64 + rng() % 100 : (round % 7 == 1 ? 64 : rng() % 64);
    Blob key = test::randomBlob(rng, keyLength);
    Blob data = test::randomBlob(rng, round < 300 ? size_t(round) : rng() % 5000);
    HmacSha1 mac(key);
    Blob ours(20), theirs(EVP_MAX_MD_SIZE);
    mac.tag(data.data(), data.size(), ours.data());
    unsigned int n = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), data.data(), data.size(),
         theirs.data(), &n);
    theirs.resize(n);
    ASSERT_EQ(toHex(ours), toHex(theirs)) << "key " << key.size() << " data " << data.size();
  }
}

INSTANTIATE_TEST_SUITE_P(Crypto, HashPaths, ::testing::Values(CpuPath::Best, CpuPath::PortableOnly),
                         [](const auto& info) {
                           return info.param == CpuPath::Best ? "Best" : "Portable";
                         });

} // namespace
} // namespace kestel
