#include "api/regex/RegexMatcher.h"

#include "api/regex/RegexSets.h"

namespace kestel {

RegexMatcher::RegexMatcher(const Regex& re) : re_(re) {
  startStates_ = regex_detail::passAnchors(re_, re_.initial, re_.lineStartAnchors);
  reset();
}

void RegexMatcher::reset() {
  ++generation_;
  next_.clear();
  sets_.clear();
  endMatch_.clear();
  index_.clear();
  start_ = entryFor(startStates_);
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
  for (const char ch : subject) {
    const auto byte = static_cast<unsigned char>(ch);
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
