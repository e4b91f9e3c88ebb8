// Elliptic-curve arithmetic of the secure login: the Curve25519 group (p = 2^255 - 19, Montgomery
// coefficient A = 486662, base point u = 9) computed in its short-Weierstrass form
// y^2 = x^3 + a x + b with a = (3 - A^2) / 3, b = (2 A^3 - 9 A) / 27 and x = u + A / 3.
//
// Point encoding (33 bytes, used for the client's public key, the router's point and the shared
// secret): one prefix byte 0x02 + (y mod 2), then x as 32 bytes, most significant first. This
// is the compressed form of SEC 1 (section 2.3.3) for a 256-bit field, the usual encoding of
// short-Weierstrass points; it makes a 33-byte point, matches the big-endian field storage, and
// lets a decoder check the prefix, the range of x and that x is on the curve before any use.
// The point at infinity has no encoding.
//
// Addition and doubling use complete projective formulas (Renes-Costello-Batina, any a), which
// fail only when the difference of the two points is the point of order two. Scalar
// multiplication runs the Montgomery ladder on the u-coordinate of the equivalent Montgomery form
// (x = u + A/3, same y) and recovers y at the end from u(kP) and u((k + 1)P); the cases those
// formulas cannot take (kP or (k + 1)P at infinity, P of order two or at infinity) are selected
// in constant time. No branch or table index depends on the scalar or the point. The decoder
// refuses the point of order two and every other point of small order.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "crypto/Field25519.h"
#include "util/Expected.h"

namespace kestel::ec {

constexpr size_t kEncodedLength = 33;
using Encoded = std::array<uint8_t, kEncodedLength>;
using Scalar = std::array<uint8_t, 32>; // little-endian

// Projective point (X : Y : Z); infinity is (0 : 1 : 0).
struct Point {
  field::Fe x, y, z;
};

// The base point: u = 9 with the odd y (v of RFC 7748).
const Point& basePoint();
Point infinity();
bool isInfinity(const Point& p);

// Decodes 33 bytes, the validity test of every point received from a peer. Fails when the
// length is not 33, the prefix is not 0x02/0x03, x is not below p, x is not on the curve, or
// the point has small order.
[[nodiscard]] Expected<Point> decodePoint(std::span<const uint8_t> bytes);

// 8 P, which lies in the subgroup of the base point's prime order (a small-order part of P
// vanishes).
Point timesCofactor(const Point& p);
// True for the points whose order divides the cofactor 8 (orders 1, 2, 4 and 8): a product with
// them leaks bits of the scalar or lands on infinity.
bool hasSmallOrder(const Point& p);

// Encodes a point; fails for the point at infinity.
[[nodiscard]] Expected<Encoded> encodePoint(const Point& p);

// Complete addition (see the limitation above), doubling and negation.
Point add(const Point& p, const Point& q);
Point dbl(const Point& p);
Point negate(const Point& p);

// scalar * p for a 256-bit little-endian scalar, in constant time.
Point mul(const Scalar& scalar, const Point& p);

// The usual Curve25519 key clamping: clears the three low bits (a multiple of the cofactor 8,
// so small-order parts of a peer's point vanish) and bit 255, sets bit 254.
Scalar clampScalar(const Scalar& scalar);

// Bridge to the Montgomery form, for comparison with X25519: the point with u-coordinate u
// (32 bytes little-endian, top bit ignored, reduced mod p) and even y; fails when u lies on the
// twist. And the u-coordinate of a point (little-endian); zero for infinity.
[[nodiscard]] Expected<Point> pointFromMontgomeryU(std::span<const uint8_t, 32> u);
std::array<uint8_t, 32> montgomeryU(const Point& p);

} // namespace kestel::ec
