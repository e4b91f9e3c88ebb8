// Arbitrary bytes as the router's challenge, through the product's client exchange: the 33-byte
// point is decoded with the curve's validity test, and an accepted challenge is answered. An
// accepted point must encode back to the same bytes and must not have small order; the client
// answers only challenges of 33 or 49 bytes whose point the decoder accepts.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "api/net/LoginMessages.h"
#include "crypto/Ec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace ec = kestel::ec;
  namespace login = kestel::login;
  std::span<const uint8_t> bytes(data, size);
  auto point = ec::decodePoint(bytes.first(std::min(size, ec::kEncodedLength)));
  if (point.ok()) {
    auto encoded = ec::encodePoint(*point);
    if (!encoded.ok() || !std::equal(encoded->begin(), encoded->end(), bytes.begin()) ||
        ec::hasSmallOrder(*point))
      std::abort();
  }
  std::array<uint8_t, login::kScalarLength> random{};
  random.fill(0x5A);
  login::ClientExchange client("admin", "pw", random);
  auto response = client.respond(bytes);
  const bool unsalted = size == login::kPointLength;
  const bool salted = size == login::kPointLength + login::kSaltLength;
  if (response.ok() &&
      (!point.ok() || !(unsalted || salted) || response->size() != login::kResponseLength))
    std::abort();
  // An unsalted challenge with a valid point is always answered; a salted one may still be
  // refused when its unblinded point ends at infinity.
  if (!response.ok() && unsalted && point.ok())
    std::abort();
  return 0;
}
