// Ed25519 signature checks against the published vectors of RFC 8032 (section 7.1) and against
// signatures OpenSSL makes with keys of its own; every altered byte and every wrong size fails.
#include "crypto/Signature.h"
#include "crypto/TestSupport.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

namespace kestel {
namespace {

struct Vector {
  const char* publicKey;
  const char* message;
  const char* signature;
};

const Vector kRfcVectors[] = {
    {"d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b"
     "46bd25bf5f0595bbe24655141438e7a100b"},
    {"3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11"
     "d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc"
     "6594a7c15e9716ed28dc027beceea1ec40a"},
};

// Every single-bit change of the message, the signature or the key (a sample of positions for
// long inputs) must be refused.
void expectEveryChangeRefused(const Bytes& message, const Bytes& signature, const Bytes& key) {
  for (int part = 0; part < 3; ++part) {
    Bytes m = message, s = signature, k = key;
    Bytes& changed = part == 0 ? m : part == 1 ? s : k;
    size_t step = changed.size() > 64 ? changed.size() / 61 : 1;
    for (size_t i = 0; i < changed.size(); i += step) {
      changed[i] ^= uint8_t(1 << (i % 8));
      EXPECT_FALSE(verifySignature(m, s, k)) << "part " << part << " byte " << i;
      changed[i] ^= uint8_t(1 << (i % 8));
    }
  }
}

TEST(SignatureTest, PublishedVectorsPassAndEveryChangeFails) {
  for (const Vector& v : kRfcVectors) {
    Bytes key = test::fromHex(v.publicKey);
    Bytes message = test::fromHex(v.message);
    Bytes signature = test::fromHex(v.signature);
    EXPECT_TRUE(verifySignature(message, signature, key)) << v.message;
    expectEveryChangeRefused(message, signature, key);
  }
}

TEST(SignatureTest, SignaturesMadeByOpenSslPass) {
  EVP_PKEY* pkey = nullptr;
  EVP_PKEY_CTX* kctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
  ASSERT_TRUE(kctx && EVP_PKEY_keygen_init(kctx) == 1 && EVP_PKEY_keygen(kctx, &pkey) == 1);
  EVP_PKEY_CTX_free(kctx);
  Bytes key(kSignaturePublicKeySize);
  size_t keyLength = key.size();
  ASSERT_EQ(EVP_PKEY_get_raw_public_key(pkey, key.data(), &keyLength), 1);

  std::mt19937_64 rng(23);
  for (size_t size : {size_t(0), size_t(1), size_t(1000), size_t(300000)}) {
    Bytes message = test::randomBlob(rng, size);
    Bytes signature(kSignatureSize);
    size_t signatureLength = signature.size();
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ASSERT_EQ(EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, pkey), 1);
    ASSERT_EQ(EVP_DigestSign(ctx, signature.data(), &signatureLength, message.data(), size), 1);
    EVP_MD_CTX_free(ctx);
    EXPECT_TRUE(verifySignature(message, signature, key)) << size;
    expectEveryChangeRefused(message, signature, key);
  }
  EVP_PKEY_free(pkey);
}

TEST(SignatureTest, WrongSizesFail) {
  const Vector& v = kRfcVectors[1];
  Bytes key = test::fromHex(v.publicKey);
  Bytes message = test::fromHex(v.message);
  Bytes signature = test::fromHex(v.signature);
  Bytes longer = signature;
  longer.push_back(0);
  EXPECT_FALSE(verifySignature(message, longer, key));
  EXPECT_FALSE(verifySignature(message, ByteSpan(signature).first(63), key));
  EXPECT_FALSE(verifySignature(message, signature, ByteSpan(key).first(31)));
  EXPECT_FALSE(verifySignature(message, {}, {}));
}

} // namespace
} // namespace kestel
