#include "crypto/LoginCrypto.h"

#include <algorithm>

#include "crypto/Hmac.h"
#include "crypto/Sha.h"
#include "util/Assert.h"
#include "util/Bytes.h"

namespace kestel {

SecureBytes passwordValue(std::string_view user, std::string_view password,
                          std::span<const uint8_t> salt) {
  Sha256 sha;
  sha.update(asBytes(user));
  sha.update(":", 1);
  sha.update(asBytes(password));
  uint8_t inner[Sha256::kDigestSize];
  sha.final(inner);
  sha.update(salt);
  sha.update(inner, sizeof inner);
  SecureBytes out(Sha256::kDigestSize);
  sha.final(out.data());
  secureWipe(inner, sizeof inner);
  return out;
}

std::array<uint8_t, 16> challengeValue(std::span<const uint8_t> first,
                                       std::span<const uint8_t> second, ChallengeSide side) {
  const uint8_t zeros[40] = {};
  uint8_t pad[40];
  std::fill(pad, pad + 40, 0xF2);
  Sha1 sha;
  sha.update(first);
  sha.update(second);
  sha.update(zeros, sizeof zeros);
  sha.update(asBytes(side == ChallengeSide::Peer ? "This is for peer challenge"
                                                 : "This is for auther challenge"));
  sha.update(pad, sizeof pad);
  uint8_t digest[Sha1::kDigestSize];
  sha.final(digest);
  std::array<uint8_t, 16> out;
  std::copy_n(digest, out.size(), out.begin());
  return out;
}

std::string_view loginUserName(std::string_view login) { return login.substr(0, login.find('+')); }

LoginResponse loginResponse(std::span<const uint8_t> sharedSecret,
                            std::span<const uint8_t> routerChallenge,
                            std::span<const uint8_t> clientPublicKey, std::string_view login,
                            std::string_view password) {
  return loginResponseForHash(sharedSecret, routerChallenge, clientPublicKey, login,
                              ntPasswordHash(password));
}

LoginResponse loginResponseForHash(std::span<const uint8_t> sharedSecret,
                                   std::span<const uint8_t> routerChallenge,
                                   std::span<const uint8_t> clientPublicKey, std::string_view login,
                                   std::span<const uint8_t> passwordHash) {
  const auto peer = challengeValue(sharedSecret, routerChallenge, ChallengeSide::Peer);
  const auto authenticator =
      challengeValue(sharedSecret, clientPublicKey, ChallengeSide::Authenticator);
  const std::string_view user = loginUserName(login);
  const ChallengeHash challenge = challengeHash(peer, authenticator, user);
  LoginResponse out;
  out.ntResponse = challengeResponse(challenge, passwordHash);
  out.expectedProof =
      authenticatorResponse(hashNtPasswordHash(passwordHash), out.ntResponse, challenge);
  return out;
}

bool proofMatches(std::string_view expectedProof, std::span<const uint8_t> routerProof) {
  return constantTimeEqual(asBytes(expectedProof), routerProof);
}

KeyPair makeKeyPair(std::span<const uint8_t> random) {
  KESTEL_ASSERT(random.size() == 32, "crypto/logincrypto");
  KeyPair pair;
  ec::Scalar raw;
  std::copy(random.begin(), random.end(), raw.begin());
  pair.scalar = ec::clampScalar(raw);
  secureWipe(raw.data(), raw.size());
  auto encoded = ec::encodePoint(ec::mul(pair.scalar, ec::basePoint()));
  // A clamped scalar is a multiple of 8 in [2^254, 2^255), never a multiple of the base point's
  // odd order (about 2^252), so the public key is never infinity.
  KESTEL_ASSERT(encoded.ok(), "crypto/logincrypto");
  pair.publicKey = *encoded;
  return pair;
}

Expected<SecureBytes> sharedSecret(const ec::Scalar& scalar, std::span<const uint8_t> peerPoint) {
  auto point = ec::decodePoint(peerPoint);
  if (!point.ok())
    return point.error();
  ec::Point z = ec::mul(scalar, *point);
  auto encoded = ec::encodePoint(z);
  secureWipe(&z, sizeof z);
  if (!encoded.ok())
    return makeError("shared secret is the point at infinity");
  SecureBytes out(encoded->begin(), encoded->end());
  secureWipe(encoded->data(), encoded->size());
  return out;
}

DirectionKeys deriveDirectionKeys(std::span<const uint8_t> sharedSecret) {
  auto expand = [&](KeyDirection direction) {
    SecureBytes start = asymmetricStartKey(sharedSecret, 20, direction, KeySide::Client);
    auto key = hkdf(Sha1(), {}, start, {}, 36);
    KESTEL_ASSERT(key.ok(), "crypto/logincrypto"); // 36 bytes is always within HKDF's limit
    return std::move(key).value();
  };
  return DirectionKeys{expand(KeyDirection::Receive), expand(KeyDirection::Send)};
}

} // namespace kestel
