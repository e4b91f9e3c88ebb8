#include "crypto/BlockCipher.h"

#include <cstring>

#include "crypto/Secure.h"
#include "util/Assert.h"

namespace kestel {

void BlockCipher::encryptCbcBlocks(uint8_t* data, size_t count, uint8_t* vector) const {
  for (size_t n = 0; n < count; ++n, data += 16) {
    for (int i = 0; i < 16; ++i)
      data[i] ^= vector[i];
    encryptBlock(data, data);
    std::memcpy(vector, data, 16);
  }
}

void BlockCipher::decryptCbcBlocks(uint8_t* data, size_t count, uint8_t* vector) const {
  uint8_t saved[16];
  for (size_t n = 0; n < count; ++n, data += 16) {
    std::memcpy(saved, data, 16);
    decryptBlock(data, data);
    for (int i = 0; i < 16; ++i)
      data[i] ^= vector[i];
    std::memcpy(vector, saved, 16);
  }
  secureWipe(saved, sizeof saved);
}

void cbcEncrypt(const BlockCipher& cipher, uint8_t* data, size_t length, uint8_t* vector) {
  KESTEL_ASSERT(cipher.blockLength() == 16, "crypto/cbc");
  KESTEL_ASSERT(length % 16 == 0, "crypto/cbc");
  cipher.encryptCbcBlocks(data, length / 16, vector);
}

void cbcDecrypt(const BlockCipher& cipher, uint8_t* data, size_t length, uint8_t* vector) {
  KESTEL_ASSERT(cipher.blockLength() == 16, "crypto/cbc");
  KESTEL_ASSERT(length % 16 == 0, "crypto/cbc");
  cipher.decryptCbcBlocks(data, length / 16, vector);
}

} // namespace kestel
