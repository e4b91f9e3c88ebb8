// AES-128 with the processor's AES instructions. Per-function target attributes keep the rest of
// the program free of special flags; Aes.cpp calls these only after checking the processor.
#include "crypto/Aes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "crypto/ShaNiRounds.h"

#define KESTEL_AES_TARGET __attribute__((target("aes,sse4.1")))
#define KESTEL_VAES_TARGET __attribute__((target("vaes,avx2,aes,sse4.1")))
#define KESTEL_AES_SHA_TARGET __attribute__((target("aes,sha,sse4.1,ssse3")))

namespace kestel {

namespace {

KESTEL_AES_TARGET inline void loadKeys(const uint8_t* bytes, __m128i* k) {
  for (int i = 0; i < 11; ++i)
    k[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
}

KESTEL_AES_TARGET inline __m128i encrypt(const __m128i* k, __m128i b) {
  b = _mm_xor_si128(b, k[0]);
#pragma GCC unroll 9
  for (int r = 1; r < 10; ++r)
    b = _mm_aesenc_si128(b, k[r]);
  return _mm_aesenclast_si128(b, k[10]);
}

KESTEL_AES_TARGET inline __m128i decrypt(const __m128i* k, __m128i b) {
  b = _mm_xor_si128(b, k[0]);
#pragma GCC unroll 9
  for (int r = 1; r < 10; ++r)
    b = _mm_aesdec_si128(b, k[r]);
  return _mm_aesdeclast_si128(b, k[10]);
}

KESTEL_AES_TARGET inline __m128i load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

KESTEL_AES_TARGET inline void store(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

} // namespace

KESTEL_AES_TARGET void aesNiEncryptBlock(const uint8_t* roundKeys, const uint8_t* in,
                                         uint8_t* out) {
  __m128i k[11];
  loadKeys(roundKeys, k);
  store(out, encrypt(k, load(in)));
  secureWipe(k, sizeof k);
}

KESTEL_AES_TARGET void aesNiDecryptBlock(const uint8_t* decKeys, const uint8_t* in, uint8_t* out) {
  __m128i k[11];
  loadKeys(decKeys, k);
  store(out, decrypt(k, load(in)));
  secureWipe(k, sizeof k);
}

KESTEL_AES_TARGET void aesNiEncryptCbc(const uint8_t* roundKeys, const uint8_t* in, uint8_t* out,
                                       size_t count, uint8_t* vector) {
  __m128i k[11];
  loadKeys(roundKeys, k);
  __m128i chain = load(vector);
  for (size_t n = 0; n < count; ++n, in += 16, out += 16) {
    chain = encrypt(k, _mm_xor_si128(load(in), chain));
    store(out, chain);
  }
  store(vector, chain);
  secureWipe(k, sizeof k);
}

// Each 64-byte piece is hashed before its four blocks are encrypted (so in and out may be the
// same buffer). The SHA-1 rounds and the chained AES rounds are two independent dependency
// chains in one loop body, which the processor runs side by side.
KESTEL_AES_SHA_TARGET void aesNiEncryptCbcSha1(const uint8_t* roundKeys, const uint8_t* in,
                                               uint8_t* out, size_t chunks, uint8_t* vector,
                                               uint32_t sha1State[5]) {
  __m128i k[11];
  loadKeys(roundKeys, k);
  __m128i chain = load(vector), abcd, e;
  sha1LoadState(sha1State, abcd, e);
  for (size_t n = 0; n < chunks; ++n, in += 64, out += 64) {
    sha1BlockShaNi(abcd, e, in);
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
      chain = encrypt(k, _mm_xor_si128(load(in + 16 * i), chain));
      store(out + 16 * i, chain);
    }
  }
  sha1StoreState(sha1State, abcd, e);
  store(vector, chain);
  secureWipe(k, sizeof k);
}

// Eight blocks at a time as four pairs in 256-bit registers, each pair XORed with the two
// ciphertext blocks before it (the first with the chaining vector). All eight inputs and their
// predecessors are loaded before any output is stored, so in and out may be the same buffer.
KESTEL_VAES_TARGET void vaesDecryptCbc(const uint8_t* decKeys, const uint8_t* in, uint8_t* out,
                                       size_t count, uint8_t* vector) {
  __m256i k[11];
  for (int i = 0; i < 11; ++i)
    k[i] = _mm256_broadcastsi128_si256(load(decKeys + 16 * i));
  __m128i chain = load(vector);
  size_t n = 0;
  for (; n + 8 <= count; n += 8, in += 128, out += 128) {
    __m256i b[4], previous[4];
    const __m128i first = load(in);
    previous[0] = _mm256_setr_m128i(chain, first);
#pragma GCC unroll 3
    for (int i = 1; i < 4; ++i)
      previous[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * i - 16));
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
      b[i] =
          _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * i)), k[0]);
    chain = load(in + 112);
#pragma GCC unroll 9
    for (int r = 1; r < 10; ++r)
#pragma GCC unroll 4
      for (int i = 0; i < 4; ++i)
        b[i] = _mm256_aesdec_epi128(b[i], k[r]);
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * i),
                          _mm256_xor_si256(_mm256_aesdeclast_epi128(b[i], k[10]), previous[i]));
  }
  store(vector, chain);
  secureWipe(k, sizeof k);
  if (n < count)
    aesNiDecryptCbc(decKeys, in, out, count - n, vector);
}

// Decryption has no chain dependency between blocks, so eight run side by side. All eight
// inputs are loaded before any output is stored, so in and out may be the same buffer.
KESTEL_AES_TARGET void aesNiDecryptCbc(const uint8_t* decKeys, const uint8_t* in, uint8_t* out,
                                       size_t count, uint8_t* vector) {
  __m128i k[11];
  loadKeys(decKeys, k);
  __m128i chain = load(vector);
  size_t n = 0;
  for (; n + 8 <= count; n += 8, in += 128, out += 128) {
    __m128i c[8], b[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
      b[i] = _mm_xor_si128(c[i] = load(in + 16 * i), k[0]);
#pragma GCC unroll 9
    for (int r = 1; r < 10; ++r)
#pragma GCC unroll 8
      for (int i = 0; i < 8; ++i)
        b[i] = _mm_aesdec_si128(b[i], k[r]);
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
      store(out + 16 * i, _mm_xor_si128(_mm_aesdeclast_si128(b[i], k[10]), chain));
      chain = c[i];
    }
  }
  for (; n < count; ++n, in += 16, out += 16) {
    __m128i c = load(in);
    store(out, _mm_xor_si128(decrypt(k, c), chain));
    chain = c;
  }
  store(vector, chain);
  secureWipe(k, sizeof k);
}

} // namespace kestel

#else

namespace kestel {
// Never called: useAesNi() is false on processors without the instructions.
void aesNiEncryptCbc(const uint8_t*, const uint8_t*, uint8_t*, size_t, uint8_t*) {}
void aesNiDecryptCbc(const uint8_t*, const uint8_t*, uint8_t*, size_t, uint8_t*) {}
void aesNiEncryptBlock(const uint8_t*, const uint8_t*, uint8_t*) {}
void aesNiDecryptBlock(const uint8_t*, const uint8_t*, uint8_t*) {}
void aesNiEncryptCbcSha1(const uint8_t*, const uint8_t*, uint8_t*, size_t, uint8_t*, uint32_t*) {}
void vaesDecryptCbc(const uint8_t*, const uint8_t*, uint8_t*, size_t, uint8_t*) {}
} // namespace kestel

#endif
