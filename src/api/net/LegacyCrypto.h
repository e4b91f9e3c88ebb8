// The arithmetic of the legacy login: Diffie-Hellman over the fixed 1984-bit group (g = 5) with
// numbers written as exactly 248 bytes, most significant first, and the stream state that
// protects legacy frames (an RC4 key schedule, 3072 discarded rounds, plaintext feedback, a remix
// pass and ten check bytes per message).
//
// FIXME: the crypto layer's big numbers and stream state were not available when the legacy
// session was written; this is the minimal piece it needs. Move it there when they land.
#pragma once

#include "crypto/Secure.h"
#include "util/Bytes.h"

#include <array>
#include <cstdint>
#include <optional>

namespace kestel::legacy {

inline constexpr size_t kNumberLength = 248;
inline constexpr size_t kCheckLength = 10;
inline constexpr size_t kStateLength = 259; // permutation, i, j, f

using Number = std::array<uint8_t, kNumberLength>;

// g^e mod m for the fixed group, e given as 248 bytes (most significant first).
Number powerOfGenerator(const Number& e);
// y^e mod m; y may be any 248-byte value (it is reduced first).
Number power(const Number& y, const Number& e);
// True when y, as a number, lies in [2, m - 2]: other values give a shared secret the peer
// could predict.
bool usablePeerValue(const Number& y);

class StreamState {
public:
  StreamState() = default;
  // Keys the state from `key` (at least one byte): the RC4 key schedule, then 3072 rounds with
  // no output, j carried over.
  explicit StreamState(ByteSpan key);
  ~StreamState() { secureWipe(s_, sizeof s_); }

  // Transforms n bytes in place; `sending` feeds the plaintext back (the input when sending, the
  // output when receiving). Writes the ten check bytes of the message.
  void transform(uint8_t* data, size_t n, bool sending, uint8_t check[kCheckLength]);

  // The permutation followed by i, j and f; and back (false unless exactly 259 bytes).
  Bytes save() const;
  [[nodiscard]] bool restore(ByteSpan bytes);

  // The permutation after the key schedule alone (the RC4 key schedule), and its final j.
  static std::array<uint8_t, 256> keySchedule(ByteSpan key, uint8_t* finalJ = nullptr);

private:
  uint8_t s_[256] = {};
  uint8_t i_ = 0, j_ = 0, f_ = 0;
};

} // namespace kestel::legacy
