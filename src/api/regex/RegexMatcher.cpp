#include "api/regex/RegexMatcher.h"

#include "api/regex/RegexSets.h"

#include <bit>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace kestel {

RegexMatcher::RegexMatcher(const Regex& re) : re_(re) {
  startStates_ = regex_detail::passAnchors(re_, re_.initial, re_.lineStartAnchors);
  planIdleScan();
  reset();
}

// Finds the bytes on which the idle state goes elsewhere and picks a way to scan for them.
void RegexMatcher::planIdleScan() {
  const uint64_t idle = re_.initial;
  if ((idle & re_.accept) != 0 || (idle & ~re_.lineStartAnchors) == 0) {
    return;
  }
  unsigned char leaving[256];
  unsigned count = 0;
  for (unsigned c = 0; c < 256; ++c) {
    if ((regex_detail::followUnion(re_, idle & re_.byteTable[c]) & ~idle) != 0) {
      leaving[count++] = static_cast<unsigned char>(c);
    }
  }
  if (count == 0) {
    return;
  }
  if (count <= scan_.bytes.size()) {
    scan_.mode = IdleScan::kBytes;
    for (unsigned i = 0; i < scan_.bytes.size(); ++i) {
      scan_.bytes[i] = leaving[i < count ? i : 0];
    }
    return;
  }
  if (leaving[count - 1] - leaving[0] + 1u == count) {
    scan_.mode = IdleScan::kRange;
    scan_.low = leaving[0];
    scan_.span = static_cast<unsigned char>(count - 1);
  }
}

// Returns the first byte in [p, end) that leaves the idle state, or end.
const char* RegexMatcher::skipIdle(const char* p, const char* end) const {
#ifdef __SSE2__
  const __m128i b0 = _mm_set1_epi8(static_cast<char>(scan_.bytes[0]));
  const __m128i b1 = _mm_set1_epi8(static_cast<char>(scan_.bytes[1]));
  const __m128i b2 = _mm_set1_epi8(static_cast<char>(scan_.bytes[2]));
  const __m128i low = _mm_set1_epi8(static_cast<char>(scan_.low));
  const __m128i span = _mm_set1_epi8(static_cast<char>(scan_.span));
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit;
    if (scan_.mode == IdleScan::kBytes) {
      hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, b0), _mm_cmpeq_epi8(v, b1)),
                         _mm_cmpeq_epi8(v, b2));
    } else {
      const __m128i offset = _mm_sub_epi8(v, low);
      hit = _mm_cmpeq_epi8(_mm_min_epu8(offset, span), offset);
    }
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) {
      return p + std::countr_zero(static_cast<unsigned>(mask));
    }
  }
#endif
  for (; p != end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const bool leaves = scan_.mode == IdleScan::kBytes
                            ? (c == scan_.bytes[0] || c == scan_.bytes[1] || c == scan_.bytes[2])
                            : static_cast<unsigned char>(c - scan_.low) <= scan_.span;
    if (leaves) {
      return p;
    }
  }
  return end;
}

void RegexMatcher::reset() {
  ++generation_;
  next_.clear();
  sets_.clear();
  endMatch_.clear();
  index_.clear();
  start_ = entryFor(startStates_);
  idle_ = scan_.mode == IdleScan::kNone ? kUnknown : entryFor(re_.initial);
}

// The entry for the set of states active before the next byte, adding a state when it is new.
int32_t RegexMatcher::entryFor(uint64_t states) {
  if ((states & re_.accept) != 0) {
    return kAccept;
  }
  if ((states & ~re_.lineStartAnchors) == 0) {
    return kDead;
  }
  const auto found = index_.find(states);
  if (found != index_.end()) {
    return found->second;
  }
  if (sets_.size() >= kMaxStates) {
    reset();
    return entryFor(states);
  }
  const auto row = static_cast<int32_t>(sets_.size() * 256);
  sets_.push_back(states);
  const uint64_t atEnd = regex_detail::passAnchors(re_, states, re_.lineEndAnchors);
  endMatch_.push_back((atEnd & re_.accept) != 0 ? 1 : 0);
  next_.resize(next_.size() + 256, kUnknown);
  index_.emplace(states, row);
  return row;
}

// Fills in the transition of `row` on `byte`. When the new state empties the cache, only the
// returned entry stays valid.
int32_t RegexMatcher::transition(int32_t row, unsigned char byte) {
  const uint64_t active = sets_[static_cast<std::size_t>(row) / 256];
  const uint64_t states =
      regex_detail::followUnion(re_, active & re_.byteTable[byte]) | re_.initial;
  const uint64_t generation = generation_;
  const int32_t entry = entryFor(states);
  if (generation == generation_) {
    next_[static_cast<std::size_t>(row) + byte] = entry;
  }
  return entry;
}

bool RegexMatcher::match(std::string_view subject) {
  if (re_.empty()) {
    return true;
  }
  if (subject.empty()) {
    return kestel::match(re_, subject);
  }
  if (start_ < 0) {
    return start_ == kAccept;
  }
  int32_t row = start_;
  const char* p = subject.data();
  const char* const end = p + subject.size();
  while (p != end) {
    if (row == idle_) {
      p = skipIdle(p, end);
      if (p == end) {
        break;
      }
    }
    const auto byte = static_cast<unsigned char>(*p++);
    int32_t entry = next_[static_cast<std::size_t>(row) + byte];
    if (entry < 0) {
      if (entry == kUnknown) {
        entry = transition(row, byte);
      }
      if (entry < 0) {
        return entry == kAccept;
      }
    }
    row = entry;
  }
  return endMatch_[static_cast<std::size_t>(row) / 256] != 0;
}

} // namespace kestel
