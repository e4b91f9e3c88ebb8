// Ed25519 detached signatures (libsodium), for files the program must trust before it runs them.
#pragma once

#include "util/Bytes.h"

#include <cstddef>

namespace kestel {

inline constexpr size_t kSignaturePublicKeySize = 32;
inline constexpr size_t kSignatureSize = 64;

// True when `signature` is a valid Ed25519 signature of `message` under `publicKey`. Wrong sizes,
// a key that is not a point of the curve, and a library that could not start all give false.
bool verifySignature(ByteSpan message, ByteSpan signature, ByteSpan publicKey);

} // namespace kestel
