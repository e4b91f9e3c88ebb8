// The crypto primitives next to OpenSSL doing the same work from the same input to the same
// usable result, in one process. Each pair below says what both sides do; setup (keys, contexts,
// curve groups, parsed numbers) happens once per side outside the timed loop, and whatever one
// side redoes per call (the Montgomery context of the exponentiation) the other redoes too.
//
// The Google Benchmark rows give each side's speed; run them with
//   --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true
// After the rows, a summary times the two sides of every pair in alternating batches and prints
// the median "kestel/openssl" speed ratio per pair (above 1 means Kestel is faster). Only ratios
// from one process count; --summary_rounds=N changes the number of alternations (0 skips it).
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
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

// One unit of work of one side; it keeps its own state between calls.
using Work = std::function<void()>;

struct Pair {
  std::string name;
  std::function<Work()> kestel; // each makes a fresh side with its setup done
  std::function<Work()> openssl;
};

// ---------------------------------------------------------------------------------------------
// Session frames. Both sides: HMAC-SHA-1 of the plaintext, the tag and the padding after it,
// AES-128-CBC of the whole under the frame's vector (encrypt); CBC decryption, tag recomputed
// and compared, padding checked (decrypt). OpenSSL runs the cipher and the MAC as separate EVP
// calls with keyed contexts made once; Kestel runs SessionCipher.

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
  OpenSslSession(const OpenSslSession&) = delete;
  OpenSslSession& operator=(const OpenSslSession&) = delete;

  void tag(const uint8_t* data, size_t n, uint8_t* out) {
    size_t length = 0;
    EVP_MAC_init(macCtx, nullptr, 0, nullptr); // same key: restarts from the keyed state
    EVP_MAC_update(macCtx, data, n);
    EVP_MAC_final(macCtx, out, &length, 20);
  }
  void encrypt(const uint8_t* plain, size_t n, uint8_t* out) {
    std::memcpy(out, plain, n);
    tag(plain, n, out + n);
    size_t p = 16 - (n + 20) % 16;
    std::memset(out + n + 20, static_cast<int>(p - 1), p);
    int length = 0;
    EVP_EncryptInit_ex(enc, nullptr, nullptr, nullptr, kIv.data());
    EVP_EncryptUpdate(enc, out, &length, out, static_cast<int>(n + 20 + p));
  }
  uint32_t decrypt(const uint8_t* in, size_t m, uint8_t* out) {
    if (m == 0 || m % 16 != 0 || m < 32)
      return 0xFFFFFFFF;
    int length = 0;
    EVP_DecryptInit_ex(dec, nullptr, nullptr, nullptr, kIv.data());
    EVP_DecryptUpdate(dec, out, &length, in, static_cast<int>(m));
    const uint8_t b = out[m - 1];
    size_t p = size_t(b) + 1;
    if (m - 20 < p)
      p = 0;
    uint8_t t[20];
    tag(out, m - 20 - p, t);
    bool ok = CRYPTO_memcmp(t, out + m - 20 - p, 20) == 0 && p == size_t(b) + 1;
    uint8_t diff = 0;
    for (size_t i = m - p; i < m; ++i)
      diff |= static_cast<uint8_t>(out[i] ^ b);
    return ok && diff == 0 ? static_cast<uint32_t>(m - 20 - p) : 0xFFFFFFFF;
  }
};

Pair sessionEncrypt(size_t n) {
  return {"session encrypt " + std::to_string(n) + " B",
          [n] {
            auto plain = std::make_shared<Blob>(randomBlob(n, 3));
            auto out = std::make_shared<Blob>(SessionCipher::encryptedLength(n));
            auto cipher = std::make_shared<SessionCipher>(kKey);
            return [=] {
              cipher->setVector(std::span<const uint8_t, 16>(kIv.data(), 16));
              cipher->encrypt(plain->data(), n, out->data());
              benchmark::DoNotOptimize(out->data());
            };
          },
          [n] {
            auto plain = std::make_shared<Blob>(randomBlob(n, 3));
            auto out = std::make_shared<Blob>(SessionCipher::encryptedLength(n));
            auto ossl = std::make_shared<OpenSslSession>();
            return [=] {
              ossl->encrypt(plain->data(), n, out->data());
              benchmark::DoNotOptimize(out->data());
            };
          }};
}

// The frame both sides decrypt, made once by OpenSSL.
std::shared_ptr<Blob> sessionFrame(size_t n) {
  auto frame = std::make_shared<Blob>(SessionCipher::encryptedLength(n));
  OpenSslSession maker;
  maker.encrypt(randomBlob(n, 3).data(), n, frame->data());
  return frame;
}

Pair sessionDecrypt(size_t n) {
  return {"session decrypt " + std::to_string(n) + " B",
          [n] {
            auto frame = sessionFrame(n);
            auto out = std::make_shared<Blob>(frame->size());
            auto cipher = std::make_shared<SessionCipher>(kKey);
            return [=] {
              cipher->setVector(std::span<const uint8_t, 16>(kIv.data(), 16));
              if (cipher->decrypt(frame->data(), frame->size(), out->data()) != n)
                std::abort();
            };
          },
          [n] {
            auto frame = sessionFrame(n);
            auto out = std::make_shared<Blob>(frame->size());
            auto ossl = std::make_shared<OpenSslSession>();
            return [=] {
              if (ossl->decrypt(frame->data(), frame->size(), out->data()) != n)
                std::abort();
            };
          }};
}

// ---------------------------------------------------------------------------------------------
// Hashes of 16 KiB into a digest. Both sides keep one hash object (an EVP_MD_CTX with the
// digest fetched once) and restart it per message.

template <typename H> Pair hash16K(const char* name, const char* opensslName) {
  return {std::string(name) + " 16 KiB",
          [] {
            auto data = std::make_shared<Blob>(randomBlob(16384, 4));
            auto hash = std::make_shared<H>();
            return [=] {
              uint8_t digest[32];
              hash->reset();
              hash->update(*data);
              hash->final(digest);
              benchmark::DoNotOptimize(digest);
            };
          },
          [opensslName] {
            auto data = std::make_shared<Blob>(randomBlob(16384, 4));
            std::shared_ptr<EVP_MD> md(EVP_MD_fetch(nullptr, opensslName, nullptr), EVP_MD_free);
            std::shared_ptr<EVP_MD_CTX> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
            return [=] {
              uint8_t digest[EVP_MAX_MD_SIZE];
              unsigned length = 0;
              EVP_DigestInit_ex(ctx.get(), md.get(), nullptr);
              EVP_DigestUpdate(ctx.get(), data->data(), data->size());
              EVP_DigestFinal_ex(ctx.get(), digest, &length);
              benchmark::DoNotOptimize(digest);
            };
          }};
}

// ---------------------------------------------------------------------------------------------
// Legacy exchange: 5^e mod m with a 1984-bit exponent and modulus, both in constant time (the
// OpenSSL side is BN_mod_exp_mont_consttime; its plain BN_mod_exp would take a variable-time
// shortcut for a one-word base). Both sides build their Montgomery context per call.

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

Pair modExp1984() {
  return {"modexp 1984-bit, base 5",
          [] {
            auto g = std::make_shared<BigNum>(BigNum::fromUint(5));
            auto e = std::make_shared<BigNum>(), m = std::make_shared<BigNum>(),
                 r = std::make_shared<BigNum>();
            if (!e->load(randomBlob(248, 7)) || !m->load(groupModulus()))
              std::abort();
            return [=] {
              if (modExp(*r, *g, *e, *m) != 0)
                std::abort();
            };
          },
          [] {
            Blob eb = randomBlob(248, 7), mb = groupModulus();
            std::shared_ptr<BN_CTX> ctx(BN_CTX_new(), BN_CTX_free);
            std::shared_ptr<BIGNUM> g(BN_new(), BN_free), r(BN_new(), BN_free);
            std::shared_ptr<BIGNUM> e(BN_bin2bn(eb.data(), 248, nullptr), BN_free);
            std::shared_ptr<BIGNUM> m(BN_bin2bn(mb.data(), 248, nullptr), BN_free);
            BN_set_word(g.get(), 5);
            return [=] {
              if (BN_mod_exp_mont_consttime(r.get(), g.get(), e.get(), m.get(), ctx.get(),
                                            nullptr) != 1)
                std::abort();
            };
          }};
}

// ---------------------------------------------------------------------------------------------
// Curve scalar multiplication on the login curve in its short-Weierstrass form. OpenSSL uses its
// generic prime-curve code (EC_GROUP_new_curve_GFp with the same a, b, generator, order and
// cofactor, so EC_POINT_mul takes its constant-time ladder).

struct OpenSslCurve {
  BN_CTX* ctx = BN_CTX_new();
  EC_GROUP* group = nullptr;
  OpenSslCurve() {
    BIGNUM *p = nullptr, *order = nullptr;
    BN_hex2bn(&p, "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed");
    BN_hex2bn(&order, "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ed");
    BIGNUM *A = BN_new(), *a = BN_new(), *b = BN_new(), *t = BN_new(), *inv = BN_new();
    BIGNUM *x = BN_new(), *y = BN_new(), *cofactor = BN_new();
    BN_set_word(A, 486662);
    BN_set_word(t, 3);
    BN_mod_inverse(inv, t, p, ctx);
    BN_mod_sqr(a, A, p, ctx);
    BN_mod_sub(a, t, a, p, ctx);
    BN_mod_mul(a, a, inv, p, ctx); // (3 - A^2) / 3
    BN_mod_mul(x, A, inv, p, ctx); // A / 3
    BN_mod_sqr(t, A, p, ctx);
    BN_mod_mul(t, t, A, p, ctx);
    BN_mod_add(t, t, t, p, ctx); // 2 A^3
    BN_set_word(b, 9 * 486662);
    BN_mod_sub(b, t, b, p, ctx);
    BN_set_word(t, 27);
    BN_mod_inverse(inv, t, p, ctx);
    BN_mod_mul(b, b, inv, p, ctx); // (2 A^3 - 9 A) / 27
    group = EC_GROUP_new_curve_GFp(p, a, b, ctx);
    BN_add_word(x, 9); // the generator: u = 9, odd y
    EC_POINT* g = EC_POINT_new(group);
    EC_POINT_set_compressed_coordinates(group, g, x, 1, ctx);
    BN_set_word(cofactor, 8);
    EC_GROUP_set_generator(group, g, order, cofactor);
    EC_POINT_free(g);
    for (BIGNUM* n : {p, order, A, a, b, t, inv, x, y, cofactor})
      BN_free(n);
  }
  ~OpenSslCurve() {
    EC_GROUP_free(group);
    BN_CTX_free(ctx);
  }
  OpenSslCurve(const OpenSslCurve&) = delete;
  OpenSslCurve& operator=(const OpenSslCurve&) = delete;
};

ec::Scalar benchScalar() {
  Blob k = randomBlob(32, 5);
  ec::Scalar scalar;
  std::copy(k.begin(), k.end(), scalar.begin());
  return ec::clampScalar(scalar);
}

// The peer's point as it arrives: 33 bytes, compressed.
ec::Encoded benchPeerPoint() {
  Blob k = randomBlob(32, 6);
  ec::Scalar scalar;
  std::copy(k.begin(), k.end(), scalar.begin());
  return *ec::encodePoint(ec::mul(ec::clampScalar(scalar), ec::basePoint()));
}

// Scalar times a decoded (affine) point, into a point in each side's own representation.
Pair curveMul() {
  return {"curve scalar mul",
          [] {
            auto scalar = std::make_shared<ec::Scalar>(benchScalar());
            auto peer = std::make_shared<ec::Point>(*ec::decodePoint(benchPeerPoint()));
            return [=] { benchmark::DoNotOptimize(ec::mul(*scalar, *peer)); };
          },
          [] {
            auto curve = std::make_shared<OpenSslCurve>();
            ec::Scalar s = benchScalar();
            std::reverse(s.begin(), s.end());
            std::shared_ptr<BIGNUM> k(BN_bin2bn(s.data(), 32, nullptr), BN_free);
            ec::Encoded bytes = benchPeerPoint();
            std::shared_ptr<EC_POINT> peer(EC_POINT_new(curve->group), EC_POINT_free);
            std::shared_ptr<EC_POINT> r(EC_POINT_new(curve->group), EC_POINT_free);
            if (EC_POINT_oct2point(curve->group, peer.get(), bytes.data(), 33, curve->ctx) != 1)
              std::abort();
            return [=] {
              if (EC_POINT_mul(curve->group, r.get(), nullptr, peer.get(), k.get(), curve->ctx) !=
                  1)
                std::abort();
            };
          }};
}

// The whole shared-secret step: decode the 33-byte point, multiply, encode the result.
Pair curveSharedPoint() {
  return {
      "curve decode+mul+encode",
      [] {
        auto scalar = std::make_shared<ec::Scalar>(benchScalar());
        auto bytes = std::make_shared<ec::Encoded>(benchPeerPoint());
        return [=] {
          auto out = ec::encodePoint(ec::mul(*scalar, *ec::decodePoint(*bytes)));
          benchmark::DoNotOptimize(out->data());
        };
      },
      [] {
        auto curve = std::make_shared<OpenSslCurve>();
        ec::Scalar s = benchScalar();
        std::reverse(s.begin(), s.end());
        std::shared_ptr<BIGNUM> k(BN_bin2bn(s.data(), 32, nullptr), BN_free);
        auto bytes = std::make_shared<ec::Encoded>(benchPeerPoint());
        std::shared_ptr<EC_POINT> peer(EC_POINT_new(curve->group), EC_POINT_free);
        std::shared_ptr<EC_POINT> r(EC_POINT_new(curve->group), EC_POINT_free);
        return [=] {
          uint8_t out[33];
          if (EC_POINT_oct2point(curve->group, peer.get(), bytes->data(), 33, curve->ctx) != 1 ||
              EC_POINT_mul(curve->group, r.get(), nullptr, peer.get(), k.get(), curve->ctx) != 1 ||
              EC_POINT_point2oct(curve->group, r.get(), POINT_CONVERSION_COMPRESSED, out,
                                 sizeof out, curve->ctx) != 33)
            std::abort();
          benchmark::DoNotOptimize(out);
        };
      }};
}

// For reference only, a different algorithm: OpenSSL's X25519 (u-coordinate only, dedicated
// field code) against Kestel's full-point multiplication.
Pair curveVersusX25519() {
  return {"curve scalar mul vs X25519 (reference)",
          [] {
            auto scalar = std::make_shared<ec::Scalar>(benchScalar());
            auto peer = std::make_shared<ec::Point>(*ec::decodePoint(benchPeerPoint()));
            return [=] { benchmark::DoNotOptimize(ec::mul(*scalar, *peer)); };
          },
          [] {
            Blob k = randomBlob(32, 5), k2 = randomBlob(32, 6);
            EVP_PKEY* priv = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, k.data(), 32);
            EVP_PKEY* other = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, k2.data(), 32);
            uint8_t pub[32];
            size_t pubLength = 32;
            EVP_PKEY_get_raw_public_key(other, pub, &pubLength);
            EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, pub, 32);
            std::shared_ptr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new(priv, nullptr), EVP_PKEY_CTX_free);
            EVP_PKEY_derive_init(ctx.get());
            EVP_PKEY_derive_set_peer(ctx.get(), peer);
            for (EVP_PKEY* key : {priv, other, peer})
              EVP_PKEY_free(key);
            return [=] {
              uint8_t out[32];
              size_t length = 32;
              EVP_PKEY_derive(ctx.get(), out, &length);
              benchmark::DoNotOptimize(out);
            };
          }};
}

std::vector<Pair> pairs() {
  std::vector<Pair> out;
  for (size_t n : {64, 1024, 16384})
    out.push_back(sessionEncrypt(n));
  for (size_t n : {64, 1024, 16384})
    out.push_back(sessionDecrypt(n));
  out.push_back(hash16K<Sha1>("sha1", "SHA1"));
  out.push_back(hash16K<Sha256>("sha256", "SHA2-256"));
  out.push_back(modExp1984());
  out.push_back(curveMul());
  out.push_back(curveSharedPoint());
  out.push_back(curveVersusX25519());
  return out;
}

void registerRows(const std::vector<Pair>& all) {
  for (const Pair& pair : all) {
    for (bool ours : {true, false}) {
      std::string name = pair.name + (ours ? " | kestel" : " | openssl");
      std::replace(name.begin(), name.end(), ' ', '_');
      auto make = ours ? pair.kestel : pair.openssl;
      benchmark::RegisterBenchmark(name.c_str(), [make](benchmark::State& state) {
        Work work = make();
        for (auto _ : state)
          work();
      })->Unit(benchmark::kMicrosecond);
    }
  }
}

// Everything the client computes for one secure login (key pair, shared secret, response and
// expected proof, both direction keys and both ciphers); Kestel only, no peer does this.
void SecureLoginComputation(benchmark::State& state) {
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

double secondsFor(const Work& work, long calls) {
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < calls; ++i)
    work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Alternates batches of the two sides (which one goes first alternates too) and prints the
// median of the per-round speed ratios kestel/openssl, with both sides' median call times.
void printRatios(const std::vector<Pair>& all, int rounds) {
  std::printf("\n%-42s %12s %12s %16s\n", "pair (same work both sides)", "kestel", "openssl",
              "kestel/openssl");
  for (const Pair& pair : all) {
    Work ours = pair.kestel(), peer = pair.openssl();
    long calls = 1;
    while (secondsFor(peer, calls) < 0.02)
      calls *= 2;
    std::vector<double> ratios, ourTimes, peerTimes;
    for (int r = 0; r < rounds; ++r) {
      double a = 0, b = 0;
      if (r % 2 == 0) {
        a = secondsFor(ours, calls);
        b = secondsFor(peer, calls);
      } else {
        b = secondsFor(peer, calls);
        a = secondsFor(ours, calls);
      }
      ratios.push_back(b / a);
      ourTimes.push_back(a / double(calls));
      peerTimes.push_back(b / double(calls));
    }
    auto median = [](std::vector<double> v) {
      std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
      return v[v.size() / 2];
    };
    std::printf("%-42s %9.2f us %9.2f us   kestel/openssl = %.2f\n", pair.name.c_str(),
                median(ourTimes) * 1e6, median(peerTimes) * 1e6, median(ratios));
  }
}

} // namespace

int main(int argc, char** argv) {
  int rounds = 15;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--summary_rounds=", 17) == 0) {
      rounds = std::atoi(argv[i] + 17);
      std::copy(argv + i + 1, argv + argc, argv + i);
      --argc;
      --i;
    }
  }
  const std::vector<Pair> all = pairs();
  registerRows(all);
  benchmark::RegisterBenchmark("secure login computation | kestel only", SecureLoginComputation)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (rounds > 0)
    printRatios(all, rounds);
  return 0;
}
