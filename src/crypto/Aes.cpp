#include "crypto/Aes.h"

#include "crypto/Cpu.h"
#include "crypto/Sha.h"
#include "util/Assert.h"

namespace kestel {

namespace {

inline uint32_t ror8(uint32_t x) { return (x >> 8) | (x << 24); }

inline uint8_t xtime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x >> 7) * 0x1b)); }

uint8_t gfMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  for (; b; b >>= 1, a = xtime(a))
    if (b & 1)
      r ^= a;
  return r;
}

// S-boxes and round tables, built once from the field arithmetic of FIPS 197.
struct Tables {
  uint8_t sbox[256];
  uint8_t inverse[256];
  uint32_t te[4][256];
  uint32_t td[4][256];

  Tables() {
    for (int x = 0; x < 256; ++x) {
      uint8_t inv = 0;
      for (int y = 1; y < 256 && x; ++y)
        if (gfMul(static_cast<uint8_t>(x), static_cast<uint8_t>(y)) == 1)
          inv = static_cast<uint8_t>(y);
      uint8_t s = inv;
      for (int r = 1; r < 5; ++r)
        s ^= static_cast<uint8_t>((inv << r) | (inv >> (8 - r)));
      sbox[x] = s ^ 0x63;
      inverse[sbox[x]] = static_cast<uint8_t>(x);
    }
    for (int x = 0; x < 256; ++x) {
      uint8_t s = sbox[x], i = inverse[x];
      te[0][x] =
          uint32_t(xtime(s)) << 24 | uint32_t(s) << 16 | uint32_t(s) << 8 | uint32_t(xtime(s) ^ s);
      td[0][x] = uint32_t(gfMul(i, 14)) << 24 | uint32_t(gfMul(i, 9)) << 16 |
                 uint32_t(gfMul(i, 13)) << 8 | uint32_t(gfMul(i, 11));
      for (int t = 1; t < 4; ++t) {
        te[t][x] = ror8(te[t - 1][x]);
        td[t][x] = ror8(td[t - 1][x]);
      }
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

inline uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline void store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

inline uint8_t byteOf(uint32_t w, int i) { return static_cast<uint8_t>(w >> (24 - 8 * i)); }

uint32_t subWord(const Tables& t, uint32_t w) {
  return uint32_t(t.sbox[byteOf(w, 0)]) << 24 | uint32_t(t.sbox[byteOf(w, 1)]) << 16 |
         uint32_t(t.sbox[byteOf(w, 2)]) << 8 | t.sbox[byteOf(w, 3)];
}

// One table round; `order` picks, for output column c, the input column of row r as
// (c + order * r) mod 4: +1 for encryption (ShiftRows), -1 (3) for decryption.
inline void tableRound(const uint32_t (&tab)[4][256], const uint32_t* in, uint32_t* out,
                       const uint32_t* key, int order) {
  for (int c = 0; c < 4; ++c)
    out[c] = tab[0][byteOf(in[c], 0)] ^ tab[1][byteOf(in[(c + order) % 4], 1)] ^
             tab[2][byteOf(in[(c + 2 * order) % 4], 2)] ^
             tab[3][byteOf(in[(c + 3 * order) % 4], 3)] ^ key[c];
}

void lastRound(const uint8_t* box, const uint32_t* in, uint8_t* out, const uint32_t* key,
               int order) {
  for (int c = 0; c < 4; ++c) {
    uint32_t w = uint32_t(box[byteOf(in[c], 0)]) << 24 |
                 uint32_t(box[byteOf(in[(c + order) % 4], 1)]) << 16 |
                 uint32_t(box[byteOf(in[(c + 2 * order) % 4], 2)]) << 8 |
                 box[byteOf(in[(c + 3 * order) % 4], 3)];
    store32(out + 4 * c, w ^ key[c]);
  }
}

void runRounds(const uint32_t (&tab)[4][256], const uint8_t* box, const uint32_t* keys,
               const uint8_t* in, uint8_t* out, int order) {
  uint32_t s[4], t[4];
  for (int c = 0; c < 4; ++c)
    s[c] = load32(in + 4 * c) ^ keys[c];
  for (int round = 1; round < 10; round += 2) {
    tableRound(tab, s, t, keys + 4 * round, order);
    if (round == 9) {
      lastRound(box, t, out, keys + 40, order);
      break;
    }
    tableRound(tab, t, s, keys + 4 * (round + 1), order);
  }
  secureWipe(s, sizeof s);
  secureWipe(t, sizeof t);
}

} // namespace

Aes128::Aes128(std::span<const uint8_t> key) {
  KESTEL_ASSERT(key.size() == 16, "crypto/aes");
  const Tables& t = tables();
  for (int i = 0; i < 4; ++i)
    encWords_[i] = load32(key.data() + 4 * i);
  uint8_t rcon = 1;
  for (int i = 4; i < 44; ++i) {
    uint32_t w = encWords_[i - 1];
    if (i % 4 == 0) {
      w = subWord(t, (w << 8) | (w >> 24)) ^ (uint32_t(rcon) << 24);
      rcon = xtime(rcon);
    }
    encWords_[i] = encWords_[i - 4] ^ w;
  }
  // Equivalent inverse cipher: round keys in reverse, InvMixColumns on the inner ones.
  for (int round = 0; round <= 10; ++round) {
    for (int c = 0; c < 4; ++c) {
      uint32_t w = encWords_[4 * (10 - round) + c];
      if (round != 0 && round != 10)
        w = t.td[0][t.sbox[byteOf(w, 0)]] ^ t.td[1][t.sbox[byteOf(w, 1)]] ^
            t.td[2][t.sbox[byteOf(w, 2)]] ^ t.td[3][t.sbox[byteOf(w, 3)]];
      decWords_[4 * round + c] = w;
    }
  }
  for (int i = 0; i < 44; ++i) {
    store32(encBytes_ + 4 * i, encWords_[i]);
    store32(decBytes_ + 4 * i, decWords_[i]);
  }
}

Aes128::~Aes128() {
  secureWipe(encWords_, sizeof encWords_);
  secureWipe(decWords_, sizeof decWords_);
  secureWipe(encBytes_, sizeof encBytes_);
  secureWipe(decBytes_, sizeof decBytes_);
}

void Aes128::encryptBlock(const uint8_t* in, uint8_t* out) const {
  if (useAesNi())
    return aesNiEncryptBlock(encBytes_, in, out);
  runRounds(tables().te, tables().sbox, encWords_, in, out, 1);
}

void Aes128::decryptBlock(const uint8_t* in, uint8_t* out) const {
  if (useAesNi())
    return aesNiDecryptBlock(decBytes_, in, out);
  runRounds(tables().td, tables().inverse, decWords_, in, out, 3);
}

void Aes128::encryptCbcBlocks(const uint8_t* in, uint8_t* out, size_t count,
                              uint8_t* vector) const {
  if (useAesNi())
    return aesNiEncryptCbc(encBytes_, in, out, count, vector);
  BlockCipher::encryptCbcBlocks(in, out, count, vector);
}

void Aes128::decryptCbcBlocks(const uint8_t* in, uint8_t* out, size_t count,
                              uint8_t* vector) const {
  if (useAesNi() && useVaes())
    return vaesDecryptCbc(decBytes_, in, out, count, vector);
  if (useAesNi())
    return aesNiDecryptCbc(decBytes_, in, out, count, vector);
  BlockCipher::decryptCbcBlocks(in, out, count, vector);
}

void Aes128::encryptCbcHashingSha1(const uint8_t* in, uint8_t* out, size_t chunks, uint8_t* vector,
                                   uint32_t sha1State[5]) const {
  if (useAesNi() && useShaNi()) {
    aesNiEncryptCbcSha1(encBytes_, in, out, chunks, vector, sha1State);
    return;
  }
  for (size_t i = 0; i < chunks; ++i, in += 64, out += 64) {
    sha1Compress(sha1State, in, 1);
    encryptCbcBlocks(in, out, 4, vector);
  }
}

} // namespace kestel
