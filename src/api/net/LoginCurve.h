// The curve operations the login's exchange needs, on top of the crypto layer's curve (ec::):
// scalars as 32 little-endian bytes, points as 33 bytes (0x02 | low bit of y, then x most
// significant first), and a stricter validity test for received points: besides the decoder's
// checks (prefix, x below p, on the curve), a point of small order (8 P at infinity) is refused.
#pragma once

#include "crypto/Ec.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kestel::login {

inline constexpr size_t kPointLength = ec::kEncodedLength;
inline constexpr size_t kScalarLength = 32;

using Point = ec::Point;
using Encoded = ec::Encoded;

inline const Point& basePoint() { return ec::basePoint(); }

// k * P for a 32-byte little-endian scalar, used as given (no clamping).
Point multiply(std::span<const uint8_t, kScalarLength> scalar, const Point& p);
// -P.
Point negate(const Point& p);

// The 33-byte form; nullopt for the point at infinity.
std::optional<Encoded> encode(const Point& p);
// Decodes and checks a point; nullopt when the decoder refuses it or it has small order.
std::optional<Point> decode(std::span<const uint8_t> bytes);

// The X25519 clamping of 32 random bytes.
std::array<uint8_t, kScalarLength> clampScalar(std::span<const uint8_t, kScalarLength> random);

} // namespace kestel::login
