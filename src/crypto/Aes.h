// AES-128 (FIPS 197): key setup from 16 bytes, single blocks and a fast CBC path. Uses AES-NI
// when the processor has it (see Cpu.h), else table-driven portable code; both give the same
// results. The portable tables are indexed by data, so that path is not constant-time.
#pragma once

#include <span>

#include "crypto/BlockCipher.h"
#include "crypto/Secure.h"

namespace kestel {

class Aes128 final : public BlockCipher {
public:
  // Expands the 16-byte key (asserts the length).
  explicit Aes128(std::span<const uint8_t> key);
  ~Aes128() override;

  size_t blockLength() const override { return 16; }
  void encryptBlock(const uint8_t* in, uint8_t* out) const override;
  void decryptBlock(const uint8_t* in, uint8_t* out) const override;
  void encryptCbcBlocks(const uint8_t* in, uint8_t* out, size_t count,
                        uint8_t* vector) const override;
  void decryptCbcBlocks(const uint8_t* in, uint8_t* out, size_t count,
                        uint8_t* vector) const override;

  // CBC encryption of chunks 64-byte pieces from in to out (the same buffer or not overlapping)
  // that feeds each plaintext piece to a SHA-1 state before encrypting it: MAC-then-encrypt in
  // one pass over the data, with both instruction sets at work side by side where present.
  void encryptCbcHashingSha1(const uint8_t* in, uint8_t* out, size_t chunks, uint8_t* vector,
                             uint32_t sha1State[5]) const;

private:
  // Round keys as FIPS 197 words (portable path) and as bytes (AES-NI path).
  uint32_t encWords_[44];
  uint32_t decWords_[44];
  alignas(16) uint8_t encBytes_[176];
  alignas(16) uint8_t decBytes_[176];
};

// AES-NI primitives (AesNi.cpp); call only when useAesNi(). Round keys are 11 x 16 bytes; the
// decryption keys are the equivalent-inverse-cipher keys in the order they are applied.
void aesNiEncryptCbc(const uint8_t* roundKeys, const uint8_t* in, uint8_t* out, size_t count,
                     uint8_t* vector);
void aesNiDecryptCbc(const uint8_t* decKeys, const uint8_t* in, uint8_t* out, size_t count,
                     uint8_t* vector);
void aesNiEncryptBlock(const uint8_t* roundKeys, const uint8_t* in, uint8_t* out);
// Also needs the wide AES instructions (useVaes()); the same contract as aesNiDecryptCbc.
void vaesDecryptCbc(const uint8_t* decKeys, const uint8_t* in, uint8_t* out, size_t count,
                    uint8_t* vector);
// This one also needs the SHA extensions (useShaNi()).
void aesNiEncryptCbcSha1(const uint8_t* roundKeys, const uint8_t* in, uint8_t* out, size_t chunks,
                         uint8_t* vector, uint32_t sha1State[5]);
void aesNiDecryptBlock(const uint8_t* decKeys, const uint8_t* in, uint8_t* out);

} // namespace kestel
