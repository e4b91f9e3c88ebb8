// Hexadecimal text to bytes and back, for expected values written in the tests and the vector file.
#pragma once

#include "util/Bytes.h"

#include <string>

namespace kestel::test {

// Decodes pairs of hexadecimal digits (either case). Throws std::invalid_argument on an odd
// length or a byte that is not a digit, so that a mistyped expected value fails its test loudly.
Bytes fromHex(const std::string& hex);

// Lower-case hexadecimal, two digits per byte.
std::string toHex(ByteSpan bytes);
template <typename Range> std::string toHex(const Range& bytes) {
  return toHex(ByteSpan(bytes.data(), bytes.size()));
}

} // namespace kestel::test
