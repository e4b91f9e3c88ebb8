#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "TestSupport.h"
#include "crypto/Cpu.h"
#include "crypto/SessionCipher.h"

namespace kestel {
namespace {

using test::Blob;
using test::toHex;

// The protected bytes built independently with OpenSSL: P, HMAC-SHA-1(P), then padding bytes,
// encrypted with AES-128-CBC without OpenSSL's own padding.
Blob opensslProtect(const Blob& key, const Blob& iv, Blob body) {
  Blob out(body.size() + 16);
  int n = 0;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data());
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, out.data(), &n, body.data(), static_cast<int>(body.size()));
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n));
  return out;
}

Blob macAndPad(const Blob& key, const Blob& plain, size_t padding, uint8_t padValue) {
  Blob body = plain, tag(20);
  unsigned int tagLength = 0;
  HMAC(EVP_sha1(), key.data() + 16, 20, plain.data(), plain.size(), tag.data(), &tagLength);
  body.insert(body.end(), tag.begin(), tag.end());
  body.insert(body.end(), padding, padValue);
  return body;
}

struct Fixture : ::testing::Test {
  std::mt19937_64 rng{1206};
  Blob key = test::randomBlob(rng, 36);
  Blob iv = test::randomBlob(rng, 16);
  SessionCipher sender{key};
  SessionCipher receiver{key};

  Blob protect(const Blob& plain) {
    Blob out(SessionCipher::encryptedLength(plain.size()));
    sender.setVector(std::span<const uint8_t, 16>(iv.data(), 16));
    sender.encrypt(plain.data(), plain.size(), out.data());
    return out;
  }
  uint32_t open(const Blob& protectedBytes, const Blob& vector, Blob& plain) {
    plain.assign(protectedBytes.size(), 0);
    receiver.setVector(std::span<const uint8_t, 16>(vector.data(), 16));
    return receiver.decrypt(protectedBytes.data(), protectedBytes.size(), plain.data());
  }
};

TEST_F(Fixture, PaddingLengthsAndLayoutMatchIndependentBuild) {
  struct Case {
    size_t n, protectedLength, padding;
  };
  for (Case c : {Case{0, 32, 12}, Case{11, 32, 1}, Case{12, 48, 16}, Case{27, 48, 1},
                 Case{28, 64, 16}, Case{1000, 1024, 4}}) {
    EXPECT_EQ(SessionCipher::encryptedLength(c.n), c.protectedLength);
    Blob plain = test::randomBlob(rng, c.n);
    Blob expected =
        opensslProtect(key, iv, macAndPad(key, plain, c.padding, uint8_t(c.padding - 1)));
    EXPECT_EQ(toHex(protect(plain)), toHex(expected)) << "n=" << c.n;
  }
}

TEST_F(Fixture, RoundTripsEveryLengthUpTo300) {
  for (size_t n = 0; n <= 300; ++n) {
    Blob plain = test::randomBlob(rng, n), back;
    ASSERT_EQ(open(protect(plain), iv, back), n);
    back.resize(n);
    ASSERT_EQ(back, plain);
  }
}

TEST_F(Fixture, EverySingleBitFlipFails) {
  for (size_t n : {0, 11, 12, 45}) {
    Blob plain = test::randomBlob(rng, n), back;
    Blob good = protect(plain);
    for (size_t bit = 0; bit < good.size() * 8; ++bit) {
      Blob bad = good;
      bad[bit / 8] ^= uint8_t(1 << (bit % 8));
      ASSERT_EQ(open(bad, iv, back), SessionCipher::kFailed) << "n=" << n << " bit " << bit;
    }
    for (size_t bit = 0; bit < 128; ++bit) {
      Blob vector = iv;
      vector[bit / 8] ^= uint8_t(1 << (bit % 8));
      ASSERT_EQ(open(good, vector, back), SessionCipher::kFailed) << "vector bit " << bit;
    }
  }
}

TEST_F(Fixture, MalformedLengthsFailAtOnce) {
  Blob back;
  for (size_t m : {0, 16, 17, 31, 33, 47})
    EXPECT_EQ(open(test::randomBlob(rng, m), iv, back), SessionCipher::kFailed) << m;
}

// A correct tag with broken padding, and a padding byte claiming more than the text holds.
TEST_F(Fixture, ValidTagWithBadPaddingFails) {
  Blob plain = test::randomBlob(rng, 10), back;
  struct Case {
    size_t padding;
    uint8_t value;
    const char* what;
  };
  for (Case c : {Case{2, 0, "count says 1, two bytes"}, Case{2, 2, "count says 3"},
                 Case{18, 16, "18 bytes of 16"}, Case{2, 0xFF, "p beyond text"}}) {
    Blob body = macAndPad(key, plain, c.padding, c.value);
    ASSERT_EQ(body.size() % 16, 0u) << c.what;
    EXPECT_EQ(open(opensslProtect(key, iv, body), iv, back), SessionCipher::kFailed) << c.what;
  }
  // Sanity: the same construction with correct padding opens. 18 padding bytes of value 17 are
  // well-formed by the decryption rules even though encryption never makes them.
  EXPECT_EQ(open(opensslProtect(key, iv, macAndPad(key, plain, 2, 1)), iv, back), 10u);
  EXPECT_EQ(open(opensslProtect(key, iv, macAndPad(key, plain, 18, 17)), iv, back), 10u);
}

TEST_F(Fixture, DecryptsOpenSslBuiltFrames) {
  for (int round = 0; round < 500; ++round) {
    size_t n = rng() % 2000;
    Blob plain = test::randomBlob(rng, n), back;
    size_t p = 16 - (n + 20) % 16;
    Blob frame = opensslProtect(key, iv, macAndPad(key, plain, p, uint8_t(p - 1)));
    ASSERT_EQ(open(frame, iv, back), n);
    back.resize(n);
    ASSERT_EQ(back, plain);
  }
}

// Encryption hashes and encrypts whole 64-byte pieces in one pass where the processor allows:
// both paths, out of place and in place, against the independent build.
TEST_F(Fixture, EncryptionMatchesIndependentBuildOnEveryPath) {
  for (CpuPath path : {CpuPath::Best, CpuPath::PortableOnly}) {
    setCpuPath(path);
    for (int round = 0; round < 400; ++round) {
      const size_t n = round < 200 ? size_t(round) : rng() % 5000;
      Blob plain = test::randomBlob(rng, n);
      const size_t p = 16 - (n + 20) % 16;
      const std::string expected =
          toHex(opensslProtect(key, iv, macAndPad(key, plain, p, uint8_t(p - 1))));
      ASSERT_EQ(toHex(protect(plain)), expected) << "n=" << n;
      Blob inPlace = plain;
      inPlace.resize(SessionCipher::encryptedLength(n));
      sender.setVector(std::span<const uint8_t, 16>(iv.data(), 16));
      sender.encrypt(inPlace.data(), n, inPlace.data());
      ASSERT_EQ(toHex(inPlace), expected) << "in place, n=" << n;
      Blob back;
      ASSERT_EQ(open(inPlace, iv, back), n);
    }
  }
  setCpuPath(CpuPath::Best);
}

} // namespace
} // namespace kestel
