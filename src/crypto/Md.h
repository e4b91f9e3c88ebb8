// MD4 (RFC 1320) and MD5 (RFC 1321) behind the common hash interface. MD4 serves only the
// password hashes of the challenge response; MD5 only checksums outside the login.
#pragma once

#include "crypto/Hash.h"

namespace kestel {

class Md4 final : public BlockHash {
public:
  static constexpr size_t kDigestSize = 16;
  Md4() : BlockHash(LengthOrder::Little) { reset(); }
  ~Md4() override { secureWipe(h_, sizeof h_); }
  void reset() override;
  size_t digestSize() const override { return kDigestSize; }
  std::unique_ptr<Hash> create() const override { return std::make_unique<Md4>(); }

protected:
  void compress(const uint8_t* blocks, size_t count) override;
  void writeDigest(uint8_t* digest) const override;

private:
  uint32_t h_[4];
};

class Md5 final : public BlockHash {
public:
  static constexpr size_t kDigestSize = 16;
  Md5() : BlockHash(LengthOrder::Little) { reset(); }
  ~Md5() override { secureWipe(h_, sizeof h_); }
  void reset() override;
  size_t digestSize() const override { return kDigestSize; }
  std::unique_ptr<Hash> create() const override { return std::make_unique<Md5>(); }

protected:
  void compress(const uint8_t* blocks, size_t count) override;
  void writeDigest(uint8_t* digest) const override;

private:
  uint32_t h_[4];
};

} // namespace kestel
