// One direction of the secure session's frame protection: HMAC-SHA-1 over the plaintext, then
// padding, then AES-128-CBC under a chaining vector set from each frame. The tag covers the
// plaintext only; the frame around the protected bytes (length, vector) belongs to the session.
//
// Protected bytes of an n-byte plaintext P: P, HMAC-SHA-1(P) (20 bytes), then p bytes of value
// p - 1 with p = 16 - ((n + 20) mod 16), so 1 <= p <= 16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/Aes.h"
#include "crypto/HmacSha1.h"

namespace kestel {

class SessionCipher {
public:
  static constexpr size_t kKeyLength = 36; // 16 bytes AES key, then 20 bytes HMAC key
  static constexpr size_t kVectorLength = 16;
  static constexpr size_t kTagLength = 20;
  static constexpr uint32_t kFailed = 0xFFFFFFFF;

  // Keys the cipher from 36 bytes of key material (asserts the length).
  explicit SessionCipher(std::span<const uint8_t> key);
  ~SessionCipher();
  SessionCipher(const SessionCipher&) = delete;
  SessionCipher& operator=(const SessionCipher&) = delete;

  // Length of the protected bytes for an n-byte plaintext: n + 20 + p.
  static size_t encryptedLength(size_t n);

  // Sets the chaining vector for the next encrypt or decrypt (16 bytes).
  void setVector(std::span<const uint8_t, kVectorLength> vector);

  // Writes the encryptedLength(n) protected bytes of plain into out; cannot fail. plain and out
  // may be the same buffer (which then holds encryptedLength(n) bytes).
  void encrypt(const uint8_t* plain, size_t n, uint8_t* out);

  // Decrypts m protected bytes into out (room for m bytes; the same buffer as the input or not
  // overlapping it) and returns the plaintext length, or
  // kFailed when m is not a positive multiple of 16 of at least 32, the tag differs or the
  // padding is malformed. On failure out is wiped.
  [[nodiscard]] uint32_t decrypt(const uint8_t* protectedBytes, size_t m, uint8_t* out);

private:
  Aes128 aes_;
  HmacSha1 mac_;
  uint8_t vector_[kVectorLength] = {};
};

} // namespace kestel
