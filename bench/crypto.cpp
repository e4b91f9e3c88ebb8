// Session frames, hashes, the curve ladder and the legacy exponentiation, each next to OpenSSL
// doing the same work. Run with --benchmark_enable_random_interleaving=true; only ratios within
// one run count.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <vector>

#include "crypto/BigNum.h"
#include "crypto/Ec.h"
#include "crypto/LoginCrypto.h"
#include "crypto/SessionCipher.h"
#include "crypto/Sha.h"

namespace {

using namespace kestel;
using Blob = std::vector<uint8_t>;

Blob randomBlob(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  Blob b(n);
  for (auto& x : b)
    x = static_cast<uint8_t>(rng());
  return b;
}

const Blob kKey = randomBlob(36, 1);
const Blob kIv = randomBlob(16, 2);

// OpenSSL doing what SessionCipher does: HMAC-SHA-1, pad, AES-128-CBC without its own padding.
struct OpenSslSession {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* macCtx = EVP_MAC_CTX_new(mac);
  EVP_CIPHER_CTX* enc = EVP_CIPHER_CTX_new();
  EVP_CIPHER_CTX* dec = EVP_CIPHER_CTX_new();
  OpenSslSession() {
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    EVP_MAC_init(macCtx, kKey.data() + 16, 20, params);
    EVP_EncryptInit_ex(enc, EVP_aes_128_cbc(), nullptr, kKey.data(), kIv.data());
    EVP_CIPHER_CTX_set_padding(enc, 0);
    EVP_DecryptInit_ex(dec, EVP_aes_128_cbc(), nullptr, kKey.data(), kIv.data());
    EVP_CIPHER_CTX_set_padding(dec, 0);
  }
  ~OpenSslSession() {
    EVP_CIPHER_CTX_free(enc);
    EVP_CIPHER_CTX_free(dec);
    EVP_MAC_CTX_free(macCtx);
    EVP_MAC_free(mac);
  }
  void tag(const uint8_t* data, size_t n, uint8_t* out) {
    size_t length = 0;
    EVP_MAC_init(macCtx, nullptr, 0, nullptr);
    EVP_MAC_update(macCtx, data, n);
    EVP_MAC_final(macCtx, out, &length, 20);
  }
  size_t encrypt(const uint8_t* plain, size_t n, uint8_t* out) {
    std::memcpy(out, plain, n);
    tag(plain, n, out + n);
    size_t p = 16 - (n + 20) % 16;
    std::memset(out + n + 20, static_cast<int>(p - 1), p);
    int length = 0;
    EVP_EncryptInit_ex(enc, nullptr, nullptr, nullptr, kIv.data());
    EVP_EncryptUpdate(enc, out, &length, out, static_cast<int>(n + 20 + p));
    return static_cast<size_t>(length);
  }
  uint32_t decrypt(const uint8_t* in, size_t m, uint8_t* out) {
    int length = 0;
    EVP_DecryptInit_ex(dec, nullptr, nullptr, nullptr, kIv.data());
    EVP_DecryptUpdate(dec, out, &length, in, static_cast<int>(m));
    uint8_t b = out[m - 1];
    size_t p = size_t(b) + 1;
    if (m - 20 < p)
      return 0xFFFFFFFF;
    uint8_t t[20];
    tag(out, m - 20 - p, t);
    if (CRYPTO_memcmp(t, out + m - 20 - p, 20) != 0)
      return 0xFFFFFFFF;
    return static_cast<uint32_t>(m - 20 - p);
  }
};

void SessionEncrypt_Ours(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Blob plain = randomBlob(n, 3), out(SessionCipher::encryptedLength(n));
  SessionCipher cipher(kKey);
  for (auto _ : state) {
    cipher.setVector(std::span<const uint8_t, 16>(kIv.data(), 16));
    cipher.encrypt(plain.data(), n, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

void SessionEncrypt_OpenSsl(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Blob plain = randomBlob(n, 3), out(SessionCipher::encryptedLength(n));
  OpenSslSession ossl;
  for (auto _ : state) {
    ossl.encrypt(plain.data(), n, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

void SessionDecrypt_Ours(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Blob plain = randomBlob(n, 3), frame(SessionCipher::encryptedLength(n)), out(frame.size());
  SessionCipher cipher(kKey);
  cipher.setVector(std::span<const uint8_t, 16>(kIv.data(), 16));
  cipher.encrypt(plain.data(), n, frame.data());
  for (auto _ : state) {
    cipher.setVector(std::span<const uint8_t, 16>(kIv.data(), 16));
    if (cipher.decrypt(frame.data(), frame.size(), out.data()) != n)
      state.SkipWithError("decrypt failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

void SessionDecrypt_OpenSsl(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Blob plain = randomBlob(n, 3), frame(SessionCipher::encryptedLength(n)), out(frame.size());
  OpenSslSession ossl;
  ossl.encrypt(plain.data(), n, frame.data());
  for (auto _ : state) {
    if (ossl.decrypt(frame.data(), frame.size(), out.data()) != n)
      state.SkipWithError("decrypt failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

template <typename H> void Hash_Ours(benchmark::State& state) {
  Blob data = randomBlob(16384, 4);
  H hash;
  uint8_t digest[32];
  for (auto _ : state) {
    hash.update(data);
    hash.final(digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 16384);
}

void hashOpenSsl(benchmark::State& state, const EVP_MD* md) {
  Blob data = randomBlob(16384, 4);
  uint8_t digest[EVP_MAX_MD_SIZE];
  for (auto _ : state) {
    EVP_Digest(data.data(), data.size(), digest, nullptr, md, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 16384);
}
void Sha1_OpenSsl(benchmark::State& state) { hashOpenSsl(state, EVP_sha1()); }
void Sha256_OpenSsl(benchmark::State& state) { hashOpenSsl(state, EVP_sha256()); }

void CurveMul_Ours(benchmark::State& state) {
  Blob k = randomBlob(32, 5);
  ec::Scalar scalar;
  std::copy(k.begin(), k.end(), scalar.begin());
  scalar = ec::clampScalar(scalar);
  ec::Point peer = ec::mul(scalar, ec::basePoint());
  for (auto _ : state)
    benchmark::DoNotOptimize(ec::mul(scalar, peer));
}

void CurveMul_OpenSslX25519(benchmark::State& state) {
  Blob k = randomBlob(32, 5), k2 = randomBlob(32, 6);
  EVP_PKEY* priv = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, k.data(), 32);
  EVP_PKEY* other = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, k2.data(), 32);
  uint8_t pub[32];
  size_t pubLength = 32;
  EVP_PKEY_get_raw_public_key(other, pub, &pubLength);
  EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, pub, 32);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(priv, nullptr);
  EVP_PKEY_derive_init(ctx);
  EVP_PKEY_derive_set_peer(ctx, peer);
  uint8_t out[32];
  for (auto _ : state) {
    size_t length = 32;
    EVP_PKEY_derive(ctx, out, &length);
    benchmark::DoNotOptimize(out);
  }
  EVP_PKEY_CTX_free(ctx);
  for (EVP_PKEY* key : {priv, other, peer})
    EVP_PKEY_free(key);
}

const char* kGroupModulus = "b7ba220582b41518f8526bfe0f624de926106dfb4f719dd93bc4309d49045a41"
                            "75db1c58c4d7843d16e766226894b31793b13e789ffd2cf3331267476031b30d"
                            "2f995237f0b59a33a4f972fb1a618556ef8f332e7a3c366b24fdb39b42b0670b"
                            "1f90a3d2e8c22e78dda51a16b46a8e693bb9aed29e8509361bd438e76b1c235f"
                            "cdd11e70a2b8c0ea15a9dfea03278f39c12520a0bc36f21694546154c82e065b"
                            "2effd7ddebd5c1e588f9916f87d80e91303c9435a20e91dd1c9360def6a2b0d5"
                            "4fda44049c0e8cc8a8049cbb1432c6e322d603f41daa60028c40d78a8653f659"
                            "c4ffc3f5d8a4e01a5c08e4b04b52388e9ef4a5e24569d15f";

Blob groupModulus() {
  Blob out;
  for (size_t i = 0; kGroupModulus[i]; i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(kGroupModulus + i, 2), nullptr, 16)));
  return out;
}

void ModExp1984_Ours(benchmark::State& state) {
  BigNum g = BigNum::fromUint(5), e, m, r;
  if (!e.load(randomBlob(248, 7)) || !m.load(groupModulus()))
    state.SkipWithError("load");
  for (auto _ : state)
    benchmark::DoNotOptimize(modExp(r, g, e, m));
}

void modExpOpenSsl(benchmark::State& state, bool constantTime) {
  Blob eb = randomBlob(248, 7), mb = groupModulus();
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *g = BN_new(), *r = BN_new();
  BN_set_word(g, 5);
  BIGNUM* e = BN_bin2bn(eb.data(), 248, nullptr);
  BIGNUM* m = BN_bin2bn(mb.data(), 248, nullptr);
  for (auto _ : state) {
    if (constantTime)
      BN_mod_exp_mont_consttime(r, g, e, m, ctx, nullptr);
    else
      BN_mod_exp(r, g, e, m, ctx);
  }
  for (BIGNUM* b : {g, r, e, m})
    BN_free(b);
  BN_CTX_free(ctx);
}
void ModExp1984_OpenSsl(benchmark::State& state) { modExpOpenSsl(state, false); }
void ModExp1984_OpenSslConstTime(benchmark::State& state) { modExpOpenSsl(state, true); }

// Everything the client computes for one secure login: key pair, shared secret, response and
// expected proof, both direction keys and both ciphers.
void SecureLoginComputation_Ours(benchmark::State& state) {
  Blob random = randomBlob(32, 8);
  KeyPair router = makeKeyPair(randomBlob(32, 9));
  for (auto _ : state) {
    KeyPair client = makeKeyPair(random);
    auto secret = sharedSecret(client.scalar, router.publicKey);
    LoginResponse response =
        loginResponse(*secret, router.publicKey, client.publicKey, "admin+ct", "secret");
    DirectionKeys keys = deriveDirectionKeys(*secret);
    SessionCipher encryptor(keys.send), decryptor(keys.receive);
    benchmark::DoNotOptimize(response.ntResponse.data());
  }
}

} // namespace

BENCHMARK(SessionEncrypt_Ours)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK(SessionEncrypt_OpenSsl)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK(SessionDecrypt_Ours)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK(SessionDecrypt_OpenSsl)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK_TEMPLATE(Hash_Ours, kestel::Sha1)->Name("Sha1_16K_Ours");
BENCHMARK(Sha1_OpenSsl)->Name("Sha1_16K_OpenSsl");
BENCHMARK_TEMPLATE(Hash_Ours, kestel::Sha256)->Name("Sha256_16K_Ours");
BENCHMARK(Sha256_OpenSsl)->Name("Sha256_16K_OpenSsl");
BENCHMARK(CurveMul_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(CurveMul_OpenSslX25519)->Unit(benchmark::kMicrosecond);
BENCHMARK(ModExp1984_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(ModExp1984_OpenSsl)->Unit(benchmark::kMillisecond);
BENCHMARK(ModExp1984_OpenSslConstTime)->Unit(benchmark::kMillisecond);
BENCHMARK(SecureLoginComputation_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
