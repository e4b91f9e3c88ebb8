// HMAC (RFC 2104) over any hash of the common interface, offering that interface itself, and
// HKDF (RFC 5869) on top of it. The key is kept only as the two padded key blocks, wiped when
// the object goes.
#pragma once

#include <span>

#include "crypto/Hash.h"
#include "util/Expected.h"

namespace kestel {

class Hmac final : public Hash {
public:
  // Keys the MAC; `hash` is only used as a prototype (its kind, not its state).
  Hmac(const Hash& hash, std::span<const uint8_t> key);
  ~Hmac() override;
  Hmac(const Hmac&) = delete;
  Hmac& operator=(const Hmac&) = delete;

  void reset() override;
  void update(const void* data, size_t length) override { inner_->update(data, length); }
  void final(uint8_t* digest) override;
  size_t digestSize() const override { return inner_->digestSize(); }
  size_t blockSize() const override { return inner_->blockSize(); }
  std::unique_ptr<Hash> create() const override;
  using Hash::update;

private:
  Hmac(const Hmac& other, int);

  std::unique_ptr<Hash> inner_;
  std::unique_ptr<Hash> outer_;
  SecureBytes innerPad_;
  SecureBytes outerPad_;
};

// HKDF-Extract then HKDF-Expand with the given hash. An empty salt means a salt of digest-size
// zeros, as the RFC says. Fails when length exceeds 255 digests.
[[nodiscard]] Expected<SecureBytes> hkdf(const Hash& hash, std::span<const uint8_t> salt,
                                         std::span<const uint8_t> ikm,
                                         std::span<const uint8_t> info, size_t length);

} // namespace kestel
