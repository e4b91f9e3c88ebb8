#include "api/net/LoginCurve.h"

#include "crypto/Field25519.h"
#include "crypto/Secure.h"

#include <algorithm>

namespace kestel::login {

Point multiply(std::span<const uint8_t, kScalarLength> scalar, const Point& p) {
  ec::Scalar k;
  std::copy(scalar.begin(), scalar.end(), k.begin());
  Point out = ec::mul(k, p);
  secureWipe(k.data(), k.size());
  return out;
}

Point negate(const Point& p) { return Point{p.x, field::neg(p.y), p.z}; }

std::optional<Encoded> encode(const Point& p) {
  auto e = ec::encodePoint(p);
  if (!e)
    return std::nullopt;
  return *e;
}

std::optional<Point> decode(std::span<const uint8_t> bytes) {
  auto p = ec::decodePoint(bytes);
  if (!p)
    return std::nullopt;
  Point small = ec::dbl(ec::dbl(ec::dbl(*p)));
  if (ec::isInfinity(small))
    return std::nullopt;
  return *p;
}

std::array<uint8_t, kScalarLength> clampScalar(std::span<const uint8_t, kScalarLength> random) {
  ec::Scalar k;
  std::copy(random.begin(), random.end(), k.begin());
  ec::Scalar out = ec::clampScalar(k);
  secureWipe(k.data(), k.size());
  return out;
}

} // namespace kestel::login
