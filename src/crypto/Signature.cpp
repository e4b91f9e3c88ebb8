#include "crypto/Signature.h"

#include <sodium.h>

namespace kestel {

bool verifySignature(ByteSpan message, ByteSpan signature, ByteSpan publicKey) {
  static_assert(kSignaturePublicKeySize == crypto_sign_PUBLICKEYBYTES);
  static_assert(kSignatureSize == crypto_sign_BYTES);
  static const bool started = sodium_init() >= 0; // thread-safe and idempotent
  if (!started || signature.size() != kSignatureSize || publicKey.size() != kSignaturePublicKeySize)
    return false;
  return crypto_sign_verify_detached(signature.data(), message.data(), message.size(),
                                     publicKey.data()) == 0;
}

} // namespace kestel
