// The curve of the secure login: the prime field of 2^255 - 19 and the curve with Montgomery
// coefficient A = 486662 and base point u = 9, computed in its short-Weierstrass form
// y^2 = x^3 + a x + b (x = u + A/3, a = (3 - A^2)/3, b = (2A^3 - 9A)/27). Points travel as 33
// bytes: 0x02 or 0x03 (0x02 | low bit of y) and x as 32 bytes, most significant first. A decoded
// point passed the validity test: on the curve and not of small order.
//
// FIXME: the crypto layer's curve code was not available when the login was written; this is the
// minimal piece the login needs. Its scalar multiplication is not constant-time (a ladder with
// branches on special cases); move the login onto the crypto layer's curve when it lands.
#pragma once

#include "crypto/Secure.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kestel::login {

inline constexpr size_t kPointLength = 33;
inline constexpr size_t kScalarLength = 32;

// An element of the field, four 64-bit limbs, least significant first; not always reduced.
struct Fe {
  uint64_t v[4] = {0, 0, 0, 0};
};

// A point in Jacobian coordinates; Z = 0 is the point at infinity.
struct Point {
  Fe x, y, z;
  bool infinity() const;
};

using Encoded = std::array<uint8_t, kPointLength>;

// The base point (u = 9, the root y with odd low bit, v of RFC 7748).
const Point& basePoint();

// k * P for a 32-byte scalar taken as a little-endian integer, used as given (no clamping).
Point multiply(std::span<const uint8_t, kScalarLength> scalar, const Point& p);
// P + Q and -P.
Point add(const Point& p, const Point& q);
Point negate(const Point& p);

// The 33-byte form; nullopt for the point at infinity, which has none.
std::optional<Encoded> encode(const Point& p);
// Decodes and checks a point; nullopt when the prefix, x or the curve equation is wrong, or the
// point has small order (8 P is the point at infinity).
std::optional<Point> decode(std::span<const uint8_t> bytes);

// Turns 32 random bytes into a private scalar: low three bits cleared, bit 255 cleared, bit 254
// set (little-endian), so every product lies in the prime-order subgroup.
std::array<uint8_t, kScalarLength> clampScalar(std::span<const uint8_t, kScalarLength> random);

// The Montgomery u-coordinate of a point (x - A/3), 32 bytes little-endian; for comparing with
// other Curve25519 code. Infinity gives zeros.
std::array<uint8_t, 32> montgomeryU(const Point& p);

} // namespace kestel::login
