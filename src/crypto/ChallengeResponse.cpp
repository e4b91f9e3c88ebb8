#include "crypto/ChallengeResponse.h"

#include <algorithm>

#include "crypto/Des.h"
#include "crypto/Md.h"
#include "crypto/Sha.h"
#include "util/Bytes.h"

namespace kestel {

namespace {

constexpr std::string_view kMagicServerToClient = "Magic server to client signing constant";
constexpr std::string_view kMagicPad = "Pad to make it do more than one iteration";
constexpr std::string_view kMagicMaster = "This is the MPPE Master Key";
constexpr std::string_view kMagicClientSend =
    "On the client side, this is the send key; on the server side, it is the receive key.";
constexpr std::string_view kMagicClientReceive =
    "On the client side, this is the receive key; on the server side, it is the send key.";

} // namespace

SecureBytes ntPasswordHash(std::string_view password) {
  SecureBytes unicode;
  unicode.reserve(2 * password.size());
  for (char c : password) {
    if (unicode.size() >= 512)
      break;
    unicode.push_back(static_cast<uint8_t>(c));
    unicode.push_back(0);
  }
  return Md4().digest(unicode);
}

SecureBytes hashNtPasswordHash(std::span<const uint8_t> passwordHash) {
  return Md4().digest(passwordHash);
}

ChallengeHash challengeHash(std::span<const uint8_t> peerChallenge,
                            std::span<const uint8_t> authenticatorChallenge,
                            std::string_view userName) {
  Sha1 sha;
  sha.update(peerChallenge);
  sha.update(authenticatorChallenge);
  sha.update(asBytes(userName));
  uint8_t digest[Sha1::kDigestSize];
  sha.final(digest);
  ChallengeHash out;
  std::copy(digest, digest + out.size(), out.begin());
  return out;
}

std::array<uint8_t, 24> challengeResponse(const ChallengeHash& challenge,
                                          std::span<const uint8_t> passwordHash) {
  uint8_t zHash[21] = {};
  std::copy_n(passwordHash.begin(), std::min<size_t>(passwordHash.size(), 16), zHash);
  std::array<uint8_t, 24> response;
  for (int i = 0; i < 3; ++i) {
    uint8_t key[8];
    desSpreadKey(zHash + 7 * i, key);
    desEncryptBlock(key, challenge.data(), response.data() + 8 * i);
    secureWipe(key, sizeof key);
  }
  secureWipe(zHash, sizeof zHash);
  return response;
}

std::array<uint8_t, 24> generateNtResponse(std::span<const uint8_t> authenticatorChallenge,
                                           std::span<const uint8_t> peerChallenge,
                                           std::string_view userName, std::string_view password) {
  return challengeResponse(challengeHash(peerChallenge, authenticatorChallenge, userName),
                           ntPasswordHash(password));
}

std::string authenticatorResponse(std::span<const uint8_t> passwordHashHash,
                                  std::span<const uint8_t> ntResponse,
                                  const ChallengeHash& challenge) {
  Sha1 sha;
  sha.update(passwordHashHash);
  sha.update(ntResponse);
  sha.update(asBytes(kMagicServerToClient));
  uint8_t digest[Sha1::kDigestSize];
  sha.final(digest);
  sha.update(digest, sizeof digest);
  sha.update(challenge.data(), challenge.size());
  sha.update(asBytes(kMagicPad));
  sha.final(digest);
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "S=";
  for (uint8_t b : digest) {
    out.push_back(hex[b >> 4]);
    out.push_back(hex[b & 15]);
  }
  return out;
}

std::string generateAuthenticatorResponse(std::string_view password,
                                          std::span<const uint8_t> ntResponse,
                                          std::span<const uint8_t> peerChallenge,
                                          std::span<const uint8_t> authenticatorChallenge,
                                          std::string_view userName) {
  return authenticatorResponse(hashNtPasswordHash(ntPasswordHash(password)), ntResponse,
                               challengeHash(peerChallenge, authenticatorChallenge, userName));
}

SecureBytes mppeMasterKey(std::span<const uint8_t> passwordHashHash,
                          std::span<const uint8_t> ntResponse) {
  Sha1 sha;
  sha.update(passwordHashHash);
  sha.update(ntResponse);
  sha.update(asBytes(kMagicMaster));
  SecureBytes out(Sha1::kDigestSize);
  sha.final(out.data());
  out.resize(16);
  return out;
}

SecureBytes asymmetricStartKey(std::span<const uint8_t> secret, size_t length,
                               KeyDirection direction, KeySide side) {
  // The client's send key is the server's receive key and the other way round.
  const bool clientSend = (direction == KeyDirection::Send) == (side == KeySide::Client);
  const uint8_t zeros[40] = {};
  uint8_t pad2[40];
  std::fill(pad2, pad2 + 40, 0xF2);
  Sha1 sha;
  sha.update(secret);
  sha.update(zeros, sizeof zeros);
  sha.update(asBytes(clientSend ? kMagicClientSend : kMagicClientReceive));
  sha.update(pad2, sizeof pad2);
  SecureBytes out(Sha1::kDigestSize);
  sha.final(out.data());
  out.resize(std::min<size_t>(length, Sha1::kDigestSize));
  return out;
}

} // namespace kestel
