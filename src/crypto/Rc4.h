// Plain RC4 as the address-book file uses it: the key schedule, optionally a number of discarded
// key-stream bytes, then the key stream XORed over the data. Not for new protocols.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestel {

class Rc4 {
public:
  // Keys the state; asserts a key of 1 to 256 bytes.
  explicit Rc4(std::span<const uint8_t> key);
  ~Rc4();
  Rc4(const Rc4&) = default;
  Rc4& operator=(const Rc4&) = default;

  // Discards the next n key-stream bytes.
  void drop(size_t n);
  // XORs the next n key-stream bytes over data (encrypts and decrypts alike).
  void apply(uint8_t* data, size_t n);

private:
  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

} // namespace kestel
