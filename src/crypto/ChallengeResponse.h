// The challenge-response computations of RFC 2759 (NT-Response and authenticator response) and
// the key steps of RFC 3079 (master key, asymmetric start keys). Pure functions over byte
// strings; none of them can fail.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "crypto/Secure.h"

namespace kestel {

using ChallengeHash = std::array<uint8_t, 8>;

// MD4 of the password in UTF-16LE, formed by following each byte with a zero byte; the UTF-16
// text is cut to 512 bytes. 16 bytes.
SecureBytes ntPasswordHash(std::string_view password);

// MD4 of a password hash (the password-hash hash). 16 bytes.
SecureBytes hashNtPasswordHash(std::span<const uint8_t> passwordHash);

// First 8 bytes of SHA-1(peer challenge | authenticator challenge | user name).
ChallengeHash challengeHash(std::span<const uint8_t> peerChallenge,
                            std::span<const uint8_t> authenticatorChallenge,
                            std::string_view userName);

// The three DES encryptions of the challenge hash under the zero-padded password hash. 24 bytes.
std::array<uint8_t, 24> challengeResponse(const ChallengeHash& challenge,
                                          std::span<const uint8_t> passwordHash);

// GenerateNTResponse of RFC 2759. 24 bytes.
std::array<uint8_t, 24> generateNtResponse(std::span<const uint8_t> authenticatorChallenge,
                                           std::span<const uint8_t> peerChallenge,
                                           std::string_view userName, std::string_view password);

// The authenticator response "S=" + 40 upper-case hex digits from the password-hash hash, the
// NT-Response and the challenge hash.
std::string authenticatorResponse(std::span<const uint8_t> passwordHashHash,
                                  std::span<const uint8_t> ntResponse,
                                  const ChallengeHash& challenge);

// GenerateAuthenticatorResponse of RFC 2759, from the password and the challenges.
std::string generateAuthenticatorResponse(std::string_view password,
                                          std::span<const uint8_t> ntResponse,
                                          std::span<const uint8_t> peerChallenge,
                                          std::span<const uint8_t> authenticatorChallenge,
                                          std::string_view userName);

// GetMasterKey of RFC 3079: first 16 bytes of SHA-1(password-hash hash | NT-Response | Magic1).
SecureBytes mppeMasterKey(std::span<const uint8_t> passwordHashHash,
                          std::span<const uint8_t> ntResponse);

enum class KeyDirection { Send, Receive };
enum class KeySide { Client, Server };

// GetAsymmetricStartKey of RFC 3079: first length (at most 20) bytes of SHA-1(secret | 40 x 0x00 |
// side constant | 40 x 0xF2), the constant chosen by direction and side.
SecureBytes asymmetricStartKey(std::span<const uint8_t> secret, size_t length,
                               KeyDirection direction, KeySide side);

} // namespace kestel
