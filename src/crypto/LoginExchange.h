// Building blocks of the secure login's key exchange: the password value, the challenge values,
// the login name cut at "+", the response and expected proof from a shared secret, and the
// derivation of the two 36-byte session keys. How the router chains them is fixed only for the
// 33-byte challenge; these functions do exactly the fixed steps and cannot fail.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "crypto/ChallengeResponse.h"
#include "crypto/Ec.h"
#include "crypto/Secure.h"

namespace kestel {

// SHA-256(salt | SHA-256(user | ":" | password)); 32 bytes.
SecureBytes passwordValue(std::string_view user, std::string_view password,
                          std::span<const uint8_t> salt);

enum class ChallengeSide { Peer, Authenticator };

// First 16 bytes of SHA-1(first | second | 40 x 0x00 | constant | 40 x 0xF2), the constant
// "This is for peer challenge" or "This is for auther challenge".
std::array<uint8_t, 16> challengeValue(std::span<const uint8_t> first,
                                       std::span<const uint8_t> second, ChallengeSide side);

// The login name up to its first "+" (the whole name when it has none).
std::string_view loginUserName(std::string_view login);

// What the client sends and expects after a 33-byte router challenge.
struct LoginResponse {
  std::array<uint8_t, 24> ntResponse; // sent to the router
  std::string expectedProof;          // "S=" + 40 upper-case hex digits
};

// Steps 3 to 6 of the response: challenge values from the shared secret (the encoded point Z),
// the router's challenge bytes and the client's public key bytes, then the RFC 2759 response
// and authenticator response for the login name (cut at "+") and password.
LoginResponse loginResponse(std::span<const uint8_t> sharedSecret,
                            std::span<const uint8_t> routerChallenge,
                            std::span<const uint8_t> clientPublicKey, std::string_view login,
                            std::string_view password);

// True when the router's proof equals the expected text; the time taken does not depend on
// where they differ.
bool proofMatches(std::string_view expectedProof, std::span<const uint8_t> routerProof);

// The two 36-byte session keys (16-byte AES key, 20-byte HMAC key) of the client.
struct DirectionKeys {
  SecureBytes receive; // for the decryptor
  SecureBytes send;    // for the encryptor
};

// RFC 3079 asymmetric start keys (20 bytes) from the shared secret, each expanded with
// HKDF-SHA-1 (empty salt, empty info) to 36 bytes.
DirectionKeys deriveDirectionKeys(std::span<const uint8_t> sharedSecret);

// The client's side of the curve exchange: a clamped private scalar and its encoded public key.
struct ClientKeyPair {
  ec::Scalar scalar;     // wiped by the destructor
  ec::Encoded publicKey; // sent in the first challenge
  ~ClientKeyPair() { secureWipe(scalar.data(), scalar.size()); }
};

// Makes the key pair from 32 random bytes (random32()); asserts the length.
ClientKeyPair makeClientKeyPair(std::span<const uint8_t> random);

// The shared secret: the 33-byte encoding of scalar x W for the router's point W. Fails when the
// router's bytes are not a valid point (length, prefix, range, not on the curve, order two) or
// the product is the point at infinity (a small-order point).
[[nodiscard]] Expected<SecureBytes> sharedSecret(const ec::Scalar& scalar,
                                                 std::span<const uint8_t> routerPoint);

} // namespace kestel
