// The SHA-1 block function on the processor's SHA extensions, as inline pieces for the files
// that run it (ShaNi.cpp, and the CBC encryption that hashes as it goes in AesNi.cpp). Include
// only on x86; callers need the target features of KESTEL_SHA_TARGET.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#define KESTEL_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
// The pieces must melt into their caller so that the state stays in registers.
#define KESTEL_SHA_INLINE KESTEL_SHA_TARGET inline __attribute__((always_inline))

namespace kestel {

KESTEL_SHA_INLINE __m128i loadSwapped(const uint8_t* p, __m128i mask) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), mask);
}

// Four SHA-1 rounds (group G of 20, round function G / 5) on message words w[G % 4]; prepares
// the words for group G + 4 while the rounds run. G is a template argument so that every index
// is a constant and the four message registers never leave the register file.
template <int G>
KESTEL_SHA_INLINE void sha1Quad(__m128i& abcd, __m128i& e, __m128i& w0, __m128i& w1, __m128i& w2,
                                __m128i& w3) {
  __m128i* w[4] = {&w0, &w1, &w2, &w3};
  const __m128i previous = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e, G / 5);
  if constexpr (G + 4 < 20) {
    __m128i next = _mm_sha1msg1_epu32(*w[G % 4], *w[(G + 1) % 4]);
    next = _mm_xor_si128(next, *w[(G + 2) % 4]);
    *w[G % 4] = _mm_sha1msg2_epu32(next, *w[(G + 3) % 4]);
  }
  if constexpr (G + 1 < 20)
    e = _mm_sha1nexte_epu32(previous, *w[(G + 1) % 4]);
  else
    e = previous;
}

template <int... G>
KESTEL_SHA_INLINE void sha1Rounds(__m128i& abcd, __m128i& e, __m128i& w0, __m128i& w1, __m128i& w2,
                                  __m128i& w3, std::integer_sequence<int, G...>) {
  (sha1Quad<G>(abcd, e, w0, w1, w2, w3), ...);
}

// The state as the SHA-1 instructions hold it (abcd reversed, e in the top lane) and back.
KESTEL_SHA_INLINE void sha1LoadState(const uint32_t state[5], __m128i& abcd, __m128i& e) {
  abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
}

KESTEL_SHA_INLINE void sha1StoreState(uint32_t state[5], __m128i abcd, __m128i e) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

// One 64-byte block into the state.
KESTEL_SHA_INLINE void sha1BlockShaNi(__m128i& abcd, __m128i& e0, const uint8_t* block) {
  const __m128i mask = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);
  const __m128i abcdSave = abcd;
  const __m128i eSave = e0;
  __m128i w0 = loadSwapped(block, mask), w1 = loadSwapped(block + 16, mask);
  __m128i w2 = loadSwapped(block + 32, mask), w3 = loadSwapped(block + 48, mask);
  __m128i e = _mm_add_epi32(e0, w0);
  sha1Rounds(abcd, e, w0, w1, w2, w3, std::make_integer_sequence<int, 20>());
  e0 = _mm_sha1nexte_epu32(e, eSave);
  abcd = _mm_add_epi32(abcd, abcdSave);
}

} // namespace kestel
