// Arithmetic in the prime field of 2^255 - 19 for the curve code: five 51-bit limbs, no branch
// or memory access that depends on the values (except where a function says so). Elements are
// kept weakly reduced (limbs a little above 2^51 allowed); bytes are always canonical.
#pragma once

#include <cstdint>
#include <span>

namespace kestel::field {

struct Fe {
  uint64_t v[5];
};

Fe zero();
Fe one();
Fe fromUint(uint64_t x);

// Loads 32 big-endian bytes; returns false (out unchanged) when the value is not below p.
bool fromBytesCanonical(std::span<const uint8_t, 32> bigEndian, Fe& out);
// Loads 32 little-endian bytes with the top bit ignored (values up to 2^255 - 1, so p to
// 2^255 - 1 stand for their residues).
Fe fromLittleEndianReduced(std::span<const uint8_t, 32> littleEndian);
// Writes the canonical value as 32 big-endian bytes.
void toBytes(const Fe& a, std::span<uint8_t, 32> bigEndian);

Fe add(const Fe& a, const Fe& b);
Fe sub(const Fe& a, const Fe& b);
Fe neg(const Fe& a);
Fe mul(const Fe& a, const Fe& b);
Fe sq(const Fe& a);
// a times a small constant c (below 2^32).
Fe mulSmall(const Fe& a, uint32_t c);
// a^(p-2); zero stays zero.
Fe invert(const Fe& a);
// A square root of a when a is a square (which one is unspecified); returns false otherwise.
// The branch on squareness is not secret-dependent where it is used (public points).
bool sqrt(const Fe& a, Fe& root);

bool isZero(const Fe& a);
bool equal(const Fe& a, const Fe& b);
// Parity of the canonical value.
bool isOdd(const Fe& a);
// Swaps a and b when swap is 1, in constant time; swap must be 0 or 1.
void cswap(Fe& a, Fe& b, uint64_t swap);
// b when pick is 1, a when it is 0, in constant time.
Fe select(const Fe& a, const Fe& b, uint64_t pick);

} // namespace kestel::field
