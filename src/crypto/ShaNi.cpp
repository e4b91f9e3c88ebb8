// SHA-1 and SHA-256 compression with the processor's SHA extensions. Compiled with per-function
// target attributes so that the rest of the program needs no special flags; Sha.cpp calls these
// only after checking the processor at run time.
#include "crypto/Sha.h"

#if defined(__x86_64__) || defined(__i386__)
#include "crypto/ShaNiRounds.h"

namespace kestel {

namespace {

// Four SHA-256 rounds (group G of 16) on message words w[G % 4]; prepares the words for group
// G + 4, with every index a constant as for SHA-1.
template <int G>
KESTEL_SHA_TARGET inline void sha256Quad(__m128i& state0, __m128i& state1, __m128i& w0, __m128i& w1,
                                         __m128i& w2, __m128i& w3, const uint32_t* k) {
  __m128i* w[4] = {&w0, &w1, &w2, &w3};
  const __m128i msg =
      _mm_add_epi32(*w[G % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(k + 4 * G)));
  state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
  state0 = _mm_sha256rnds2_epu32(state0, state1, _mm_shuffle_epi32(msg, 0x0E));
  if constexpr (G + 4 < 16) {
    __m128i next = _mm_sha256msg1_epu32(*w[G % 4], *w[(G + 1) % 4]);
    next = _mm_add_epi32(next, _mm_alignr_epi8(*w[(G + 3) % 4], *w[(G + 2) % 4], 4));
    *w[G % 4] = _mm_sha256msg2_epu32(next, *w[(G + 3) % 4]);
  }
}

template <int... G>
KESTEL_SHA_TARGET inline void sha256Rounds(__m128i& state0, __m128i& state1, __m128i& w0,
                                           __m128i& w1, __m128i& w2, __m128i& w3, const uint32_t* k,
                                           std::integer_sequence<int, G...>) {
  (sha256Quad<G>(state0, state1, w0, w1, w2, w3, k), ...);
}

} // namespace

KESTEL_SHA_TARGET void sha1CompressShaNi(uint32_t state[5], const uint8_t* blocks, size_t count) {
  __m128i abcd, e;
  sha1LoadState(state, abcd, e);
  for (size_t n = 0; n < count; ++n, blocks += 64)
    sha1BlockShaNi(abcd, e, blocks);
  sha1StoreState(state, abcd, e);
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
    __m128i w0 = loadSwapped(blocks, mask), w1 = loadSwapped(blocks + 16, mask);
    __m128i w2 = loadSwapped(blocks + 32, mask), w3 = loadSwapped(blocks + 48, mask);
    sha256Rounds(state0, state1, w0, w1, w2, w3, k, std::make_integer_sequence<int, 16>());
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
