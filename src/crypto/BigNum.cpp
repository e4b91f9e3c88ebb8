#include "crypto/BigNum.h"

#include <algorithm>
#include <vector>

#include "crypto/Secure.h"

namespace kestel {

namespace {

using u128 = unsigned __int128;
using Words = std::vector<uint64_t, WipingAllocator<uint64_t>>;

// Montgomery arithmetic modulo an odd m of n 64-bit words, R = 2^(64 n). The 32-bit limbs of
// BigNum are paired into 64-bit words here, which halves the number of word products.
class Montgomery {
public:
  explicit Montgomery(const Words& m) : m_(m), n_(m.size()), t_(m.size() + 2) {
    uint64_t inverse = 1; // m[0]^-1 mod 2^64 by Newton's iteration
    for (int i = 0; i < 6; ++i)
      inverse *= 2 - m[0] * inverse;
    minusInverse_ = 0 - inverse;
  }

  // r = a * b / R mod m for a, b < m; r may alias a or b.
  void mul(uint64_t* r, const uint64_t* a, const uint64_t* b) {
    std::fill(t_.begin(), t_.end(), 0);
    for (size_t i = 0; i < n_; ++i) {
      uint64_t carry = 0;
      for (size_t j = 0; j < n_; ++j) {
        u128 s = u128(t_[j]) + u128(a[j]) * b[i] + carry;
        t_[j] = uint64_t(s);
        carry = uint64_t(s >> 64);
      }
      u128 s = u128(t_[n_]) + carry;
      t_[n_] = uint64_t(s);
      t_[n_ + 1] = uint64_t(s >> 64);
      const uint64_t u = t_[0] * minusInverse_;
      carry = uint64_t((u128(t_[0]) + u128(u) * m_[0]) >> 64);
      for (size_t j = 1; j < n_; ++j) {
        s = u128(t_[j]) + u128(u) * m_[j] + carry;
        t_[j - 1] = uint64_t(s);
        carry = uint64_t(s >> 64);
      }
      s = u128(t_[n_]) + carry;
      t_[n_ - 1] = uint64_t(s);
      t_[n_] = t_[n_ + 1] + uint64_t(s >> 64);
    }
    subtractIfNotBelow(r, t_.data(), t_[n_]);
  }

  // r = x mod m for 32-bit limbs x of any length, one bit at a time (public inputs only).
  void reduce(uint64_t* r, const uint32_t* x, size_t count) {
    std::fill(r, r + n_, 0);
    for (size_t i = count * 32; i-- > 0;)
      doubleAdd(r, (x[i / 32] >> (i % 32)) & 1);
  }

  // r = R^k mod m.
  void powerOfR(uint64_t* r, size_t k) {
    std::fill(r, r + n_, 0);
    r[0] = 1;
    for (size_t i = 0; i < 64 * n_ * k; ++i)
      doubleAdd(r, 0);
  }

private:
  // r = 2 r + bit mod m, for r < m.
  void doubleAdd(uint64_t* r, uint64_t bit) {
    uint64_t top = r[n_ - 1] >> 63;
    for (size_t j = n_; j-- > 1;)
      r[j] = (r[j] << 1) | (r[j - 1] >> 63);
    r[0] = (r[0] << 1) | bit;
    subtractIfNotBelow(r, r, top);
  }

  // r = x - m when (high, x) >= m, else x; no branch on the values.
  void subtractIfNotBelow(uint64_t* r, const uint64_t* x, uint64_t high) {
    uint64_t diff[BigNum::kMaxLimbs / 2];
    uint64_t borrow = 0;
    for (size_t j = 0; j < n_; ++j) {
      u128 d = u128(x[j]) - m_[j] - borrow;
      diff[j] = uint64_t(d);
      borrow = uint64_t(d >> 64) & 1;
    }
    // Keep x only when the subtraction borrowed past the high word.
    const uint64_t keep = 0 - uint64_t(borrow > high);
    for (size_t j = 0; j < n_; ++j)
      r[j] = (x[j] & keep) | (diff[j] & ~keep);
    secureWipe(diff, sizeof diff);
  }

  Words m_;
  size_t n_;
  Words t_;
  uint64_t minusInverse_;
};

// Pairs 32-bit limbs into n 64-bit words.
Words toWords(const uint32_t* limbs, size_t count, size_t n) {
  Words out(n, 0);
  for (size_t i = 0; i < count; ++i)
    out[i / 2] |= uint64_t(limbs[i]) << (32 * (i % 2));
  return out;
}

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
  const size_t n = (m.used_ + 1) / 2;
  Montgomery mont(toWords(m.limbs_, m.used_, n));
  Words r2(n), one(n, 0), acc(n), base(n), selected(n);
  Words table(16 * n);
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
      const uint64_t mask = 0 - uint64_t(w == bits);
      for (size_t j = 0; j < n; ++j)
        selected[j] |= table[w * n + j] & mask;
    }
    mont.mul(acc.data(), acc.data(), selected.data());
  }
  mont.mul(acc.data(), acc.data(), one.data()); // leave Montgomery form
  std::fill(result.limbs_, result.limbs_ + BigNum::kMaxLimbs, 0);
  for (size_t i = 0; i < 2 * n; ++i)
    result.limbs_[i] = static_cast<uint32_t>(acc[i / 2] >> (32 * (i % 2)));
  result.used_ = 2 * n;
  result.trim();
  return 0;
}

} // namespace kestel
