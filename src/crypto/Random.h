// Random sources: the platform's cryptographic source for key material, and the weak per-byte
// source (the C library's rand) that the session frames' vectors and the legacy exponent use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/Secure.h"

namespace kestel {

// 32 bytes from getrandom(2). When the source cannot be used, logs "CryptAcquireContext failed,
// generate weak key" and returns 32 bytes of weakRandomBytes instead (never fails).
SecureBytes random32();

// n bytes from the C library's rand, one call per byte. Predictable; not for keys.
void weakRandomBytes(uint8_t* out, size_t n);

// Makes random32 behave as if the platform source were missing (tests only).
void setPlatformRandomBrokenForTesting(bool broken);

} // namespace kestel
