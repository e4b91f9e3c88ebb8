// Helpers of the crypto tests: random blobs from a seeded generator and the OpenSSL oracles (hex
// and the published vector file come from tests/support).
#pragma once

#include "support/Hex.h"
#include "support/Vectors.h"

#include <cstdint>
#include <random>
#include <vector>

#include <openssl/evp.h>
#include <openssl/provider.h>

namespace kestel::test {

using Blob = std::vector<uint8_t>;

inline Blob randomBlob(std::mt19937_64& rng, size_t n) {
  Blob out(n);
  for (auto& b : out)
    b = static_cast<uint8_t>(rng());
  return out;
}

// True when OpenSSL's legacy provider (MD4, DES, RC4) is available to the oracle tests. The
// providers are unloaded at exit so that the leak checker sees a clean heap.
inline bool legacyProviderLoaded() {
  struct Providers {
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* base = OSSL_PROVIDER_load(nullptr, "default");
    ~Providers() {
      if (legacy)
        OSSL_PROVIDER_unload(legacy);
      if (base)
        OSSL_PROVIDER_unload(base);
    }
  };
  static const Providers providers;
  return providers.legacy != nullptr && providers.base != nullptr;
}

} // namespace kestel::test
