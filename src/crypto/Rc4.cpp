#include "crypto/Rc4.h"

#include "crypto/Secure.h"
#include "util/Assert.h"

#include <utility>

namespace kestel {

Rc4::Rc4(std::span<const uint8_t> key) {
  KESTEL_ASSERT(!key.empty() && key.size() <= 256, "crypto/rc4");
  for (int k = 0; k < 256; ++k)
    s_[k] = uint8_t(k);
  uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = uint8_t(j + s_[k] + key[size_t(k) % key.size()]);
    std::swap(s_[k], s_[j]);
  }
}

Rc4::~Rc4() { secureWipe(s_, sizeof s_); }

void Rc4::drop(size_t n) {
  for (size_t k = 0; k < n; ++k) {
    i_ = uint8_t(i_ + 1);
    j_ = uint8_t(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
  }
}

void Rc4::apply(uint8_t* data, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    i_ = uint8_t(i_ + 1);
    j_ = uint8_t(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    data[k] ^= s_[uint8_t(s_[i_] + s_[j_])];
  }
}

} // namespace kestel
