// The common interface of the hash functions (SHA-1, SHA-256, MD4, MD5) and of HMAC, plus the
// shared block buffering of the four Merkle-Damgard hashes. Hashing cannot fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "crypto/Secure.h"

namespace kestel {

class Hash {
public:
  virtual ~Hash() = default;
  // Starts a new message.
  virtual void reset() = 0;
  // Adds bytes to the message.
  virtual void update(const void* data, size_t length) = 0;
  // Writes digestSize() bytes into digest and starts a new message.
  virtual void final(uint8_t* digest) = 0;
  virtual size_t digestSize() const = 0;
  // Input block size in bytes (64 for all hashes here), used by HMAC.
  virtual size_t blockSize() const = 0;
  // A fresh object of the same kind (for HMAC, with the same key).
  virtual std::unique_ptr<Hash> create() const = 0;

  void update(std::span<const uint8_t> data) { update(data.data(), data.size()); }
  // Digest of data alone (resets first).
  SecureBytes digest(std::span<const uint8_t> data);
};

// Buffering and padding shared by the 64-byte-block hashes; subclasses give the compression
// function, the initial state and the digest layout.
class BlockHash : public Hash {
public:
  enum class LengthOrder { Little, Big };

  void update(const void* data, size_t length) override;
  void final(uint8_t* digest) override;
  size_t blockSize() const override { return 64; }
  using Hash::update;

protected:
  explicit BlockHash(LengthOrder order) : order_(order) {}
  ~BlockHash() override { secureWipe(buffer_, sizeof buffer_); }
  // Clears the buffer and the length; subclasses call it from reset().
  void resetBuffer();
  // Processes count whole 64-byte blocks.
  virtual void compress(const uint8_t* blocks, size_t count) = 0;
  // Writes the digest from the state.
  virtual void writeDigest(uint8_t* digest) const = 0;

private:
  uint8_t buffer_[64] = {};
  size_t buffered_ = 0;
  uint64_t totalBytes_ = 0;
  LengthOrder order_;
};

} // namespace kestel
