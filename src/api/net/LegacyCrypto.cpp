#include "api/net/LegacyCrypto.h"

#include "util/Assert.h"

#include <cstring>
#include <utility>
#include <vector>

namespace kestel::legacy {
namespace {

using u128 = unsigned __int128;
constexpr size_t kLimbs = kNumberLength / 8; // 31 limbs of 64 bits
using Limbs = std::array<uint64_t, kLimbs>;

constexpr uint8_t kModulus[kNumberLength] = {
    0xb7, 0xba, 0x22, 0x05, 0x82, 0xb4, 0x15, 0x18, 0xf8, 0x52, 0x6b, 0xfe, 0x0f, 0x62, 0x4d, 0xe9,
    0x26, 0x10, 0x6d, 0xfb, 0x4f, 0x71, 0x9d, 0xd9, 0x3b, 0xc4, 0x30, 0x9d, 0x49, 0x04, 0x5a, 0x41,
    0x75, 0xdb, 0x1c, 0x58, 0xc4, 0xd7, 0x84, 0x3d, 0x16, 0xe7, 0x66, 0x22, 0x68, 0x94, 0xb3, 0x17,
    0x93, 0xb1, 0x3e, 0x78, 0x9f, 0xfd, 0x2c, 0xf3, 0x33, 0x12, 0x67, 0x47, 0x60, 0x31, 0xb3, 0x0d,
    0x2f, 0x99, 0x52, 0x37, 0xf0, 0xb5, 0x9a, 0x33, 0xa4, 0xf9, 0x72, 0xfb, 0x1a, 0x61, 0x85, 0x56,
    0xef, 0x8f, 0x33, 0x2e, 0x7a, 0x3c, 0x36, 0x6b, 0x24, 0xfd, 0xb3, 0x9b, 0x42, 0xb0, 0x67, 0x0b,
    0x1f, 0x90, 0xa3, 0xd2, 0xe8, 0xc2, 0x2e, 0x78, 0xdd, 0xa5, 0x1a, 0x16, 0xb4, 0x6a, 0x8e, 0x69,
    0x3b, 0xb9, 0xae, 0xd2, 0x9e, 0x85, 0x09, 0x36, 0x1b, 0xd4, 0x38, 0xe7, 0x6b, 0x1c, 0x23, 0x5f,
    0xcd, 0xd1, 0x1e, 0x70, 0xa2, 0xb8, 0xc0, 0xea, 0x15, 0xa9, 0xdf, 0xea, 0x03, 0x27, 0x8f, 0x39,
    0xc1, 0x25, 0x20, 0xa0, 0xbc, 0x36, 0xf2, 0x16, 0x94, 0x54, 0x61, 0x54, 0xc8, 0x2e, 0x06, 0x5b,
    0x2e, 0xff, 0xd7, 0xdd, 0xeb, 0xd5, 0xc1, 0xe5, 0x88, 0xf9, 0x91, 0x6f, 0x87, 0xd8, 0x0e, 0x91,
    0x30, 0x3c, 0x94, 0x35, 0xa2, 0x0e, 0x91, 0xdd, 0x1c, 0x93, 0x60, 0xde, 0xf6, 0xa2, 0xb0, 0xd5,
    0x4f, 0xda, 0x44, 0x04, 0x9c, 0x0e, 0x8c, 0xc8, 0xa8, 0x04, 0x9c, 0xbb, 0x14, 0x32, 0xc6, 0xe3,
    0x22, 0xd6, 0x03, 0xf4, 0x1d, 0xaa, 0x60, 0x02, 0x8c, 0x40, 0xd7, 0x8a, 0x86, 0x53, 0xf6, 0x59,
    0xc4, 0xff, 0xc3, 0xf5, 0xd8, 0xa4, 0xe0, 0x1a, 0x5c, 0x08, 0xe4, 0xb0, 0x4b, 0x52, 0x38, 0x8e,
    0x9e, 0xf4, 0xa5, 0xe2, 0x45, 0x69, 0xd1, 0x5f};

Limbs load(const uint8_t* bytes) {
  Limbs out{};
  for (size_t i = 0; i < kNumberLength; ++i)
    out[(kNumberLength - 1 - i) / 8] |= uint64_t(bytes[i]) << (8 * ((kNumberLength - 1 - i) % 8));
  return out;
}

Number store(const Limbs& limbs) {
  Number out{};
  for (size_t i = 0; i < kNumberLength; ++i)
    out[i] = uint8_t(limbs[(kNumberLength - 1 - i) / 8] >> (8 * ((kNumberLength - 1 - i) % 8)));
  return out;
}

// a >= b
bool notBelow(const Limbs& a, const Limbs& b) {
  for (size_t i = kLimbs; i-- > 0;)
    if (a[i] != b[i])
      return a[i] > b[i];
  return true;
}

// a -= b, returning the borrow.
uint64_t subtract(Limbs& a, const Limbs& b) {
  uint64_t borrow = 0;
  for (size_t i = 0; i < kLimbs; ++i) {
    u128 d = u128(a[i]) - b[i] - borrow;
    a[i] = uint64_t(d);
    borrow = uint64_t(d >> 64) & 1;
  }
  return borrow;
}

struct Montgomery {
  Limbs m;
  uint64_t mInv; // -m^-1 mod 2^64
  Limbs r2;      // R^2 mod m, R = 2^1984
  Limbs one;     // R mod m

  Montgomery() : m(load(kModulus)) {
    uint64_t inv = 1;
    for (int i = 0; i < 6; ++i)
      inv *= 2 - m[0] * inv;
    mInv = uint64_t(0) - inv;
    Limbs x{};
    x[0] = 1;
    for (size_t bit = 0; bit < 2 * 64 * kLimbs; ++bit) {
      if (bit == 64 * kLimbs)
        one = x;
      uint64_t carry = 0;
      for (size_t i = 0; i < kLimbs; ++i) {
        uint64_t next = x[i] >> 63;
        x[i] = (x[i] << 1) | carry;
        carry = next;
      }
      if (carry || notBelow(x, m))
        subtract(x, m);
    }
    r2 = x;
  }

  // a * b / R mod m (CIOS); a * b must be below m * R.
  Limbs multiply(const Limbs& a, const Limbs& b) const {
    std::array<uint64_t, kLimbs + 2> t{};
    for (size_t i = 0; i < kLimbs; ++i) {
      uint64_t carry = 0;
      for (size_t j = 0; j < kLimbs; ++j) {
        u128 v = u128(a[j]) * b[i] + t[j] + carry;
        t[j] = uint64_t(v);
        carry = uint64_t(v >> 64);
      }
      u128 v = u128(t[kLimbs]) + carry;
      t[kLimbs] = uint64_t(v);
      t[kLimbs + 1] = uint64_t(v >> 64);
      uint64_t q = t[0] * mInv;
      v = u128(q) * m[0] + t[0];
      carry = uint64_t(v >> 64);
      for (size_t j = 1; j < kLimbs; ++j) {
        v = u128(q) * m[j] + t[j] + carry;
        t[j - 1] = uint64_t(v);
        carry = uint64_t(v >> 64);
      }
      v = u128(t[kLimbs]) + carry;
      t[kLimbs - 1] = uint64_t(v);
      t[kLimbs] = t[kLimbs + 1] + uint64_t(v >> 64);
    }
    Limbs out;
    std::memcpy(out.data(), t.data(), sizeof out);
    if (t[kLimbs] || notBelow(out, m))
      subtract(out, m);
    return out;
  }
};

const Montgomery& group() {
  static const Montgomery g;
  return g;
}

Number powerLimbs(const Limbs& base, const Number& e) {
  const Montgomery& g = group();
  // Fixed 4-bit window: base^0 .. base^15 in Montgomery form, reduced below m.
  std::array<Limbs, 16> table;
  table[0] = g.one;
  table[1] = g.multiply(base, g.r2);
  for (size_t k = 2; k < table.size(); ++k)
    table[k] = g.multiply(table[k - 1], table[1]);
  Limbs acc = g.one;
  for (size_t byte = 0; byte < kNumberLength; ++byte)
    for (int shift = 4; shift >= 0; shift -= 4) {
      for (int k = 0; k < 4; ++k)
        acc = g.multiply(acc, acc);
      acc = g.multiply(acc, table[(e[byte] >> shift) & 15]);
    }
  Limbs unit{};
  unit[0] = 1;
  Limbs out = g.multiply(acc, unit);
  secureWipe(acc.data(), sizeof acc);
  return store(out);
}

} // namespace

Number powerOfGenerator(const Number& e) {
  Limbs five{};
  five[0] = 5;
  return powerLimbs(five, e);
}

Number power(const Number& y, const Number& e) { return powerLimbs(load(y.data()), e); }

bool usablePeerValue(const Number& y) {
  Limbs v = load(y.data());
  Limbs two{};
  two[0] = 2;
  Limbs top = group().m; // m - 1
  top[0] -= 1;           // m is odd: no borrow
  return notBelow(v, two) && !notBelow(v, top);
}

std::array<uint8_t, 256> StreamState::keySchedule(ByteSpan key, uint8_t* finalJ) {
  KESTEL_ASSERT(!key.empty(), "api/net/LegacyCrypto");
  std::array<uint8_t, 256> s;
  for (int x = 0; x < 256; ++x)
    s[x] = uint8_t(x);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = uint8_t(j + s[i] + key[size_t(i) % key.size()]);
    std::swap(s[i], s[j]);
  }
  if (finalJ)
    *finalJ = j;
  return s;
}

StreamState::StreamState(ByteSpan key) {
  uint8_t j = 0;
  auto s = keySchedule(key, &j);
  std::memcpy(s_, s.data(), 256);
  secureWipe(s.data(), s.size());
  uint8_t i = 0; // j carries over from the schedule
  for (int round = 0; round < 3072; ++round) {
    i = uint8_t(i + 1);
    j = uint8_t(j + s_[i]);
    std::swap(s_[i], s_[j]);
  }
  i_ = i;
  j_ = j;
  f_ = 0;
}

void StreamState::transform(uint8_t* data, size_t n, bool sending, uint8_t check[kCheckLength]) {
  for (size_t k = 0; k < n; ++k) {
    i_ = uint8_t(i_ + 1);
    j_ = uint8_t(j_ + f_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    uint8_t key = s_[uint8_t(s_[i_] + s_[j_])];
    uint8_t in = data[k];
    data[k] = uint8_t(in ^ key);
    f_ = sending ? in : data[k];
  }
  j_ = uint8_t(j_ + f_);
  for (int t = 0; t < 256; ++t) {
    j_ = uint8_t(j_ + s_[t]);
    std::swap(s_[t], s_[j_]);
  }
  for (int t = 1; t <= int(kCheckLength); ++t) {
    uint8_t at = uint8_t(i_ + t);
    j_ = uint8_t(j_ + s_[at]);
    std::swap(s_[at], s_[j_]);
    check[t - 1] = s_[uint8_t(s_[at] + s_[j_])];
  }
  i_ = uint8_t(i_ + kCheckLength);
}

Bytes StreamState::save() const {
  Bytes out(s_, s_ + 256);
  out.push_back(i_);
  out.push_back(j_);
  out.push_back(f_);
  return out;
}

bool StreamState::restore(ByteSpan bytes) {
  if (bytes.size() != kStateLength)
    return false;
  std::memcpy(s_, bytes.data(), 256);
  i_ = bytes[256];
  j_ = bytes[257];
  f_ = bytes[258];
  return true;
}

} // namespace kestel::legacy
