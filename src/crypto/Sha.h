// SHA-1 and SHA-256 (FIPS 180-4) behind the common hash interface. Uses the SHA extensions of
// the processor when present (see Cpu.h), else portable code with the same results.
#pragma once

#include "crypto/Hash.h"

namespace kestel {

class Sha1 final : public BlockHash {
public:
  static constexpr size_t kDigestSize = 20;
  Sha1() : BlockHash(LengthOrder::Big) { reset(); }
  ~Sha1() override { secureWipe(h_, sizeof h_); }
  void reset() override;
  size_t digestSize() const override { return kDigestSize; }
  std::unique_ptr<Hash> create() const override { return std::make_unique<Sha1>(); }

protected:
  void compress(const uint8_t* blocks, size_t count) override;
  void writeDigest(uint8_t* digest) const override;

private:
  uint32_t h_[5];
};

class Sha256 final : public BlockHash {
public:
  static constexpr size_t kDigestSize = 32;
  Sha256() : BlockHash(LengthOrder::Big) { reset(); }
  ~Sha256() override { secureWipe(h_, sizeof h_); }
  void reset() override;
  size_t digestSize() const override { return kDigestSize; }
  std::unique_ptr<Hash> create() const override { return std::make_unique<Sha256>(); }

protected:
  void compress(const uint8_t* blocks, size_t count) override;
  void writeDigest(uint8_t* digest) const override;

private:
  uint32_t h_[8];
};

// SHA-1 compression of count 64-byte blocks into state, on the best path the processor allows.
void sha1Compress(uint32_t state[5], const uint8_t* blocks, size_t count);

// The processor-extension compression functions (ShaNi.cpp); call only when useShaNi().
void sha1CompressShaNi(uint32_t state[5], const uint8_t* blocks, size_t count);
void sha256CompressShaNi(uint32_t state[8], const uint8_t* blocks, size_t count);
// The 64 SHA-256 round constants, shared by both compression functions.
const uint32_t* sha256RoundConstants();

} // namespace kestel
