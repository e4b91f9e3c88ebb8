#include "util/FixedText.h"

namespace kestel {

FixedText& FixedText::add(const char* text) {
  if (!text)
    return *this;
  while (*text)
    add(*text++);
  return *this;
}

FixedText& FixedText::add(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    add(text[i]);
  return *this;
}

FixedText& FixedText::add(char c) {
  if (size_ < capacity_)
    data_[size_++] = c;
  else
    truncated_ = true;
  return *this;
}

FixedText& FixedText::hex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  if (digits > 16)
    digits = 16;
  for (int i = digits - 1; i >= 0; --i)
    add(kDigits[(value >> (4 * i)) & 0xF]);
  return *this;
}

FixedText& FixedText::hex(uint64_t value) {
  int digits = 1;
  while (digits < 16 && (value >> (4 * digits)) != 0)
    ++digits;
  return add("0x").hex(value, digits);
}

FixedText& FixedText::decimal(uint64_t value) {
  char reversed[20];
  int n = 0;
  do {
    reversed[n++] = char('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0)
    add(reversed[--n]);
  return *this;
}

FixedText& FixedText::signedDecimal(int64_t value) {
  if (value >= 0)
    return decimal(uint64_t(value));
  add('-');
  return decimal(uint64_t(0) - uint64_t(value));
}

} // namespace kestel
