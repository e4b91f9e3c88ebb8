// The legacy session's stream transform: an RC4-derived state (a permutation S, indexes i and j,
// and a feedback byte f) that encrypts or decrypts one message at a time, stirs itself after
// each message and yields ten check bytes that the receiver compares with the sender's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestel {

class StreamState {
public:
  static constexpr size_t kCheckLength = 10;
  static constexpr size_t kSavedLength = 259; // S, then i, j, f
  using Check = std::array<uint8_t, kCheckLength>;

  // An unkeyed state (identity permutation, all indexes zero).
  StreamState();
  ~StreamState();
  StreamState(const StreamState&) = default;
  StreamState& operator=(const StreamState&) = default;

  // Keys the state: the RC4 key schedule, then 3072 silent steps with j kept from the
  // schedule. Asserts a non-empty key.
  void key(std::span<const uint8_t> key);

  // The RC4 key schedule alone (i = 0, j as the schedule left it, f = 0); for checking the
  // keying against RC4.
  static StreamState afterKeySchedule(std::span<const uint8_t> key);

  // Encrypts n bytes in place and returns the check bytes of this message.
  Check encrypt(uint8_t* data, size_t n);

  // Decrypts n bytes in place and tells whether the check bytes match the sender's, compared in
  // constant time. The state moves on either way, as it does on the sender's side.
  [[nodiscard]] bool decrypt(uint8_t* data, size_t n, std::span<const uint8_t, kCheckLength> check);

  // The raw state for hand-over, and a state restored from it.
  std::array<uint8_t, kSavedLength> save() const;
  static StreamState restore(std::span<const uint8_t, kSavedLength> saved);

private:
  enum class Feedback { Input, Output };
  void scheduleKey(std::span<const uint8_t> key);
  Check transform(uint8_t* data, size_t n, Feedback feedback);

  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
  uint8_t f_ = 0;
};

} // namespace kestel
