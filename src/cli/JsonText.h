// A text as a JSON string literal, for the command line's --json outputs: quotes and
// backslashes escaped, control characters as \u00XX; other bytes pass unchanged.
#pragma once

#include <cstdio>
#include <string>

namespace kestel {

inline std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

} // namespace kestel
