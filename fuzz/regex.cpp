// Patterns come from the router's descriptors: compile arbitrary bytes, and when they compile,
// match the rest of the input with every matcher, which must agree. Input: one length byte,
// the pattern, the subject.
#include "api/regex/Regex.h"
#include "api/regex/RegexMatcher.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t patternSize = data[0] < size - 1 ? data[0] : size - 1;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view pattern = input.substr(0, patternSize);
  const std::string_view subject = input.substr(patternSize);

  kestel::Regex re;
  kestel::RegexError error;
  if (!kestel::compile(re, pattern, &error)) {
    if (error.text.empty() || error.position > pattern.size() || !re.empty()) {
      __builtin_trap();
    }
    return 0;
  }
  const bool expected = kestel::match(re, subject);
  kestel::RegexMatcher matcher(re);
  kestel::RegexStream stream;
  stream.start(&re);
  stream.feed(subject.substr(0, subject.size() / 2));
  stream.feed(subject.substr(subject.size() / 2));
  if (matcher.match(subject) != expected || stream.matched() != expected) {
    __builtin_trap();
  }
  return 0;
}
