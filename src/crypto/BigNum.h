// Big numbers of the legacy key exchange: magnitudes in 32-bit limbs, least significant first,
// room for 136 limbs (4352 bits), and the modular exponentiation g^e mod m. The exponentiation
// runs fixed 5-bit windows over Montgomery arithmetic in 64-bit words, reading the whole table
// for each window; its sequence of operations and memory accesses depends only on the length of
// the exponent, not on its bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestel {

class BigNum {
public:
  static constexpr size_t kMaxLimbs = 136;
  static constexpr size_t kFieldBytes = 248;

  BigNum() = default;
  ~BigNum();
  BigNum(const BigNum& other) = default;
  BigNum& operator=(const BigNum& other) = default;

  static BigNum fromUint(uint32_t value);

  // Loads bytes most significant first, dropping leading zero limbs. Returns false (the number
  // unchanged) when the value needs more than 136 limbs.
  [[nodiscard]] bool load(std::span<const uint8_t> bytes);

  // Writes the number right-aligned into 248 bytes with leading zeros. Returns false when it is
  // longer than 248 bytes.
  [[nodiscard]] bool write(std::span<uint8_t, kFieldBytes> out) const;

  // Limbs in use (0 for zero).
  size_t limbCount() const { return used_; }
  uint32_t limb(size_t i) const { return i < used_ ? limbs_[i] : 0; }

private:
  friend int modExp(BigNum& result, const BigNum& g, const BigNum& e, const BigNum& m);
  void trim();

  uint32_t limbs_[kMaxLimbs] = {};
  size_t used_ = 0;
};

// result = g^e mod m. Returns 0 on success; nonzero (result untouched) when m is zero or even,
// the only moduli the Montgomery arithmetic cannot take.
[[nodiscard]] int modExp(BigNum& result, const BigNum& g, const BigNum& e, const BigNum& m);

} // namespace kestel
