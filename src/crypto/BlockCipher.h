// The block-cipher interface and CBC mode (NIST SP 800-38A) over whole blocks. CBC updates the
// chaining vector so that consecutive calls continue one stream. Lengths that are not whole
// blocks and ciphers whose block length is not 16 are programming errors (assertions).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestel {

class BlockCipher {
public:
  virtual ~BlockCipher() = default;
  virtual size_t blockLength() const = 0;
  virtual void encryptBlock(const uint8_t* in, uint8_t* out) const = 0;
  virtual void decryptBlock(const uint8_t* in, uint8_t* out) const = 0;
  // CBC over count blocks from in to out (which may be the same buffer, but must not overlap
  // otherwise); ciphers with a faster bulk path override these.
  virtual void encryptCbcBlocks(const uint8_t* in, uint8_t* out, size_t count,
                                uint8_t* vector) const;
  virtual void decryptCbcBlocks(const uint8_t* in, uint8_t* out, size_t count,
                                uint8_t* vector) const;
};

// Encrypts length bytes in place under the 16-byte chaining vector, which is left at the last
// ciphertext block. Asserts "cipher.blockLength() == 16" and whole blocks.
void cbcEncrypt(const BlockCipher& cipher, uint8_t* data, size_t length, uint8_t* vector);

// Encrypts length bytes from in to out (the same buffer or not overlapping).
void cbcEncrypt(const BlockCipher& cipher, const uint8_t* in, uint8_t* out, size_t length,
                uint8_t* vector);

// Decrypts length bytes in place; same contract as cbcEncrypt.
void cbcDecrypt(const BlockCipher& cipher, uint8_t* data, size_t length, uint8_t* vector);

// Decrypts length bytes from in to out (the same buffer or not overlapping).
void cbcDecrypt(const BlockCipher& cipher, const uint8_t* in, uint8_t* out, size_t length,
                uint8_t* vector);

} // namespace kestel
