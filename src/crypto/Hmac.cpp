#include "crypto/Hmac.h"

#include <algorithm>

namespace kestel {

Hmac::Hmac(const Hash& hash, std::span<const uint8_t> key)
    : inner_(hash.create()), outer_(hash.create()), innerPad_(hash.blockSize()),
      outerPad_(hash.blockSize()) {
  SecureBytes block(hash.blockSize(), 0);
  if (key.size() > block.size()) {
    SecureBytes hashed = inner_->digest(key);
    std::copy(hashed.begin(), hashed.end(), block.begin());
  } else {
    std::copy(key.begin(), key.end(), block.begin());
  }
  for (size_t i = 0; i < block.size(); ++i) {
    innerPad_[i] = block[i] ^ 0x36;
    outerPad_[i] = block[i] ^ 0x5c;
  }
  reset();
}

Hmac::Hmac(const Hmac& other, int)
    : inner_(other.inner_->create()), outer_(other.outer_->create()), innerPad_(other.innerPad_),
      outerPad_(other.outerPad_) {
  reset();
}

Hmac::~Hmac() = default;

std::unique_ptr<Hash> Hmac::create() const { return std::unique_ptr<Hash>(new Hmac(*this, 0)); }

void Hmac::reset() {
  inner_->reset();
  inner_->update(innerPad_);
}

void Hmac::final(uint8_t* digest) {
  SecureBytes innerDigest(inner_->digestSize());
  inner_->final(innerDigest.data());
  outer_->reset();
  outer_->update(outerPad_);
  outer_->update(innerDigest);
  outer_->final(digest);
  reset();
}

Expected<SecureBytes> hkdf(const Hash& hash, std::span<const uint8_t> salt,
                           std::span<const uint8_t> ikm, std::span<const uint8_t> info,
                           size_t length) {
  const size_t digestSize = hash.digestSize();
  if (length > 255 * digestSize)
    return makeError("HKDF output longer than 255 digests");
  SecureBytes zeros(digestSize, 0);
  Hmac extract(hash, salt.empty() ? std::span<const uint8_t>(zeros) : salt);
  SecureBytes prk = extract.digest(ikm);
  Hmac expand(hash, prk);
  SecureBytes out;
  out.reserve(length + digestSize);
  SecureBytes block;
  for (uint8_t counter = 1; out.size() < length; ++counter) {
    expand.reset();
    expand.update(block);
    expand.update(info);
    expand.update(&counter, 1);
    block.resize(digestSize);
    expand.final(block.data());
    out.insert(out.end(), block.begin(), block.end());
  }
  out.resize(length);
  return out;
}

} // namespace kestel
