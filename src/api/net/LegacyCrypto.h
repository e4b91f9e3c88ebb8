// The group of the legacy login on top of the crypto layer's big numbers: g = 5 and the fixed
// 1984-bit modulus, numbers written as exactly 248 bytes, most significant first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestel::legacy {

inline constexpr size_t kNumberLength = 248;

using Number = std::array<uint8_t, kNumberLength>;

enum class Power { Ok, Failed, TooLong };

// g^e mod m into `out`: Failed when the exponentiation fails, TooLong when the result does not
// fit 248 bytes.
[[nodiscard]] Power powerOfGenerator(const Number& e, Number& out);
// y^e mod m into `out`, failing as above.
[[nodiscard]] Power power(const Number& y, const Number& e, Number& out);
// True when y lies in [2, m - 2]: other values give a shared secret the peer could predict.
bool usablePeerValue(const Number& y);

} // namespace kestel::legacy
