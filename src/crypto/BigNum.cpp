#include "crypto/BigNum.h"

#include <algorithm>
#include <vector>

#include "crypto/Cpu.h"
#include "crypto/Secure.h"

namespace kestel {

namespace {

using u128 = unsigned __int128;
constexpr size_t kMaxWords = BigNum::kMaxLimbs / 2;

#if defined(__x86_64__)
// One word of t += a * b in the two carry chains: adcx adds the low half to t[j] (CF), adox adds
// the previous word's high half (OF); mulx and lea leave both flags alone.
#define KESTEL_MULX_WORD(offset)                                                                   \
  "mulxq " #offset "(%[a]), %[low], %[high]\n\t"                                                   \
  "adcxq " #offset "(%[t]), %[low]\n\t"                                                            \
  "adoxq %[carry], %[low]\n\t"                                                                     \
  "movq %[low], " #offset "(%[t])\n\t"                                                             \
  "movq %[high], %[carry]\n\t"

// t[0..n) += a[0..n) * b with the processor's mulx and adcx/adox; returns the carry out of the
// top word. The n % 4 single words go first, then groups of four; jrcxz counts without flags.
uint64_t multiplyAddMulx(uint64_t* t, const uint64_t* a, uint64_t b, size_t n) {
  uint64_t carry = 0, low, high, zero = 0, groups = n / 4, singles = n % 4;
  // clang-format off
  asm volatile("xorl %k[low], %k[low]\n\t" // clears CF and OF
               "movq %[singles], %%rcx\n\t"
               "1:\n\t"
               "jrcxz 2f\n\t"
               KESTEL_MULX_WORD(0)
               "leaq 8(%[a]), %[a]\n\t"
               "leaq 8(%[t]), %[t]\n\t"
               "leaq -1(%%rcx), %%rcx\n\t"
               "jmp 1b\n\t"
               "2:\n\t"
               "movq %[groups], %%rcx\n\t"
               "3:\n\t"
               "jrcxz 4f\n\t"
               KESTEL_MULX_WORD(0)
               KESTEL_MULX_WORD(8)
               KESTEL_MULX_WORD(16)
               KESTEL_MULX_WORD(24)
               "leaq 32(%[a]), %[a]\n\t"
               "leaq 32(%[t]), %[t]\n\t"
               "leaq -1(%%rcx), %%rcx\n\t"
               "jmp 3b\n\t"
               "4:\n\t"
               "adcxq %[zero], %[carry]\n\t"
               "adoxq %[zero], %[carry]"
               : [carry] "+&r"(carry), [low] "=&r"(low), [high] "=&r"(high), [t] "+&r"(t),
                 [a] "+&r"(a)
               : "d"(b), [zero] "r"(zero), [groups] "r"(groups), [singles] "r"(singles)
               : "rcx", "cc", "memory");
  // clang-format on
  return carry;
}
#undef KESTEL_MULX_WORD
#endif

// t[0..n) += a[0..n) * b; returns the carry out of the top word. mulx says whether the
// processor's instructions may be used (useMulxAdx(), asked once per exponentiation).
inline uint64_t multiplyAdd(uint64_t* __restrict t, const uint64_t* __restrict a, uint64_t b,
                            size_t n, bool mulx) {
#if defined(__x86_64__)
  if (mulx)
    return multiplyAddMulx(t, a, b, n);
#else
  (void)mulx;
#endif
  uint64_t carry = 0;
  for (size_t j = 0; j < n; ++j) {
    const u128 s = u128(a[j]) * b + t[j] + carry;
    t[j] = uint64_t(s);
    carry = uint64_t(s >> 64);
  }
  return carry;
}

// Montgomery arithmetic modulo an odd m of n 64-bit words, R = 2^(64 n). The 32-bit limbs of
// BigNum are paired into 64-bit words here, which quarters the number of word products.
// Products are formed in full and then reduced; squares form each cross product once.
class Montgomery {
public:
  Montgomery(const uint64_t* m, size_t n) : n_(n), mulx_(useMulxAdx()) {
    std::copy_n(m, n, m_);
    uint64_t inverse = 1; // m[0]^-1 mod 2^64 by Newton's iteration
    for (int i = 0; i < 6; ++i)
      inverse *= 2 - m[0] * inverse;
    minusInverse_ = 0 - inverse;
  }
  ~Montgomery() { secureWipe(m_, sizeof m_); }
  Montgomery(const Montgomery&) = delete;
  Montgomery& operator=(const Montgomery&) = delete;

  // r = a * b / R mod m for a * b < m R; r may alias a or b.
  void mul(uint64_t* r, const uint64_t* a, const uint64_t* b) const {
    uint64_t t[2 * kMaxWords];
    std::fill_n(t, n_, 0);
    for (size_t i = 0; i < n_; ++i)
      t[i + n_] = multiplyAdd(t + i, a, b[i], n_, mulx_);
    reduce(r, t);
  }

  // r = a^2 / R mod m for a < m; r may alias a.
  void sqr(uint64_t* r, const uint64_t* a) const {
    uint64_t t[2 * kMaxWords];
    std::fill_n(t, 2 * n_, 0);
    for (size_t i = 0; i + 1 < n_; ++i)
      t[i + n_] = multiplyAdd(t + 2 * i + 1, a + i + 1, a[i], n_ - 1 - i, mulx_);
    // Double the cross products and add the squares of the words.
    uint64_t shifted = 0, carry = 0;
    for (size_t i = 0; i < n_; ++i) {
      const u128 square = u128(a[i]) * a[i];
      const uint64_t lo = (t[2 * i] << 1) | shifted, hi = (t[2 * i + 1] << 1) | (t[2 * i] >> 63);
      shifted = t[2 * i + 1] >> 63;
      u128 s = u128(lo) + uint64_t(square) + carry;
      t[2 * i] = uint64_t(s);
      s = u128(hi) + uint64_t(square >> 64) + uint64_t(s >> 64);
      t[2 * i + 1] = uint64_t(s);
      carry = uint64_t(s >> 64);
    }
    reduce(r, t);
  }

  // r = 2 r + bit mod m, for r < m and a bit of 0 or 1.
  void doubleAdd(uint64_t* r, uint64_t bit) const {
    const uint64_t top = r[n_ - 1] >> 63;
    for (size_t j = n_; j-- > 1;)
      r[j] = (r[j] << 1) | (r[j - 1] >> 63);
    r[0] = (r[0] << 1) | bit;
    subtractIfNotBelow(r, r, top);
  }

  // r = R^2 mod m for m above 1. Starts from the highest power of two below m and doubles up to
  // R 2^s, with s the odd part of 64 n; Montgomery squarings then double the exponent to R^2.
  void rSquared(uint64_t* r) const {
    size_t bits = 64 * (n_ - 1);
    for (uint64_t top = m_[n_ - 1]; top; top >>= 1)
      ++bits;
    std::fill_n(r, n_, 0);
    r[(bits - 1) / 64] = uint64_t(1) << ((bits - 1) % 64);
    size_t odd = 64 * n_, squarings = 0;
    while (odd % 2 == 0) {
      odd /= 2;
      ++squarings;
    }
    for (size_t i = bits - 1; i < 64 * n_ + odd; ++i)
      doubleAdd(r, 0);
    for (size_t i = 0; i < squarings; ++i)
      sqr(r, r);
  }

  // r = x mod m for 32-bit limbs x of any length, one bit at a time (public inputs only).
  void reduceSlowly(uint64_t* r, const uint32_t* x, size_t count) const {
    std::fill_n(r, n_, 0);
    for (size_t i = count * 32; i-- > 0;)
      doubleAdd(r, (x[i / 32] >> (i % 32)) & 1);
  }

private:
  // r = t / R mod m for the 2n words of t below m R; t is wiped.
  void reduce(uint64_t* r, uint64_t* t) const {
    uint64_t top = 0;
    for (size_t i = 0; i < n_; ++i) {
      const uint64_t carry = multiplyAdd(t + i, m_, t[i] * minusInverse_, n_, mulx_);
      const u128 s = u128(t[i + n_]) + carry + top;
      t[i + n_] = uint64_t(s);
      top = uint64_t(s >> 64);
    }
    subtractIfNotBelow(r, t + n_, top);
    secureWipe(t, 2 * n_ * sizeof *t);
  }

  // r = x - m when (high, x) >= m, else x; no branch on the values. r may alias x.
  void subtractIfNotBelow(uint64_t* r, const uint64_t* x, uint64_t high) const {
    uint64_t diff[kMaxWords];
    uint64_t borrow = 0;
    for (size_t j = 0; j < n_; ++j) {
      const u128 d = u128(x[j]) - m_[j] - borrow;
      diff[j] = uint64_t(d);
      borrow = uint64_t(d >> 64) & 1;
    }
    // Keep x only when the subtraction borrowed past the high word.
    const uint64_t keep = 0 - uint64_t(borrow > high);
    for (size_t j = 0; j < n_; ++j)
      r[j] = (x[j] & keep) | (diff[j] & ~keep);
    secureWipe(diff, n_ * sizeof *diff);
  }

  uint64_t m_[kMaxWords];
  size_t n_;
  bool mulx_;
  uint64_t minusInverse_;
};

// Pairs 32-bit limbs into n 64-bit words.
void toWords(uint64_t* out, const uint32_t* limbs, size_t count, size_t n) {
  std::fill_n(out, n, 0);
  for (size_t i = 0; i < count; ++i)
    out[i / 2] |= uint64_t(limbs[i]) << (32 * (i % 2));
}

// The 5 exponent bits from bit position `at` up (bits above the top read as zero).
uint32_t windowAt(const uint32_t* limbs, size_t used, size_t at) {
  const uint64_t low = limbs[at / 32];
  const uint64_t high = at / 32 + 1 < used ? limbs[at / 32 + 1] : 0;
  return static_cast<uint32_t>(((high << 32 | low) >> (at % 32)) & 31);
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
  if (m.used_ == 1 && m.limbs_[0] == 1) {
    result = BigNum(); // everything is 0 modulo 1
    return 0;
  }
  constexpr size_t kWindow = 5, kEntries = size_t(1) << kWindow;
  const size_t n = (m.used_ + 1) / 2;
  uint64_t words[kMaxWords];
  toWords(words, m.limbs_, m.used_, n);
  const Montgomery mont(words, n);
  secureWipe(words, sizeof words);

  // Numbers of n words each, wiped at the end: R^2, the base and the accumulator, then the
  // table of g^w R for every window value w.
  std::vector<uint64_t, WipingAllocator<uint64_t>> store((3 + kEntries) * n, 0);
  uint64_t *r2 = store.data(), *base = r2 + n, *acc = base + n, *table = acc + n;
  mont.rSquared(r2);
  if (g.used_ <= 2 * n) {
    toWords(base, g.limbs_, g.used_, n);
    mont.mul(base, base, r2); // g R mod m; any g below R will do
  } else {
    mont.reduceSlowly(base, g.limbs_, g.used_);
    mont.mul(base, base, r2);
  }
  acc[0] = 1;
  mont.mul(table, acc, r2); // R mod m, i.e. 1
  std::copy_n(base, n, table + n);
  for (size_t w = 2; w < kEntries; ++w) {
    if (w % 2 == 0)
      mont.sqr(table + w * n, table + w / 2 * n);
    else
      mont.mul(table + w * n, table + (w - 1) * n, base);
  }

  // Windows from the top; reading every table entry keeps the window value out of the memory
  // access pattern, and the sequence of operations depends only on the exponent's length.
  auto select = [&](uint64_t* into, uint32_t bits) {
    std::fill_n(into, n, 0);
    for (uint32_t w = 0; w < kEntries; ++w) {
      const uint64_t mask = 0 - uint64_t(w == bits);
      for (size_t j = 0; j < n; ++j)
        into[j] |= table[w * n + j] & mask;
    }
  };
  const size_t windows = (e.used_ * 32 + kWindow - 1) / kWindow;
  select(acc, windows ? windowAt(e.limbs_, e.used_, (windows - 1) * kWindow) : 0);
  uint64_t* picked = base; // the base itself is not needed any more
  for (size_t window = windows; window-- > 1;) {
    for (size_t s = 0; s < kWindow; ++s)
      mont.sqr(acc, acc);
    select(picked, windowAt(e.limbs_, e.used_, (window - 1) * kWindow));
    mont.mul(acc, acc, picked);
  }
  std::fill_n(r2, n, 0);
  r2[0] = 1;
  mont.mul(acc, acc, r2); // leave Montgomery form
  std::fill(result.limbs_, result.limbs_ + BigNum::kMaxLimbs, 0);
  for (size_t i = 0; i < 2 * n; ++i)
    result.limbs_[i] = static_cast<uint32_t>(acc[i / 2] >> (32 * (i % 2)));
  result.used_ = 2 * n;
  result.trim();
  return 0;
}

} // namespace kestel
