#include "crypto/SessionCipher.h"

#include <cstring>

#include "util/Assert.h"

namespace kestel {

namespace {

size_t paddingLength(size_t n) { return 16 - (n + SessionCipher::kTagLength) % 16; }

std::span<const uint8_t> aesKeyOf(std::span<const uint8_t> key) {
  KESTEL_ASSERT(key.size() == SessionCipher::kKeyLength, "crypto/sessioncipher");
  return key.first(16);
}

} // namespace

SessionCipher::SessionCipher(std::span<const uint8_t> key)
    : aes_(aesKeyOf(key)), mac_(key.subspan(16, kTagLength)) {}

SessionCipher::~SessionCipher() { secureWipe(vector_, sizeof vector_); }

size_t SessionCipher::encryptedLength(size_t n) { return n + kTagLength + paddingLength(n); }

void SessionCipher::setVector(std::span<const uint8_t, kVectorLength> vector) {
  std::memcpy(vector_, vector.data(), kVectorLength);
}

void SessionCipher::encrypt(const uint8_t* plain, size_t n, uint8_t* out) {
  // Whole 64-byte pieces are hashed and encrypted in one pass, straight from plain to out; then
  // the tag is finished over the rest, the rest's whole blocks are encrypted, and the last part
  // of the plaintext, the tag and the padding (at most 47 bytes, whole blocks) are assembled
  // aside. Every byte is hashed before it is overwritten, as out may be plain.
  uint32_t state[5];
  mac_.startTag(state);
  const size_t pieces = n / 64 * 64;
  if (pieces)
    aes_.encryptCbcHashingSha1(plain, out, pieces / 64, vector_, state);
  const size_t whole = n / 16 * 16, rest = n - whole;
  uint8_t tail[15 + kTagLength + 16];
  if (rest)
    std::memcpy(tail, plain + whole, rest);
  mac_.finishTag(state, plain + pieces, n - pieces, n, tail + rest);
  const size_t p = paddingLength(n);
  std::memset(tail + rest + kTagLength, static_cast<int>(p - 1), p);
  if (whole > pieces)
    cbcEncrypt(aes_, plain + pieces, out + pieces, whole - pieces, vector_);
  cbcEncrypt(aes_, tail, out + whole, rest + kTagLength + p, vector_);
  secureWipe(tail, sizeof tail);
}

uint32_t SessionCipher::decrypt(const uint8_t* protectedBytes, size_t m, uint8_t* out) {
  // The smallest protected text is 32 bytes (20-byte tag and at least one padding byte); shorter
  // ones would make the tag position negative.
  if (m == 0 || m % 16 != 0 || m < 32 || m > kFailed)
    return kFailed;
  cbcDecrypt(aes_, protectedBytes, out, m, vector_);

  const uint8_t b = out[m - 1];
  size_t p = size_t(b) + 1;
  if (m - kTagLength < p)
    p = 0;
  const size_t n = m - kTagLength - p;
  uint8_t tag[kTagLength];
  mac_.tag(out, n, tag);
  bool ok = constantTimeEqual(tag, std::span<const uint8_t>(out + n, kTagLength));
  ok = ok && p == size_t(b) + 1;
  uint8_t paddingDiff = 0;
  for (size_t i = m - p; i < m; ++i)
    paddingDiff |= static_cast<uint8_t>(out[i] ^ b);
  if (!ok || paddingDiff != 0) {
    secureWipe(out, m);
    return kFailed;
  }
  return static_cast<uint32_t>(n);
}

} // namespace kestel
