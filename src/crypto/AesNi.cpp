// AES-128 with the processor's AES instructions. Per-function target attributes keep the rest of
// the program free of special flags; Aes.cpp calls these only after checking the processor.
#include "crypto/Aes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define KESTEL_AES_TARGET __attribute__((target("aes,sse4.1")))

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
} // namespace kestel

#endif
