#include "crypto/Hash.h"

#include <cstring>

namespace kestel {

SecureBytes Hash::digest(std::span<const uint8_t> data) {
  reset();
  update(data);
  SecureBytes out(digestSize());
  final(out.data());
  return out;
}

void BlockHash::resetBuffer() {
  secureWipe(buffer_, sizeof buffer_);
  buffered_ = 0;
  totalBytes_ = 0;
}

void BlockHash::update(const void* data, size_t length) {
  if (length == 0)
    return;
  auto in = static_cast<const uint8_t*>(data);
  totalBytes_ += length;
  if (buffered_) {
    size_t take = std::min(length, sizeof buffer_ - buffered_);
    std::memcpy(buffer_ + buffered_, in, take);
    buffered_ += take;
    in += take;
    length -= take;
    if (buffered_ < sizeof buffer_)
      return;
    compress(buffer_, 1);
    buffered_ = 0;
  }
  if (length >= 64) {
    compress(in, length / 64);
    in += length / 64 * 64;
    length %= 64;
  }
  if (length)
    std::memcpy(buffer_, in, length);
  buffered_ = length;
}

void BlockHash::final(uint8_t* digest) {
  uint64_t bits = totalBytes_ * 8;
  buffer_[buffered_++] = 0x80;
  if (buffered_ > 56) {
    std::memset(buffer_ + buffered_, 0, 64 - buffered_);
    compress(buffer_, 1);
    buffered_ = 0;
  }
  std::memset(buffer_ + buffered_, 0, 56 - buffered_);
  for (int i = 0; i < 8; ++i) {
    int shift = order_ == LengthOrder::Big ? 8 * (7 - i) : 8 * i;
    buffer_[56 + i] = static_cast<uint8_t>(bits >> shift);
  }
  compress(buffer_, 1);
  writeDigest(digest);
  reset();
}

} // namespace kestel
