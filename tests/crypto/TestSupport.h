// Shared helpers of the crypto tests: hex conversion, the published vector file, a seeded
// generator and the OpenSSL oracles.
#pragma once

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/provider.h>

namespace kestel::test {

using Blob = std::vector<uint8_t>;

inline Blob fromHex(const std::string& hex) {
  Blob out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

template <typename Range> std::string toHex(const Range& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

inline const nlohmann::json& vectors() {
  static const nlohmann::json doc = [] {
    std::ifstream in(std::string(KESTEL_TESTVECTORS_DIR) + "/standard-vectors.json");
    return nlohmann::json::parse(in);
  }();
  return doc;
}

// Text or integer fields of the vector file, whichever form they were written in.
inline long long asNumber(const nlohmann::json& v) {
  return v.is_string() ? std::stoll(v.get<std::string>()) : v.get<long long>();
}

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
