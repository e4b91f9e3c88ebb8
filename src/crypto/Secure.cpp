#include "crypto/Secure.h"

#include <cstring>

namespace kestel {

void secureWipe(void* data, size_t n) {
  if (n == 0)
    return;
  std::memset(data, 0, n);
  // The empty asm with a memory clobber tells the compiler the zeros are observed.
  __asm__ __volatile__("" : : "r"(data) : "memory");
}

bool constantTimeEqual(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  if (a.size() != b.size())
    return false;
  uint8_t diff = 0;
  for (size_t i = 0; i < a.size(); ++i)
    diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  // Keep the compiler from turning the accumulation into an early exit.
  __asm__ __volatile__("" : "+r"(diff));
  return diff == 0;
}

} // namespace kestel
