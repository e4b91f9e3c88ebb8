// The program's own small regular-expression engine, used by descriptor predicates. A pattern
// compiles into a bit-parallel position automaton of at most 64 states held in one fixed-size
// record; matching simulates all states at once with 64-bit masks in one pass, without
// backtracking, and finds the pattern anywhere in the subject unless `^` or `$` anchor it.
// Supported: literals, `\` escapes, `.`, bracket expressions with ranges, negation and the ASCII
// classes `[:name:]`, groups, `|`, `?`, `*`, `+`, `^` (start of subject), `$` (end of subject).
// Not supported: intervals `{m,n}` (`{` is a literal), back-references, collating elements and
// equivalence classes. Nothing here allocates except the error text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestel {

// A compiled expression. State s accepts byte c when bit s of byteTable[c] is set and then moves to
// the states of follow[s]; line-start and line-end anchor states accept no byte and are passed only
// at the start and at the end of the subject. A record of zeros holds no expression.
struct Regex {
  static constexpr int kStates = 64;

  uint32_t used = 0;     // character positions allocated, counting up from 0
  uint32_t groupTop = 0; // next free group placeholder, counting down from 63
  uint64_t initial = 0;  // states active before the first byte
  uint64_t accept = 0;   // the final state
  uint64_t lineStartAnchors = 0;
  uint64_t lineEndAnchors = 0;
  std::array<uint64_t, kStates> follow{};
  std::array<uint64_t, 256> byteTable{};

  // True when the record matches every subject (nothing compiled, or an empty pattern).
  bool empty() const { return used == 0; }
};

// Why a pattern did not compile: one of the engine's error texts and the byte offset in the
// pattern where the fault was found.
struct RegexError {
  std::string text;
  std::size_t position = 0;
};

// Compiles `pattern` into `re`. Returns false, fills `error` (when given) and leaves `re` holding
// no expression when the pattern is malformed or needs more than 64 states ("regular expression
// too compex"); group nesting is bounded by the same limit.
[[nodiscard]] bool compile(Regex& re, std::string_view pattern, RegexError* error = nullptr);

// Returns whether the pattern occurs in `subject`. A missing record or an empty expression
// matches everything; matching never fails on input.
bool match(const Regex* re, std::string_view subject);
inline bool match(const Regex& re, std::string_view subject) { return match(&re, subject); }

// The incremental form of match over a stream of bytes: start(), any number of feed() calls, then
// matched(). The result equals match() over the concatenation of the fed bytes. The stream keeps
// a pointer to the record, which must outlive it.
class RegexStream {
public:
  // Begins a new subject with the initial closure; a missing record matches everything.
  void start(const Regex* re);
  // Feeds bytes [begin, end); bytes after the outcome is settled are skipped.
  void feed(const char* begin, const char* end);
  void feed(std::string_view bytes) { feed(bytes.data(), bytes.data() + bytes.size()); }
  // Feeds the bytes of a NUL-terminated text, up to the NUL.
  void feedUntilNul(const char* text);
  // The final test: whether the pattern occurs in everything fed since start().
  bool matched() const;

private:
  const Regex* re_ = nullptr;
  uint64_t states_ = 0; // states reached after the last byte (before re-entering the initial ones)
  bool fed_ = false;    // at least one byte has been fed
  bool found_ = true;   // the accept state was reached (or there is no record): outcome settled
  bool dead_ = false;   // no state can ever reach the accept state: the outcome is settled
};

} // namespace kestel
