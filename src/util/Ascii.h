// Character tests on ASCII bytes, independent of the C locale.
#pragma once

namespace kestel {

// The value of a hexadecimal digit (either case), or -1 for any other byte.
constexpr int hexDigitValue(unsigned char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

} // namespace kestel
