// Matches one compiled expression against many subjects at a constant few operations per byte:
// every set of active states met so far becomes a state of a deterministic automaton whose
// transitions are filled in lazily, byte by byte, from the position automaton. Results equal
// match() for every subject. The cache is bounded: when it holds kMaxStates sets it is emptied
// and rebuilt as needed, so memory never exceeds about kMaxStates kilobytes. While only the
// initial states are active (the usual case in a search), bytes that cannot start a match are
// skipped 16 at a time when they are told apart by up to three values or one range.
#pragma once

#include "api/regex/Regex.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestel {

class RegexMatcher {
public:
  static constexpr std::size_t kMaxStates = 1024;

  // Copies the record; the matcher does not refer to it afterwards.
  explicit RegexMatcher(const Regex& re);

  // Returns whether the pattern occurs in `subject`; never fails on input. Fills the cache, so
  // one matcher serves one thread at a time.
  bool match(std::string_view subject);

private:
  // Transition entries: a row offset (state index × 256), or one of these.
  static constexpr int32_t kUnknown = -1;
  static constexpr int32_t kAccept = -2; // the accept state is active: the subject matches
  static constexpr int32_t kDead = -3;   // no active state can reach the accept state any more

  // How the bytes that leave the idle state (only the initial states active) are found.
  struct IdleScan {
    enum Mode : uint8_t { kNone, kBytes, kRange } mode = kNone;
    std::array<unsigned char, 3> bytes{}; // kBytes: up to three values, repeated to fill
    unsigned char low = 0;                // kRange: low .. low + span
    unsigned char span = 0;
  };

  void planIdleScan();
  const char* skipIdle(const char* p, const char* end) const;
  int32_t entryFor(uint64_t states);
  int32_t transition(int32_t row, unsigned char byte);
  void reset();

  Regex re_;
  uint64_t startStates_ = 0; // the initial closure before the first byte
  int32_t start_ = kUnknown;
  std::vector<int32_t> next_;     // 256 entries per state
  std::vector<uint64_t> sets_;    // the active states of each state
  std::vector<uint8_t> endMatch_; // whether each state matches when the subject ends there
  std::unordered_map<uint64_t, int32_t> index_;
  uint64_t generation_ = 0; // counts the times the cache was emptied
  IdleScan scan_;
  int32_t idle_ = kUnknown; // the row of the idle state while scan_ can skip over it
};

} // namespace kestel
