#include "crypto/HmacSha1.h"

#include <cstring>

#include "crypto/Secure.h"
#include "crypto/Sha.h"

namespace kestel {

namespace {

constexpr uint32_t kSha1Init[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

void storeBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Finishes a SHA-1 message whose state has absorbed all whole blocks: the rest (under 64
// bytes), the padding and the bit length of the whole message, then the digest.
void finish(uint32_t state[5], const uint8_t* rest, size_t restLength, uint64_t totalBytes,
            uint8_t* digest) {
  uint8_t block[128] = {};
  if (restLength)
    std::memcpy(block, rest, restLength);
  block[restLength] = 0x80;
  const size_t blocks = restLength < 56 ? 1 : 2;
  const uint64_t bits = totalBytes * 8;
  for (int i = 0; i < 8; ++i)
    block[64 * blocks - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  sha1Compress(state, block, blocks);
  for (int i = 0; i < 5; ++i)
    storeBe32(digest + 4 * i, state[i]);
  secureWipe(block, sizeof block);
}

} // namespace

HmacSha1::HmacSha1(std::span<const uint8_t> key) {
  uint8_t block[64] = {};
  if (key.size() > sizeof block) {
    Sha1 sha;
    sha.update(key);
    sha.final(block);
  } else if (!key.empty()) {
    std::memcpy(block, key.data(), key.size());
  }
  uint8_t pad[64];
  for (size_t i = 0; i < 64; ++i)
    pad[i] = block[i] ^ 0x36;
  std::memcpy(inner_, kSha1Init, sizeof inner_);
  sha1Compress(inner_, pad, 1);
  for (size_t i = 0; i < 64; ++i)
    pad[i] = block[i] ^ 0x5c;
  std::memcpy(outer_, kSha1Init, sizeof outer_);
  sha1Compress(outer_, pad, 1);
  secureWipe(pad, sizeof pad);
  secureWipe(block, sizeof block);
}

HmacSha1::~HmacSha1() {
  secureWipe(inner_, sizeof inner_);
  secureWipe(outer_, sizeof outer_);
}

void HmacSha1::startTag(uint32_t state[5]) const { std::memcpy(state, inner_, sizeof inner_); }

void HmacSha1::finishTag(uint32_t state[5], const uint8_t* rest, size_t restLength, size_t n,
                         uint8_t* out) const {
  uint8_t innerDigest[20];
  finish(state, rest, restLength, 64 + n, innerDigest);
  std::memcpy(state, outer_, sizeof outer_);
  finish(state, innerDigest, sizeof innerDigest, 64 + sizeof innerDigest, out);
  secureWipe(innerDigest, sizeof innerDigest);
  secureWipe(state, 5 * sizeof *state);
}

void HmacSha1::tag(const uint8_t* data, size_t n, uint8_t* out) const {
  uint32_t state[5];
  startTag(state);
  const size_t whole = n / 64 * 64;
  if (whole)
    sha1Compress(state, data, whole / 64);
  finishTag(state, data + whole, n - whole, n, out);
}

} // namespace kestel
