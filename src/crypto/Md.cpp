#include "crypto/Md.h"

#include <algorithm>
#include <cmath>

namespace kestel {

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t loadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void writeLe(const uint32_t h[4], uint8_t* digest) {
  for (int i = 0; i < 4; ++i)
    for (int b = 0; b < 4; ++b)
      digest[4 * i + b] = static_cast<uint8_t>(h[i] >> (8 * b));
}

constexpr uint32_t kInit[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

void md4Block(uint32_t h[4], const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = loadLe32(block + 4 * i);
  uint32_t v[4] = {h[0], h[1], h[2], h[3]};
  static constexpr int kShift[3][4] = {{3, 7, 11, 19}, {3, 5, 9, 13}, {3, 9, 11, 15}};
  static constexpr int kOrder2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
  static constexpr int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int round = 0; round < 3; ++round) {
    for (int step = 0; step < 16; ++step) {
      // The word updated cycles a, d, c, b; the others follow in their usual order.
      uint32_t& a = v[(4 - step % 4) % 4];
      uint32_t b = v[(5 - step % 4) % 4], c = v[(6 - step % 4) % 4], d = v[(7 - step % 4) % 4];
      uint32_t f;
      int k;
      if (round == 0) {
        f = (b & c) | (~b & d);
        k = step;
      } else if (round == 1) {
        f = ((b & c) | (b & d) | (c & d)) + 0x5A827999;
        k = kOrder2[step];
      } else {
        f = (b ^ c ^ d) + 0x6ED9EBA1;
        k = kOrder3[step];
      }
      a = rotl(a + f + x[k], kShift[round][step % 4]);
    }
  }
  for (int i = 0; i < 4; ++i)
    h[i] += v[i];
  secureWipe(x, sizeof x);
}

struct Md5Table {
  uint32_t t[64];
  Md5Table() {
    // T[i] = floor(2^32 * |sin(i + 1)|); double precision resolves every entry exactly.
    for (int i = 0; i < 64; ++i)
      t[i] = static_cast<uint32_t>(std::fabs(std::sin(i + 1.0)) * 4294967296.0);
  }
};

void md5Block(uint32_t h[4], const uint8_t* block) {
  static const Md5Table table;
  static constexpr int kShift[4][4] = {
      {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = loadLe32(block + 4 * i);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    switch (i / 16) {
    case 0:
      f = (b & c) | (~b & d);
      g = i;
      break;
    case 1:
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
      break;
    case 2:
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
      break;
    default:
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
      break;
    }
    uint32_t next = b + rotl(a + f + table.t[i] + x[g], kShift[i / 16][i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  secureWipe(x, sizeof x);
}

} // namespace

void Md4::reset() {
  resetBuffer();
  std::copy(kInit, kInit + 4, h_);
}

void Md4::compress(const uint8_t* blocks, size_t count) {
  for (size_t i = 0; i < count; ++i)
    md4Block(h_, blocks + 64 * i);
}

void Md4::writeDigest(uint8_t* digest) const { writeLe(h_, digest); }

void Md5::reset() {
  resetBuffer();
  std::copy(kInit, kInit + 4, h_);
}

void Md5::compress(const uint8_t* blocks, size_t count) {
  for (size_t i = 0; i < count; ++i)
    md5Block(h_, blocks + 64 * i);
}

void Md5::writeDigest(uint8_t* digest) const { writeLe(h_, digest); }

} // namespace kestel
