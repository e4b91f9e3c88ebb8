#include "crypto/Ec.h"

#include <algorithm>
#include <vector>

#include "crypto/Secure.h"
#include "util/Assert.h"

namespace kestel::ec {

using namespace field;

namespace {

constexpr uint64_t kMontgomeryA = 486662;
constexpr uint32_t kLadderA24 = (kMontgomeryA - 2) / 4; // 121665
constexpr uint32_t kTwoA = 2 * kMontgomeryA;

struct Curve {
  Fe a;      // (3 - A^2) / 3
  Fe b;      // (2 A^3 - 9 A) / 27
  Fe b3;     // 3 b, as the addition formulas use it
  Fe aThird; // A / 3, the shift between u and x
  Point base;
};

Fe rightHandSide(const Curve& c, const Fe& x) {
  return add(mul(add(sq(x), c.a), x), c.b); // x^3 + a x + b
}

const Curve& curve() {
  static const Curve c = [] {
    Curve k;
    const Fe A = fromUint(kMontgomeryA);
    const Fe three = fromUint(3);
    const Fe A2 = sq(A);
    k.a = mul(sub(three, A2), invert(three));
    Fe twoA3 = mul(fromUint(2), mul(A2, A));
    k.b = mul(sub(twoA3, mul(fromUint(9), A)), invert(fromUint(27)));
    k.b3 = mul(three, k.b);
    k.aThird = mul(A, invert(three));
    // x = 9 + A/3; y is the odd square root.
    Fe x = add(fromUint(9), k.aThird);
    Fe y;
    bool onCurve = sqrt(rightHandSide(k, x), y);
    KESTEL_ASSERT(onCurve, "crypto/ec");
    if (!isOdd(y))
      y = neg(y);
    k.base = Point{x, y, one()};
    return k;
  }();
  return c;
}

// Converts a field element to exactly len big-endian bytes through its minimal-length form,
// checking that the padded length comes out right.
std::vector<uint8_t> toFixedBytes(const Fe& value, size_t len) {
  uint8_t full[32];
  toBytes(value, full);
  size_t skip = 0;
  while (skip < sizeof full && full[skip] == 0)
    ++skip;
  std::vector<uint8_t> tmp(full + skip, full + sizeof full);
  KESTEL_ASSERT(tmp.size() <= len, "crypto/ec");
  tmp.insert(tmp.begin(), len - tmp.size(), 0);
  KESTEL_ASSERT(tmp.size() == len, "crypto/ec");
  return tmp;
}

} // namespace

const Point& basePoint() { return curve().base; }

Point infinity() { return Point{zero(), one(), zero()}; }

bool isInfinity(const Point& p) { return isZero(p.z); }

Expected<Point> decodePoint(std::span<const uint8_t> bytes) {
  if (bytes.size() != kEncodedLength)
    return makeError("point is not 33 bytes");
  if (bytes[0] != 0x02 && bytes[0] != 0x03)
    return makeError("bad point prefix");
  Fe x;
  if (!fromBytesCanonical(bytes.subspan<1, 32>(), x))
    return makeError("point coordinate out of range");
  Fe y;
  if (!sqrt(rightHandSide(curve(), x), y))
    return makeError("point not on the curve");
  if (isOdd(y) != (bytes[0] == 0x03))
    y = neg(y);
  const Point p{x, y, one()};
  if (hasSmallOrder(p))
    return makeError("point of small order");
  return p;
}

Point timesCofactor(const Point& p) { return dbl(dbl(dbl(p))); }

bool hasSmallOrder(const Point& p) { return isInfinity(timesCofactor(p)); }

Expected<Encoded> encodePoint(const Point& p) {
  if (isInfinity(p))
    return makeError("point at infinity");
  const Fe zInverse = invert(p.z);
  const Fe x = mul(p.x, zInverse), y = mul(p.y, zInverse);
  std::vector<uint8_t> xBytes = toFixedBytes(x, 32);
  Encoded out;
  out[0] = isOdd(y) ? 0x03 : 0x02;
  std::copy(xBytes.begin(), xBytes.end(), out.begin() + 1);
  return out;
}

Point add(const Point& p, const Point& q) {
  const Curve& c = curve();
  const Fe t0 = mul(p.x, q.x), t1 = mul(p.y, q.y), t2 = mul(p.z, q.z);
  const Fe t3 = sub(mul(add(p.x, p.y), add(q.x, q.y)), add(t0, t1)); // X1Y2 + X2Y1
  const Fe t4 = sub(mul(add(p.x, p.z), add(q.x, q.z)), add(t0, t2)); // X1Z2 + X2Z1
  const Fe t5 = sub(mul(add(p.y, p.z), add(q.y, q.z)), add(t1, t2)); // Y1Z2 + Y2Z1
  const Fe aZ = mul(c.a, t2);
  const Fe m = add(mul(c.a, t4), mul(c.b3, t2));
  const Fe u = sub(t1, m), w = add(t1, m);
  const Fe s = add(add(add(t0, t0), t0), aZ);             // 3 X1X2 + a Z1Z2
  const Fe r = add(mul(c.a, sub(t0, aZ)), mul(c.b3, t4)); // a X1X2 - a^2 Z1Z2 + 3b(..)
  return Point{sub(mul(t3, u), mul(t5, r)), add(mul(s, r), mul(u, w)), add(mul(t5, w), mul(t3, s))};
}

Point dbl(const Point& p) { return add(p, p); }

Point negate(const Point& p) { return Point{p.x, neg(p.y), p.z}; }

Point mul(const Scalar& scalar, const Point& p) {
  const Curve& c = curve();
  // Affine coordinates of p (invert(0) is 0, so infinity gives garbage that is replaced below).
  const Fe zInverse = invert(p.z);
  const Fe x = mul(p.x, zInverse), y = mul(p.y, zInverse);
  const Fe u = sub(x, c.aThird);

  // Montgomery ladder on u: (x2 : z2) = k p and (x3 : z3) = (k + 1) p after the last bit.
  Fe x2 = one(), z2 = zero(), x3 = u, z3 = one();
  uint64_t swap = 0;
  for (int i = 255; i >= 0; --i) {
    const uint64_t bit = (scalar[i / 8] >> (i % 8)) & 1;
    swap ^= bit;
    cswap(x2, x3, swap);
    cswap(z2, z3, swap);
    swap = bit;
    const Fe a = add(x2, z2), aa = sq(a), b = sub(x2, z2), bb = sq(b), e = sub(aa, bb);
    const Fe da = mul(sub(x3, z3), a), cb = mul(add(x3, z3), b);
    x3 = sq(add(da, cb));
    z3 = mul(u, sq(sub(da, cb)));
    x2 = mul(aa, bb);
    z2 = mul(e, add(aa, mulSmall(e, kLadderA24)));
  }
  cswap(x2, x3, swap);
  cswap(z2, z3, swap);

  // y of k p from u, y, u(k p) and u((k + 1) p):
  //   y(kp) = ((u uk + 1)(u + uk + 2A) - 2A - (uk - u)^2 uk1) / (2 y)
  // in projective form, scaled by 2 y z2^2 z3.
  const Fe twoAz2 = mulSmall(z2, kTwoA);
  const Fe t2 = mul(mul(add(add(x2, mul(u, z2)), twoAz2), add(mul(u, x2), z2)), z3);
  const Fe t3 = mul(sq(sub(x2, mul(u, z2))), x3);
  const Fe yNum = sub(sub(t2, mul(twoAz2, mul(z2, z3))), t3);
  const Fe scale = mul(add(y, y), mul(z2, z3));
  const Fe zOut = mul(scale, z2);
  Point r{add(mul(scale, x2), mul(c.aThird, zOut)), yNum, zOut};

  // What the formulas cannot give, chosen without branches: (k + 1) p at infinity makes k p
  // = -p; k p at infinity; p of order two (y = 0) gives p for odd k, else infinity; p itself at
  // infinity.
  const Point minusP{x, neg(y), one()}, inf = infinity(), affineP{x, y, one()};
  auto choose = [](Point& into, const Point& from, uint64_t pick) {
    into.x = select(into.x, from.x, pick);
    into.y = select(into.y, from.y, pick);
    into.z = select(into.z, from.z, pick);
  };
  choose(r, minusP, isZero(z3));
  choose(r, inf, isZero(z2));
  const uint64_t orderTwo = isZero(y);
  choose(r, affineP, orderTwo & scalar[0] & 1);
  choose(r, inf, orderTwo & (~scalar[0] & 1));
  choose(r, inf, isZero(p.z));
  for (Fe* secret : {&x2, &z2, &x3, &z3})
    secureWipe(secret, sizeof *secret);
  return r;
}

Scalar clampScalar(const Scalar& scalar) {
  Scalar out = scalar;
  out[0] &= 0xF8;
  out[31] &= 0x7F;
  out[31] |= 0x40;
  return out;
}

Expected<Point> pointFromMontgomeryU(std::span<const uint8_t, 32> u) {
  const Fe x = add(fromLittleEndianReduced(u), curve().aThird);
  Fe y;
  if (!sqrt(rightHandSide(curve(), x), y))
    return makeError("u-coordinate on the twist");
  if (isOdd(y))
    y = neg(y);
  return Point{x, y, one()};
}

std::array<uint8_t, 32> montgomeryU(const Point& p) {
  std::array<uint8_t, 32> out{};
  if (isInfinity(p))
    return out;
  uint8_t bigEndian[32];
  toBytes(sub(mul(p.x, invert(p.z)), curve().aThird), bigEndian);
  std::reverse_copy(bigEndian, bigEndian + 32, out.begin());
  return out;
}

} // namespace kestel::ec
