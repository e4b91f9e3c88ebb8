// Set operations on the states of a compiled expression, shared by the matchers of this folder.
#pragma once

#include "api/regex/Regex.h"

#include <bit>

namespace kestel::regex_detail {

// Union of the follow sets of `states`, walking the mask from the lowest set bit upward.
inline uint64_t followUnion(const Regex& re, uint64_t states) {
  uint64_t out = 0;
  while (states != 0) {
    out |= re.follow[static_cast<unsigned>(std::countr_zero(states))];
    states &= states - 1;
  }
  return out;
}

// Adds what lies beyond the anchor states of `states` that may be passed here; repeated, since
// an anchor may follow another one (`^^a`, `$^` on an empty subject).
inline uint64_t passAnchors(const Regex& re, uint64_t states, uint64_t passable) {
  uint64_t passed = 0;
  for (;;) {
    const uint64_t anchors = states & passable & ~passed;
    if (anchors == 0) {
      return states;
    }
    passed |= anchors;
    states |= followUnion(re, anchors);
  }
}

} // namespace kestel::regex_detail
