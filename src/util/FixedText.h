// Text built into a buffer the caller owns, without allocating, locking or touching errno: safe
// inside a signal handler. Appends past the end are cut off and remembered, never written
// beyond the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestel {

class FixedText {
public:
  FixedText(char* buffer, size_t capacity) : data_(buffer), capacity_(capacity) {}

  // A NUL-terminated text; a null pointer appends nothing.
  FixedText& add(const char* text);
  FixedText& add(const char* text, size_t length);
  FixedText& add(char c);
  // `digits` lower-case hexadecimal digits, zero-padded, without "0x" (16 at most).
  FixedText& hex(uint64_t value, int digits);
  // Lower-case hexadecimal with "0x" and no padding.
  FixedText& hex(uint64_t value);
  FixedText& decimal(uint64_t value);
  // `value` with a '-' when negative.
  FixedText& signedDecimal(int64_t value);

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  // True when some append did not fit.
  bool truncated() const { return truncated_; }
  void clear() {
    size_ = 0;
    truncated_ = false;
  }

private:
  char* data_;
  size_t capacity_;
  size_t size_ = 0;
  bool truncated_ = false;
};

} // namespace kestel
