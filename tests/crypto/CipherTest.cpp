#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "TestSupport.h"
#include "crypto/Aes.h"
#include "crypto/Cpu.h"
#include "crypto/Des.h"

namespace kestel {
namespace {

using test::Blob;
using test::fromHex;
using test::toHex;

class CipherPaths : public ::testing::TestWithParam<CpuPath> {
protected:
  void SetUp() override { setCpuPath(GetParam()); }
  void TearDown() override { setCpuPath(CpuPath::Best); }
};

TEST_P(CipherPaths, AesFips197Blocks) {
  for (const auto& v : test::vectors()["aes128_block"]) {
    Aes128 aes(fromHex(v["key"].get<std::string>()));
    Blob plain = fromHex(v["plaintext"].get<std::string>()), out(16), back(16);
    aes.encryptBlock(plain.data(), out.data());
    EXPECT_EQ(toHex(out), v["ciphertext"].get<std::string>()) << v["source"];
    aes.decryptBlock(out.data(), back.data());
    EXPECT_EQ(back, plain);
  }
}

TEST_P(CipherPaths, CbcSp80038a) {
  const auto& v = test::vectors()["aes128_cbc"][0];
  Aes128 aes(fromHex(v["key"].get<std::string>()));
  Blob iv = fromHex(v["iv"].get<std::string>());
  Blob data = fromHex(v["plaintext"].get<std::string>());
  Blob vector = iv;
  cbcEncrypt(aes, data.data(), data.size(), vector.data());
  EXPECT_EQ(toHex(data), v["ciphertext"].get<std::string>());
  EXPECT_EQ(toHex(vector), toHex(Blob(data.end() - 16, data.end())));
  // Each block's cipher input is the plaintext XOR the previous ciphertext.
  for (const auto& b : test::vectors()["aes128_cbc_blocks"]) {
    Blob input = fromHex(b["input_block"].get<std::string>()), out(16);
    aes.encryptBlock(input.data(), out.data());
    EXPECT_EQ(toHex(out), b["ciphertext"].get<std::string>());
  }
  // Decryption in two calls continues the chain through the vector.
  vector = iv;
  cbcDecrypt(aes, data.data(), 16, vector.data());
  cbcDecrypt(aes, data.data() + 16, data.size() - 16, vector.data());
  EXPECT_EQ(toHex(data), v["plaintext"].get<std::string>());
}

TEST_P(CipherPaths, CbcAgreesWithOpenSsl) {
  std::mt19937_64 rng(99);
  for (int round = 0; round < 2000; ++round) {
    Blob key = test::randomBlob(rng, 16), iv = test::randomBlob(rng, 16);
    Blob data = test::randomBlob(rng, 16 * (rng() % 40));
    Blob expected(data.size() + 16);
    int n = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data());
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, expected.data(), &n, data.data(), static_cast<int>(data.size()));
    EVP_CIPHER_CTX_free(ctx);
    expected.resize(static_cast<size_t>(n));

    Aes128 aes(key);
    Blob ours = data, vector = iv;
    cbcEncrypt(aes, ours.data(), ours.size(), vector.data());
    ASSERT_EQ(toHex(ours), toHex(expected));
    // Out of place, then in place; both leave the vector at the last ciphertext block so that
    // a following call continues the stream.
    const Blob lastBlock = ours.size() ? Blob(ours.end() - 16, ours.end()) : iv;
    Blob separate(ours.size());
    vector = iv;
    cbcDecrypt(aes, ours.data(), separate.data(), ours.size(), vector.data());
    ASSERT_EQ(separate, data);
    ASSERT_EQ(vector, lastBlock);
    vector = iv;
    cbcDecrypt(aes, ours.data(), ours.size(), vector.data());
    ASSERT_EQ(ours, data);
    ASSERT_EQ(vector, lastBlock);
  }
}

INSTANTIATE_TEST_SUITE_P(Crypto, CipherPaths,
                         ::testing::Values(CpuPath::Best, CpuPath::PortableOnly),
                         [](const auto& info) {
                           return info.param == CpuPath::Best ? "Best" : "Portable";
                         });

// A block cipher of another block length can only come from a programming error.
struct EightByteCipher final : BlockCipher {
  size_t blockLength() const override { return 8; }
  void encryptBlock(const uint8_t*, uint8_t*) const override {}
  void decryptBlock(const uint8_t*, uint8_t*) const override {}
};

TEST(CbcDeathTest, OtherBlockLengthIsFatal) {
  EightByteCipher cipher;
  uint8_t data[16] = {}, vector[16] = {};
  EXPECT_DEATH(cbcEncrypt(cipher, data, 16, vector), "ASSERT in crypto/cbc");
  EXPECT_DEATH(cbcDecrypt(cipher, data, 16, vector), "ASSERT in crypto/cbc");
}

TEST(Des, PublishedBlocks) {
  for (const auto& v : test::vectors()["des_block"]) {
    Blob key = fromHex(v["key"].get<std::string>()), out(8);
    desEncryptBlock(key.data(), fromHex(v["plaintext"].get<std::string>()).data(), out.data());
    EXPECT_EQ(toHex(out), v["ciphertext"].get<std::string>()) << v["source"];
  }
}

TEST(Des, KeySpreadingOfRfc2759) {
  for (const char* group : {"mschapv2_des_subkeys", "des_key_parity"}) {
    for (const auto& v : test::vectors()[group]) {
      Blob key(8);
      desSpreadKey(fromHex(v["raw_key_7"].get<std::string>()).data(), key.data());
      EXPECT_EQ(toHex(key), v["des_key_8"].get<std::string>()) << v["source"];
      if (!v.contains("plaintext"))
        continue;
      Blob out(8);
      desEncryptBlock(key.data(), fromHex(v["plaintext"].get<std::string>()).data(), out.data());
      EXPECT_EQ(toHex(out), v["ciphertext"].get<std::string>());
    }
  }
}

TEST(Des, AgreesWithOpenSsl) {
  if (!test::legacyProviderLoaded())
    GTEST_SKIP() << "OpenSSL legacy provider missing: no DES oracle";
  EVP_CIPHER* des = EVP_CIPHER_fetch(nullptr, "DES-ECB", nullptr);
  ASSERT_NE(des, nullptr);
  std::mt19937_64 rng(5);
  for (int round = 0; round < 2000; ++round) {
    Blob raw = test::randomBlob(rng, 7), plain = test::randomBlob(rng, 8), key(8), ours(8);
    desSpreadKey(raw.data(), key.data());
    desEncryptBlock(key.data(), plain.data(), ours.data());
    Blob theirs(16);
    int n = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, des, nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, theirs.data(), &n, plain.data(), 8);
    EVP_CIPHER_CTX_free(ctx);
    theirs.resize(8);
    ASSERT_EQ(toHex(ours), toHex(theirs));
  }
  EVP_CIPHER_free(des);
}

} // namespace
} // namespace kestel
