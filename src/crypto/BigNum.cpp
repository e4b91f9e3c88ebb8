#include "crypto/BigNum.h"

#include <algorithm>
#include <vector>

#include "crypto/Secure.h"

namespace kestel {

namespace {

using Limbs = std::vector<uint32_t, WipingAllocator<uint32_t>>;

// Montgomery arithmetic modulo an odd m of n limbs, R = 2^(32 n).
class Montgomery {
public:
  Montgomery(const uint32_t* m, size_t n) : m_(m, m + n), n_(n), t_(n + 2) {
    uint32_t inverse = 1; // m[0]^-1 mod 2^32 by Newton's iteration
    for (int i = 0; i < 5; ++i)
      inverse *= 2 - m[0] * inverse;
    minusInverse_ = 0 - inverse;
  }

  // r = a * b / R mod m for a, b < m; r may alias a or b.
  void mul(uint32_t* r, const uint32_t* a, const uint32_t* b) {
    std::fill(t_.begin(), t_.end(), 0);
    for (size_t i = 0; i < n_; ++i) {
      uint64_t carry = 0;
      for (size_t j = 0; j < n_; ++j) {
        uint64_t s = uint64_t(t_[j]) + uint64_t(a[j]) * b[i] + carry;
        t_[j] = uint32_t(s);
        carry = s >> 32;
      }
      uint64_t s = uint64_t(t_[n_]) + carry;
      t_[n_] = uint32_t(s);
      t_[n_ + 1] = uint32_t(s >> 32);
      const uint32_t u = t_[0] * minusInverse_;
      carry = (uint64_t(t_[0]) + uint64_t(u) * m_[0]) >> 32;
      for (size_t j = 1; j < n_; ++j) {
        s = uint64_t(t_[j]) + uint64_t(u) * m_[j] + carry;
        t_[j - 1] = uint32_t(s);
        carry = s >> 32;
      }
      s = uint64_t(t_[n_]) + carry;
      t_[n_ - 1] = uint32_t(s);
      t_[n_] = t_[n_ + 1] + uint32_t(s >> 32);
    }
    subtractIfNotBelow(r, t_.data(), t_[n_]);
  }

  // r = x mod m for a little-endian x of any length, one bit at a time (public inputs only).
  void reduce(uint32_t* r, const uint32_t* x, size_t count) {
    std::fill(r, r + n_, 0);
    for (size_t i = count * 32; i-- > 0;)
      doubleAdd(r, (x[i / 32] >> (i % 32)) & 1);
  }

  // r = 2^(32 n k) mod m.
  void powerOfR(uint32_t* r, size_t k) {
    std::fill(r, r + n_, 0);
    r[0] = 1;
    for (size_t i = 0; i < 32 * n_ * k; ++i)
      doubleAdd(r, 0);
  }

  size_t size() const { return n_; }

private:
  // r = 2 r + bit mod m, for r < m.
  void doubleAdd(uint32_t* r, uint32_t bit) {
    uint32_t top = r[n_ - 1] >> 31;
    for (size_t j = n_; j-- > 1;)
      r[j] = (r[j] << 1) | (r[j - 1] >> 31);
    r[0] = (r[0] << 1) | bit;
    subtractIfNotBelow(r, r, top);
  }

  // r = x - m when (high, x) >= m, else x; no branch on the values.
  void subtractIfNotBelow(uint32_t* r, const uint32_t* x, uint32_t high) {
    uint32_t diff[BigNum::kMaxLimbs];
    uint64_t borrow = 0;
    for (size_t j = 0; j < n_; ++j) {
      uint64_t d = uint64_t(x[j]) - m_[j] - borrow;
      diff[j] = uint32_t(d);
      borrow = (d >> 32) & 1;
    }
    // Keep x only when the subtraction borrowed past the high word.
    const uint32_t keep = 0 - uint32_t(borrow > high);
    for (size_t j = 0; j < n_; ++j)
      r[j] = (x[j] & keep) | (diff[j] & ~keep);
    secureWipe(diff, sizeof diff);
  }

  Limbs m_;
  size_t n_;
  Limbs t_;
  uint32_t minusInverse_;
};

} // namespace

BigNum::~BigNum() { secureWipe(limbs_, sizeof limbs_); }

BigNum BigNum::fromUint(uint32_t value) {
  BigNum n;
  n.limbs_[0] = value;
  n.used_ = 1;
  n.trim();
  return n;
}

void BigNum::trim() {
  while (used_ > 0 && limbs_[used_ - 1] == 0)
    --used_;
}

bool BigNum::load(std::span<const uint8_t> bytes) {
  size_t skip = 0;
  while (skip < bytes.size() && bytes[skip] == 0)
    ++skip;
  bytes = bytes.subspan(skip);
  if (bytes.size() > kMaxLimbs * 4)
    return false;
  std::fill(limbs_, limbs_ + kMaxLimbs, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    size_t fromEnd = bytes.size() - 1 - i;
    limbs_[fromEnd / 4] |= uint32_t(bytes[i]) << (8 * (fromEnd % 4));
  }
  used_ = (bytes.size() + 3) / 4;
  trim();
  return true;
}

bool BigNum::write(std::span<uint8_t, kFieldBytes> out) const {
  if (used_ * 4 > kFieldBytes) {
    // The top limb may have leading zero bytes; count the real length.
    size_t top = used_ - 1;
    size_t length = top * 4;
    for (uint32_t v = limbs_[top]; v; v >>= 8)
      ++length;
    if (length > kFieldBytes)
      return false;
  }
  for (size_t i = 0; i < kFieldBytes; ++i) {
    size_t fromEnd = kFieldBytes - 1 - i;
    out[i] = static_cast<uint8_t>(limb(fromEnd / 4) >> (8 * (fromEnd % 4)));
  }
  return true;
}

int modExp(BigNum& result, const BigNum& g, const BigNum& e, const BigNum& m) {
  if (m.used_ == 0)
    return 1;
  if ((m.limbs_[0] & 1) == 0)
    return 2;
  Montgomery mont(m.limbs_, m.used_);
  const size_t n = m.used_;
  Limbs r2(n), one(n, 0), acc(n), base(n), selected(n);
  Limbs table(16 * n);
  mont.powerOfR(r2.data(), 2);
  one[0] = 1;
  mont.reduce(base.data(), g.limbs_, g.used_);
  mont.mul(base.data(), base.data(), r2.data()); // g R mod m
  mont.mul(table.data(), one.data(), r2.data()); // R mod m, i.e. 1
  for (size_t w = 1; w < 16; ++w)
    mont.mul(table.data() + w * n, table.data() + (w - 1) * n, base.data());
  std::copy_n(table.data(), n, acc.data());
  for (size_t window = e.used_ * 8; window-- > 0;) {
    for (int s = 0; s < 4; ++s)
      mont.mul(acc.data(), acc.data(), acc.data());
    const uint32_t bits = (e.limbs_[window / 8] >> (4 * (window % 8))) & 0xF;
    // Read every table entry so that the memory access does not reveal the window.
    std::fill(selected.begin(), selected.end(), 0);
    for (uint32_t w = 0; w < 16; ++w) {
      const uint32_t mask = 0 - uint32_t(w == bits);
      for (size_t j = 0; j < n; ++j)
        selected[j] |= table[w * n + j] & mask;
    }
    mont.mul(acc.data(), acc.data(), selected.data());
  }
  mont.mul(acc.data(), acc.data(), one.data()); // leave Montgomery form
  std::fill(result.limbs_, result.limbs_ + BigNum::kMaxLimbs, 0);
  std::copy_n(acc.data(), n, result.limbs_);
  result.used_ = n;
  result.trim();
  return 0;
}

} // namespace kestel
