#include "crypto/BlockCipher.h"

#include <cstring>

#include "crypto/Secure.h"
#include "util/Assert.h"

namespace kestel {

void BlockCipher::encryptCbcBlocks(const uint8_t* in, uint8_t* out, size_t count,
                                   uint8_t* vector) const {
  for (size_t n = 0; n < count; ++n, in += 16, out += 16) {
    for (int i = 0; i < 16; ++i)
      out[i] = in[i] ^ vector[i];
    encryptBlock(out, out);
    std::memcpy(vector, out, 16);
  }
}

void BlockCipher::decryptCbcBlocks(const uint8_t* in, uint8_t* out, size_t count,
                                   uint8_t* vector) const {
  uint8_t saved[16];
  for (size_t n = 0; n < count; ++n, in += 16, out += 16) {
    std::memcpy(saved, in, 16);
    decryptBlock(in, out);
    for (int i = 0; i < 16; ++i)
      out[i] ^= vector[i];
    std::memcpy(vector, saved, 16);
  }
  secureWipe(saved, sizeof saved);
}

void cbcEncrypt(const BlockCipher& cipher, uint8_t* data, size_t length, uint8_t* vector) {
  cbcEncrypt(cipher, data, data, length, vector);
}

void cbcEncrypt(const BlockCipher& cipher, const uint8_t* in, uint8_t* out, size_t length,
                uint8_t* vector) {
  KESTEL_ASSERT(cipher.blockLength() == 16, "crypto/cbc");
  KESTEL_ASSERT(length % 16 == 0, "crypto/cbc");
  cipher.encryptCbcBlocks(in, out, length / 16, vector);
}

void cbcDecrypt(const BlockCipher& cipher, uint8_t* data, size_t length, uint8_t* vector) {
  cbcDecrypt(cipher, data, data, length, vector);
}

void cbcDecrypt(const BlockCipher& cipher, const uint8_t* in, uint8_t* out, size_t length,
                uint8_t* vector) {
  KESTEL_ASSERT(cipher.blockLength() == 16, "crypto/cbc");
  KESTEL_ASSERT(length % 16 == 0, "crypto/cbc");
  cipher.decryptCbcBlocks(in, out, length / 16, vector);
}

} // namespace kestel
