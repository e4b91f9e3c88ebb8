// SHA-1 and SHA-256 compression with the processor's SHA extensions. Compiled with per-function
// target attributes so that the rest of the program needs no special flags; Sha.cpp calls these
// only after checking the processor at run time.
#include "crypto/Sha.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define KESTEL_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace kestel {

namespace {

// Four SHA-1 rounds of function group F on message words w[g % 4]; prepares the words for group
// g + 4 while the rounds run.
template <int F>
KESTEL_SHA_TARGET inline void sha1Quad(__m128i& abcd, __m128i& e, __m128i w[4], int g) {
  const __m128i previous = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e, F);
  if (g + 4 < 20) {
    __m128i next = _mm_sha1msg1_epu32(w[g % 4], w[(g + 1) % 4]);
    next = _mm_xor_si128(next, w[(g + 2) % 4]);
    w[g % 4] = _mm_sha1msg2_epu32(next, w[(g + 3) % 4]);
  }
  if (g + 1 < 20)
    e = _mm_sha1nexte_epu32(previous, w[(g + 1) % 4]);
  else
    e = previous;
}

} // namespace

KESTEL_SHA_TARGET void sha1CompressShaNi(uint32_t state[5], const uint8_t* blocks, size_t count) {
  const __m128i mask = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (size_t n = 0; n < count; ++n, blocks += 64) {
    const __m128i abcdSave = abcd;
    const __m128i eSave = e0;
    __m128i w[4];
    for (int i = 0; i < 4; ++i)
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                              mask);
    __m128i e = _mm_add_epi32(e0, w[0]);
    for (int g = 0; g < 5; ++g)
      sha1Quad<0>(abcd, e, w, g);
    for (int g = 5; g < 10; ++g)
      sha1Quad<1>(abcd, e, w, g);
    for (int g = 10; g < 15; ++g)
      sha1Quad<2>(abcd, e, w, g);
    for (int g = 15; g < 20; ++g)
      sha1Quad<3>(abcd, e, w, g);
    e0 = _mm_sha1nexte_epu32(e, eSave);
    abcd = _mm_add_epi32(abcd, abcdSave);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

KESTEL_SHA_TARGET void sha256CompressShaNi(uint32_t state[8], const uint8_t* blocks, size_t count) {
  const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  const uint32_t* k = sha256RoundConstants();
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  tmp = _mm_shuffle_epi32(tmp, 0xB1);
  state1 = _mm_shuffle_epi32(state1, 0x1B);
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);
  for (size_t n = 0; n < count; ++n, blocks += 64) {
    const __m128i save0 = state0;
    const __m128i save1 = state1;
    __m128i w[4];
    for (int i = 0; i < 4; ++i)
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                              mask);
    for (int g = 0; g < 16; ++g) {
      __m128i msg =
          _mm_add_epi32(w[g % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(k + 4 * g)));
      state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
      state0 = _mm_sha256rnds2_epu32(state0, state1, _mm_shuffle_epi32(msg, 0x0E));
      if (g + 4 < 16) {
        __m128i next = _mm_sha256msg1_epu32(w[g % 4], w[(g + 1) % 4]);
        next = _mm_add_epi32(next, _mm_alignr_epi8(w[(g + 3) % 4], w[(g + 2) % 4], 4));
        w[g % 4] = _mm_sha256msg2_epu32(next, w[(g + 3) % 4]);
      }
    }
    state0 = _mm_add_epi32(state0, save0);
    state1 = _mm_add_epi32(state1, save1);
  }
  tmp = _mm_shuffle_epi32(state0, 0x1B);
  state1 = _mm_shuffle_epi32(state1, 0xB1);
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);
  state1 = _mm_alignr_epi8(state1, tmp, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}

} // namespace kestel

#else

namespace kestel {
// Never called: useShaNi() is false on processors without the extensions.
void sha1CompressShaNi(uint32_t*, const uint8_t*, size_t) {}
void sha256CompressShaNi(uint32_t*, const uint8_t*, size_t) {}
} // namespace kestel

#endif
