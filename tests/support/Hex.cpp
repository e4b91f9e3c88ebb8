#include "support/Hex.h"

#include <charconv>
#include <stdexcept>
#include <string>

namespace kestel::test {

Bytes fromHex(const std::string& hex) {
  if (hex.size() % 2 != 0)
    throw std::invalid_argument("odd number of hex digits: " + hex);
  Bytes out(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    const char* first = hex.data() + 2 * i;
    auto [end, error] = std::from_chars(first, first + 2, out[i], 16);
    if (error != std::errc() || end != first + 2)
      throw std::invalid_argument("not a hex byte at " + std::to_string(2 * i) + ": " + hex);
  }
  return out;
}

std::string toHex(ByteSpan bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

} // namespace kestel::test
