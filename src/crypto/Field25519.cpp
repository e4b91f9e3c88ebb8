#include "crypto/Field25519.h"

namespace kestel::field {

namespace {

using u128 = unsigned __int128;
constexpr uint64_t kMask = (uint64_t(1) << 51) - 1;

// One carry pass: enough after an addition or subtraction of weakly reduced elements (every
// limb ends below 2^51 except the lowest, which may exceed it by a few hundred).
Fe carryOnce(Fe a) {
  uint64_t c = 0;
  for (int i = 0; i < 5; ++i) {
    a.v[i] += c;
    c = a.v[i] >> 51;
    a.v[i] &= kMask;
  }
  a.v[0] += 19 * c;
  return a;
}

Fe carry(const Fe& a) { return carryOnce(carryOnce(a)); }

Fe carryWide(const u128 r[5]) {
  Fe out;
  u128 c = 0;
  u128 t[5];
  for (int i = 0; i < 5; ++i) {
    t[i] = r[i] + c;
    c = t[i] >> 51;
    out.v[i] = static_cast<uint64_t>(t[i]) & kMask;
  }
  out.v[0] += static_cast<uint64_t>(c) * 19;
  out.v[1] += out.v[0] >> 51;
  out.v[0] &= kMask;
  return out;
}

// Fully reduced limbs (each below 2^51, value below p).
Fe canonical(const Fe& a) {
  Fe h = carry(a);
  uint64_t q = (h.v[0] + 19) >> 51;
  for (int i = 1; i < 5; ++i)
    q = (h.v[i] + q) >> 51;
  h.v[0] += 19 * q;
  for (int i = 0; i < 4; ++i) {
    h.v[i + 1] += h.v[i] >> 51;
    h.v[i] &= kMask;
  }
  h.v[4] &= kMask;
  return h;
}

Fe sqTimes(Fe a, int n) {
  for (int i = 0; i < n; ++i)
    a = sq(a);
  return a;
}

// a^(2^250 - 1) and a^11, the common part of inversion and square roots.
void pow250(const Fe& z, Fe& z250, Fe& z11) {
  Fe z2 = sq(z);
  Fe z9 = mul(sqTimes(z2, 2), z);
  z11 = mul(z9, z2);
  Fe z5 = mul(sq(z11), z9); // 2^5 - 1
  Fe z10 = mul(sqTimes(z5, 5), z5);
  Fe z20 = mul(sqTimes(z10, 10), z10);
  Fe z40 = mul(sqTimes(z20, 20), z20);
  Fe z50 = mul(sqTimes(z40, 10), z10);
  Fe z100 = mul(sqTimes(z50, 50), z50);
  Fe z200 = mul(sqTimes(z100, 100), z100);
  z250 = mul(sqTimes(z200, 50), z50);
}

// sqrt(-1) = 2^((p - 1) / 4).
const Fe& sqrtMinusOne() {
  static const Fe value = [] {
    // (p - 1) / 4 = 2^253 - 5: bits 252 to 0 all set except bit 2.
    Fe two = fromUint(2), r = one();
    for (int bit = 252; bit >= 0; --bit) {
      r = sq(r);
      if (bit != 2)
        r = mul(r, two);
    }
    return r;
  }();
  return value;
}

} // namespace

Fe zero() { return Fe{{0, 0, 0, 0, 0}}; }
Fe one() { return Fe{{1, 0, 0, 0, 0}}; }
Fe fromUint(uint64_t x) { return carry(Fe{{x & kMask, x >> 51, 0, 0, 0}}); }

bool fromBytesCanonical(std::span<const uint8_t, 32> bigEndian, Fe& out) {
  // Compare with p = 7fff...ffed, most significant byte first.
  int cmp = 0;
  for (int i = 0; i < 32 && cmp == 0; ++i) {
    uint8_t pByte = i == 0 ? 0x7f : (i == 31 ? 0xed : 0xff);
    cmp = bigEndian[i] < pByte ? -1 : (bigEndian[i] > pByte ? 1 : 0);
  }
  if (cmp >= 0)
    return false;
  Fe r = zero();
  for (int i = 0; i < 255; ++i) {
    uint64_t bit = (bigEndian[31 - i / 8] >> (i % 8)) & 1;
    r.v[i / 51] |= bit << (i % 51);
  }
  out = r;
  return true;
}

Fe fromLittleEndianReduced(std::span<const uint8_t, 32> littleEndian) {
  Fe r = zero();
  for (int i = 0; i < 255; ++i) {
    uint64_t bit = (littleEndian[i / 8] >> (i % 8)) & 1;
    r.v[i / 51] |= bit << (i % 51);
  }
  return r;
}

void toBytes(const Fe& a, std::span<uint8_t, 32> bigEndian) {
  Fe h = canonical(a);
  for (auto& b : bigEndian)
    b = 0;
  for (int i = 0; i < 255; ++i) {
    uint64_t bit = (h.v[i / 51] >> (i % 51)) & 1;
    bigEndian[31 - i / 8] |= static_cast<uint8_t>(bit << (i % 8));
  }
}

Fe add(const Fe& a, const Fe& b) {
  Fe r;
  for (int i = 0; i < 5; ++i)
    r.v[i] = a.v[i] + b.v[i];
  return carryOnce(r);
}

Fe sub(const Fe& a, const Fe& b) {
  // Adds 4p so that no limb goes negative for weakly reduced inputs.
  static constexpr uint64_t fourP[5] = {0x1fffffffffffb4, 0x1ffffffffffffc, 0x1ffffffffffffc,
                                        0x1ffffffffffffc, 0x1ffffffffffffc};
  Fe r;
  for (int i = 0; i < 5; ++i)
    r.v[i] = a.v[i] + fourP[i] - b.v[i];
  return carryOnce(r);
}

Fe neg(const Fe& a) { return sub(zero(), a); }

Fe mul(const Fe& a, const Fe& b) {
  const uint64_t* x = a.v;
  const uint64_t* y = b.v;
  const uint64_t y1 = 19 * y[1], y2 = 19 * y[2], y3 = 19 * y[3], y4 = 19 * y[4];
  u128 r[5];
  r[0] = u128(x[0]) * y[0] + u128(x[1]) * y4 + u128(x[2]) * y3 + u128(x[3]) * y2 + u128(x[4]) * y1;
  r[1] =
      u128(x[0]) * y[1] + u128(x[1]) * y[0] + u128(x[2]) * y4 + u128(x[3]) * y3 + u128(x[4]) * y2;
  r[2] =
      u128(x[0]) * y[2] + u128(x[1]) * y[1] + u128(x[2]) * y[0] + u128(x[3]) * y4 + u128(x[4]) * y3;
  r[3] = u128(x[0]) * y[3] + u128(x[1]) * y[2] + u128(x[2]) * y[1] + u128(x[3]) * y[0] +
         u128(x[4]) * y4;
  r[4] = u128(x[0]) * y[4] + u128(x[1]) * y[3] + u128(x[2]) * y[2] + u128(x[3]) * y[1] +
         u128(x[4]) * y[0];
  return carryWide(r);
}

Fe sq(const Fe& a) {
  const uint64_t* x = a.v;
  const uint64_t d0 = 2 * x[0], d1 = 2 * x[1], d3 = 2 * x[3];
  const uint64_t t3 = 19 * x[3], t4 = 19 * x[4];
  u128 r[5];
  r[0] = u128(x[0]) * x[0] + u128(d1) * t4 + u128(2 * x[2]) * t3;
  r[1] = u128(d0) * x[1] + u128(2 * x[2]) * t4 + u128(x[3]) * t3;
  r[2] = u128(d0) * x[2] + u128(x[1]) * x[1] + u128(d3) * t4;
  r[3] = u128(d0) * x[3] + u128(d1) * x[2] + u128(x[4]) * t4;
  r[4] = u128(d0) * x[4] + u128(d1) * x[3] + u128(x[2]) * x[2];
  return carryWide(r);
}

Fe mulSmall(const Fe& a, uint32_t c) {
  u128 r[5];
  for (int i = 0; i < 5; ++i)
    r[i] = u128(a.v[i]) * c;
  return carryWide(r);
}

Fe invert(const Fe& a) {
  Fe z250, z11;
  pow250(a, z250, z11);
  return mul(sqTimes(z250, 5), z11); // 2^255 - 21 = p - 2
}

bool sqrt(const Fe& a, Fe& root) {
  Fe z250, z11;
  pow250(a, z250, z11);
  Fe candidate = mul(mul(sqTimes(z250, 2), a), a); // a^(2^252 - 2) = a^((p + 3) / 8)
  Fe check = sq(candidate);
  if (equal(check, a)) {
    root = candidate;
    return true;
  }
  if (equal(check, neg(a))) {
    root = mul(candidate, sqrtMinusOne());
    return true;
  }
  return false;
}

bool isZero(const Fe& a) {
  Fe h = canonical(a);
  uint64_t any = h.v[0] | h.v[1] | h.v[2] | h.v[3] | h.v[4];
  return any == 0;
}

bool equal(const Fe& a, const Fe& b) { return isZero(sub(a, b)); }

bool isOdd(const Fe& a) { return canonical(a).v[0] & 1; }

void cswap(Fe& a, Fe& b, uint64_t swap) {
  const uint64_t mask = 0 - swap;
  for (int i = 0; i < 5; ++i) {
    uint64_t t = mask & (a.v[i] ^ b.v[i]);
    a.v[i] ^= t;
    b.v[i] ^= t;
  }
}

Fe select(const Fe& a, const Fe& b, uint64_t pick) {
  const uint64_t mask = 0 - pick;
  Fe r;
  for (int i = 0; i < 5; ++i)
    r.v[i] = a.v[i] ^ (mask & (a.v[i] ^ b.v[i]));
  return r;
}

} // namespace kestel::field
