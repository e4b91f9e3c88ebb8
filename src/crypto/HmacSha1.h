// HMAC-SHA-1 (RFC 2104) for per-frame tags: the SHA-1 states after the inner and outer padded
// key blocks are computed once, so a tag costs the message blocks plus two final blocks, with
// no allocation and no virtual calls. Gives the same tags as Hmac over Sha1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestel {

class HmacSha1 {
public:
  static constexpr size_t kTagLength = 20;

  // Keys the MAC with a key of any length (longer than 64 bytes: its SHA-1 digest, as usual).
  explicit HmacSha1(std::span<const uint8_t> key);
  ~HmacSha1();
  HmacSha1(const HmacSha1&) = delete;
  HmacSha1& operator=(const HmacSha1&) = delete;

  // Writes the 20-byte tag of n bytes of data.
  void tag(const uint8_t* data, size_t n, uint8_t* out) const;

  // The same in steps, for callers that feed the whole 64-byte blocks of the message to the
  // SHA-1 state themselves: the inner state to start from, then the tag from the state, the
  // rest of the message after those blocks (under 64 bytes) and the whole message length n.
  void startTag(uint32_t state[5]) const;
  void finishTag(uint32_t state[5], const uint8_t* rest, size_t restLength, size_t n,
                 uint8_t* out) const;

private:
  uint32_t inner_[5];
  uint32_t outer_[5];
};

} // namespace kestel
