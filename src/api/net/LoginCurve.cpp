#include "api/net/LoginCurve.h"

#include <cstring>

namespace kestel::login {
namespace {

using u128 = unsigned __int128;

// p = 2^255 - 19, little-endian limbs.
constexpr Fe kP{
    {0xFFFFFFFFFFFFFFEDull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0x7FFFFFFFFFFFFFFFull}};

Fe fromSmall(uint64_t x) { return Fe{{x, 0, 0, 0}}; }

// Adds c * 38 (2^256 mod p) for a carry c out of the top limb, until nothing carries.
void foldCarry(Fe& r, uint64_t carry) {
  while (carry) {
    u128 t = u128(r.v[0]) + u128(carry) * 38;
    r.v[0] = uint64_t(t);
    carry = uint64_t(t >> 64);
    for (int i = 1; i < 4 && carry; ++i) {
      t = u128(r.v[i]) + carry;
      r.v[i] = uint64_t(t);
      carry = uint64_t(t >> 64);
    }
  }
}

Fe add(const Fe& a, const Fe& b) {
  Fe r;
  uint64_t carry = 0;
  for (int i = 0; i < 4; ++i) {
    u128 t = u128(a.v[i]) + b.v[i] + carry;
    r.v[i] = uint64_t(t);
    carry = uint64_t(t >> 64);
  }
  foldCarry(r, carry);
  return r;
}

// a - b: a borrow out of the top means 2^256 was added, so 38 comes off again.
Fe sub(const Fe& a, const Fe& b) {
  Fe r;
  uint64_t borrow = 0;
  for (int i = 0; i < 4; ++i) {
    u128 t = u128(a.v[i]) - b.v[i] - borrow;
    r.v[i] = uint64_t(t);
    borrow = uint64_t(t >> 64) ? 1 : 0;
  }
  while (borrow) {
    uint64_t take = 38;
    borrow = 0;
    for (int i = 0; i < 4; ++i) {
      u128 t = u128(r.v[i]) - take;
      r.v[i] = uint64_t(t);
      take = uint64_t(t >> 64) ? 1 : 0;
    }
    borrow = take;
  }
  return r;
}

Fe mul(const Fe& a, const Fe& b) {
  uint64_t w[8] = {};
  for (int i = 0; i < 4; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < 4; ++j) {
      u128 t = u128(a.v[i]) * b.v[j] + w[i + j] + carry;
      w[i + j] = uint64_t(t);
      carry = uint64_t(t >> 64);
    }
    w[i + 4] = carry;
  }
  Fe r;
  uint64_t carry = 0;
  for (int i = 0; i < 4; ++i) {
    u128 t = u128(w[i + 4]) * 38 + w[i] + carry;
    r.v[i] = uint64_t(t);
    carry = uint64_t(t >> 64);
  }
  foldCarry(r, carry);
  return r;
}

Fe sqr(const Fe& a) { return mul(a, a); }

// The unique representative below p.
Fe canonical(const Fe& a) {
  Fe r = a;
  for (int round = 0; round < 2; ++round) {
    Fe t;
    uint64_t borrow = 0;
    for (int i = 0; i < 4; ++i) {
      u128 d = u128(r.v[i]) - kP.v[i] - borrow;
      t.v[i] = uint64_t(d);
      borrow = uint64_t(d >> 64) ? 1 : 0;
    }
    if (!borrow)
      r = t;
  }
  return r;
}

bool isZero(const Fe& a) {
  Fe c = canonical(a);
  return (c.v[0] | c.v[1] | c.v[2] | c.v[3]) == 0;
}

bool equal(const Fe& a, const Fe& b) { return isZero(sub(a, b)); }

// a^e for an exponent given as little-endian limbs.
Fe power(const Fe& a, const Fe& e) {
  Fe r = fromSmall(1);
  for (int i = 255; i >= 0; --i) {
    r = sqr(r);
    if ((e.v[i / 64] >> (i % 64)) & 1)
      r = mul(r, a);
  }
  return r;
}

Fe invert(const Fe& a) {
  Fe e = kP;
  e.v[0] -= 2;
  return power(a, e);
}

// (p + 3) / 8 and (p - 1) / 4.
Fe exponentSqrt() {
  return Fe{
      {0xFFFFFFFFFFFFFFFEull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0x0FFFFFFFFFFFFFFFull}};
}
Fe exponentQuarter() {
  return Fe{
      {0xFFFFFFFFFFFFFFFBull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0x1FFFFFFFFFFFFFFFull}};
}

// A square root of a (p = 5 mod 8), or nullopt when a is not a square.
std::optional<Fe> squareRoot(const Fe& a) {
  Fe r = power(a, exponentSqrt());
  if (equal(sqr(r), a))
    return r;
  Fe minusA = sub(fromSmall(0), a);
  if (!equal(sqr(r), minusA))
    return std::nullopt;
  static const Fe sqrtMinusOne = power(fromSmall(2), exponentQuarter());
  return mul(r, sqrtMinusOne);
}

struct Constants {
  Fe a, b, aThird; // curve coefficients and A/3
  Point base;
};

Fe rightSide(const Constants& c, const Fe& x) { return add(add(mul(sqr(x), x), mul(c.a, x)), c.b); }

const Constants& constants() {
  static const Constants c = [] {
    Constants k;
    Fe bigA = fromSmall(486662);
    Fe inv3 = invert(fromSmall(3));
    Fe inv27 = invert(fromSmall(27));
    k.aThird = mul(bigA, inv3);
    k.a = mul(sub(fromSmall(3), sqr(bigA)), inv3);
    Fe a3 = mul(sqr(bigA), bigA);
    k.b = mul(sub(add(a3, a3), mul(fromSmall(9), bigA)), inv27);
    Fe x = add(fromSmall(9), k.aThird);
    Fe y = *squareRoot(rightSide(k, x));
    if (!(canonical(y).v[0] & 1))
      y = sub(fromSmall(0), y);
    k.base = Point{x, y, fromSmall(1)};
    return k;
  }();
  return c;
}

Point infinityPoint() { return Point{fromSmall(1), fromSmall(1), fromSmall(0)}; }

Point twice(const Point& p) {
  if (p.infinity() || isZero(p.y))
    return infinityPoint();
  Fe xx = sqr(p.x), yy = sqr(p.y), yyyy = sqr(yy), zz = sqr(p.z);
  Fe s = sub(sub(sqr(add(p.x, yy)), xx), yyyy);
  s = add(s, s);
  Fe m = add(add(add(xx, xx), xx), mul(constants().a, sqr(zz)));
  Fe t = sub(sub(sqr(m), s), s);
  Fe y8 = add(yyyy, yyyy);
  y8 = add(y8, y8);
  y8 = add(y8, y8);
  Point r;
  r.x = t;
  r.y = sub(mul(m, sub(s, t)), y8);
  r.z = sub(sub(sqr(add(p.y, p.z)), yy), zz);
  return r;
}

void affine(const Point& p, Fe& x, Fe& y) {
  Fe zi = invert(p.z);
  Fe zi2 = sqr(zi);
  x = canonical(mul(p.x, zi2));
  y = canonical(mul(p.y, mul(zi2, zi)));
}

} // namespace

bool Point::infinity() const { return isZero(z); }

const Point& basePoint() { return constants().base; }

Point add(const Point& p, const Point& q) {
  if (p.infinity())
    return q;
  if (q.infinity())
    return p;
  Fe z1z1 = sqr(p.z), z2z2 = sqr(q.z);
  Fe u1 = mul(p.x, z2z2), u2 = mul(q.x, z1z1);
  Fe s1 = mul(mul(p.y, q.z), z2z2), s2 = mul(mul(q.y, p.z), z1z1);
  Fe h = sub(u2, u1);
  Fe r = sub(s2, s1);
  if (isZero(h))
    return isZero(r) ? twice(p) : infinityPoint();
  r = add(r, r);
  Fe i = sqr(add(h, h));
  Fe j = mul(h, i);
  Fe v = mul(u1, i);
  Point out;
  out.x = sub(sub(sub(sqr(r), j), v), v);
  Fe s1j = mul(s1, j);
  out.y = sub(mul(r, sub(v, out.x)), add(s1j, s1j));
  out.z = mul(sub(sub(sqr(add(p.z, q.z)), z1z1), z2z2), h);
  return out;
}

Point negate(const Point& p) { return Point{p.x, sub(fromSmall(0), p.y), p.z}; }

Point multiply(std::span<const uint8_t, kScalarLength> scalar, const Point& p) {
  Point r0 = infinityPoint();
  Point r1 = p;
  for (int i = 255; i >= 0; --i) {
    bool bit = (scalar[i / 8] >> (i % 8)) & 1;
    if (bit) {
      r0 = add(r0, r1);
      r1 = twice(r1);
    } else {
      r1 = add(r0, r1);
      r0 = twice(r0);
    }
  }
  return r0;
}

std::optional<Encoded> encode(const Point& p) {
  if (p.infinity())
    return std::nullopt;
  Fe x, y;
  affine(p, x, y);
  Encoded out{};
  out[0] = uint8_t(0x02 | (y.v[0] & 1));
  for (int i = 0; i < 32; ++i)
    out[1 + i] = uint8_t(x.v[(31 - i) / 8] >> (8 * ((31 - i) % 8)));
  return out;
}

std::optional<Point> decode(std::span<const uint8_t> bytes) {
  if (bytes.size() != kPointLength || (bytes[0] != 0x02 && bytes[0] != 0x03))
    return std::nullopt;
  Fe x;
  for (int i = 0; i < 32; ++i)
    x.v[(31 - i) / 8] |= uint64_t(bytes[1 + i]) << (8 * ((31 - i) % 8));
  Fe c = canonical(x);
  if (std::memcmp(c.v, x.v, sizeof x.v) != 0)
    return std::nullopt; // x not below p
  auto y = squareRoot(rightSide(constants(), x));
  if (!y)
    return std::nullopt;
  Fe yc = canonical(*y);
  if ((yc.v[0] & 1) != (bytes[0] & 1u))
    yc = canonical(sub(fromSmall(0), yc));
  if ((yc.v[0] & 1) != (bytes[0] & 1u))
    return std::nullopt; // y = 0 cannot have the odd prefix
  Point p{x, yc, fromSmall(1)};
  Point small = twice(twice(twice(p)));
  if (small.infinity())
    return std::nullopt;
  return p;
}

std::array<uint8_t, kScalarLength> clampScalar(std::span<const uint8_t, kScalarLength> random) {
  std::array<uint8_t, kScalarLength> k;
  std::memcpy(k.data(), random.data(), kScalarLength);
  k[0] &= 248;
  k[31] &= 127;
  k[31] |= 64;
  return k;
}

std::array<uint8_t, 32> montgomeryU(const Point& p) {
  std::array<uint8_t, 32> out{};
  if (p.infinity())
    return out;
  Fe x, y;
  affine(p, x, y);
  Fe u = canonical(sub(x, constants().aThird));
  for (int i = 0; i < 32; ++i)
    out[i] = uint8_t(u.v[i / 8] >> (8 * (i % 8)));
  return out;
}

} // namespace kestel::login
