// Decodes arbitrary bytes as a 33-byte curve point, as the router's challenge is decoded, and
// multiplies any accepted point. An accepted point must encode back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "crypto/Ec.h"
#include "crypto/LoginExchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace ec = kestel::ec;
  std::span<const uint8_t> bytes(data, size);
  auto point = ec::decodePoint(bytes);
  if (!point.ok())
    return 0;
  auto encoded = ec::encodePoint(*point);
  if (!encoded.ok() || !std::equal(encoded->begin(), encoded->end(), bytes.begin()))
    std::abort();
  ec::Scalar scalar{};
  scalar[0] = 0x58;
  scalar[31] = 0x40;
  (void)kestel::sharedSecret(scalar, bytes);
  return 0;
}
