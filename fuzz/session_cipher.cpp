// Feeds arbitrary protected bytes (after a 16-byte vector) to the session cipher's decryption.
// Whatever decrypts must re-encrypt to the same bytes when its padding is one encryption makes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/SessionCipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kestel::SessionCipher;
  if (size < 16)
    return 0;
  static const std::vector<uint8_t> key(36, 0x4B);
  SessionCipher cipher(key);
  std::span<const uint8_t, 16> vector(data, 16);
  const uint8_t* body = data + 16;
  const size_t m = size - 16;
  std::vector<uint8_t> plain(m + 1);
  cipher.setVector(vector);
  const uint32_t n = cipher.decrypt(body, m, plain.data());
  if (n == SessionCipher::kFailed)
    return 0;
  if (n > m - 20)
    std::abort();
  if (SessionCipher::encryptedLength(n) != m)
    return 0; // longer padding than encryption makes: accepted, but not reproducible
  std::vector<uint8_t> again(m);
  cipher.setVector(vector);
  cipher.encrypt(plain.data(), n, again.data());
  if (std::memcmp(again.data(), body, m) != 0)
    std::abort();
  return 0;
}
