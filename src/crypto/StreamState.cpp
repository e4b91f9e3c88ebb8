#include "crypto/StreamState.h"

#include <algorithm>
#include <utility>

#include "crypto/Secure.h"
#include "util/Assert.h"

namespace kestel {

StreamState::StreamState() {
  for (int x = 0; x < 256; ++x)
    s_[x] = static_cast<uint8_t>(x);
}

StreamState::~StreamState() {
  secureWipe(s_, sizeof s_);
  i_ = j_ = f_ = 0;
}

void StreamState::scheduleKey(std::span<const uint8_t> key) {
  KESTEL_ASSERT(!key.empty(), "crypto/streamstate");
  for (int x = 0; x < 256; ++x)
    s_[x] = static_cast<uint8_t>(x);
  i_ = j_ = f_ = 0;
  for (size_t x = 0; x < 256; ++x) {
    j_ = static_cast<uint8_t>(j_ + s_[x] + key[x % key.size()]);
    std::swap(s_[x], s_[j_]);
  }
}

StreamState StreamState::afterKeySchedule(std::span<const uint8_t> key) {
  StreamState state;
  state.scheduleKey(key);
  return state;
}

void StreamState::key(std::span<const uint8_t> key) {
  scheduleKey(key);
  for (int step = 0; step < 3072; ++step) {
    ++i_;
    j_ = static_cast<uint8_t>(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
  }
}

StreamState::Check StreamState::transform(uint8_t* data, size_t n, Feedback feedback) {
  for (size_t x = 0; x < n; ++x) {
    ++i_;
    j_ = static_cast<uint8_t>(j_ + f_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    const uint8_t k = s_[static_cast<uint8_t>(s_[i_] + s_[j_])];
    const uint8_t in = data[x];
    data[x] = in ^ k;
    f_ = feedback == Feedback::Input ? in : data[x];
  }
  // Remix pass.
  j_ = static_cast<uint8_t>(j_ + f_);
  for (int t = 0; t < 256; ++t) {
    j_ = static_cast<uint8_t>(j_ + s_[t]);
    std::swap(s_[t], s_[j_]);
  }
  Check check;
  for (int t = 1; t <= 10; ++t) {
    const uint8_t at = static_cast<uint8_t>(i_ + t);
    j_ = static_cast<uint8_t>(j_ + s_[at]);
    std::swap(s_[at], s_[j_]);
    check[t - 1] = s_[static_cast<uint8_t>(s_[at] + s_[j_])];
  }
  i_ = static_cast<uint8_t>(i_ + 10);
  return check;
}

StreamState::Check StreamState::encrypt(uint8_t* data, size_t n) {
  return transform(data, n, Feedback::Input);
}

bool StreamState::decrypt(uint8_t* data, size_t n, std::span<const uint8_t, kCheckLength> check) {
  Check own = transform(data, n, Feedback::Output);
  return constantTimeEqual(own, check);
}

std::array<uint8_t, StreamState::kSavedLength> StreamState::save() const {
  std::array<uint8_t, kSavedLength> out;
  std::copy(s_, s_ + 256, out.begin());
  out[256] = i_;
  out[257] = j_;
  out[258] = f_;
  return out;
}

StreamState StreamState::restore(std::span<const uint8_t, kSavedLength> saved) {
  StreamState state;
  std::copy(saved.begin(), saved.begin() + 256, state.s_);
  state.i_ = saved[256];
  state.j_ = saved[257];
  state.f_ = saved[258];
  return state;
}

} // namespace kestel
