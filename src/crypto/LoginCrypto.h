// The cryptographic building blocks of the secure login: the password value, the challenge
// values, the login name cut at "+", the key pair and shared secret on the curve, the response
// and expected proof from a shared secret, and the two 36-byte session keys. Both ends of the
// login (api/net LoginMessages) are made of these; they hold no state and only the curve step
// fails, on a point the peer sent.
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

// The response once the shared secret is known: the peer challenge value from the shared secret
// and the router's challenge bytes, the authenticator challenge value from the shared secret
// and the client's public key bytes, then the RFC 2759 NT-Response and authenticator response
// for the login name (cut at "+") and the MD4 password hash of `password`.
LoginResponse loginResponse(std::span<const uint8_t> sharedSecret,
                            std::span<const uint8_t> routerChallenge,
                            std::span<const uint8_t> clientPublicKey, std::string_view login,
                            std::string_view password);
// The same with the 16-byte password hash given instead of the password (the salted login puts
// a hash of its secret there).
LoginResponse loginResponseForHash(std::span<const uint8_t> sharedSecret,
                                   std::span<const uint8_t> routerChallenge,
                                   std::span<const uint8_t> clientPublicKey, std::string_view login,
                                   std::span<const uint8_t> passwordHash);

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

// One end's side of the curve exchange: a clamped private scalar and its encoded public point
// (the client's public key in its first challenge, the router's point in an unsalted challenge).
struct KeyPair {
  ec::Scalar scalar;     // wiped by the destructor
  ec::Encoded publicKey; // sent to the peer
  KeyPair() = default;
  KeyPair(const KeyPair&) = delete;
  KeyPair& operator=(const KeyPair&) = delete;
  KeyPair(KeyPair&&) = default;
  KeyPair& operator=(KeyPair&&) = default;
  ~KeyPair() { secureWipe(scalar.data(), scalar.size()); }
};

// Makes the key pair from 32 random bytes (random32()); asserts the length.
KeyPair makeKeyPair(std::span<const uint8_t> random);

// The shared secret: the 33-byte encoding of scalar x P for the peer's point P. Fails when the
// peer's bytes do not pass the curve's validity test (length, prefix, range, on the curve, not
// of small order).
[[nodiscard]] Expected<SecureBytes> sharedSecret(const ec::Scalar& scalar,
                                                 std::span<const uint8_t> peerPoint);

} // namespace kestel
