#include "api/regex/Regex.h"

#include "api/regex/RegexSets.h"

#include <bit>
#include <cstring>

namespace kestel {

using regex_detail::followUnion;
using regex_detail::passAnchors;

namespace {

constexpr uint64_t bit(uint32_t state) { return uint64_t{1} << state; }

// A compiled piece of the pattern: the states entered when it begins, the states that complete
// it, and whether it can match the empty text.
struct Fragment {
  uint64_t first = 0;
  uint64_t last = 0;
  bool nullable = true;
};

// One set of bytes, built while a bracket expression is read.
struct ByteSet {
  std::array<uint64_t, 4> words{};
  void add(unsigned lo, unsigned hi) {
    for (unsigned c = lo; c <= hi; ++c) {
      words[c >> 6] |= uint64_t{1} << (c & 63);
    }
  }
  bool has(unsigned c) const { return (words[c >> 6] >> (c & 63)) & 1; }
};

struct CharClass {
  const char* name;
  unsigned char ranges[4][2];
  int count;
};

constexpr CharClass kClasses[] = {
    {"alnum", {{48, 57}, {65, 90}, {97, 122}}, 3},
    {"cntrl", {{0, 31}, {127, 127}}, 2},
    {"lower", {{97, 122}}, 1},
    {"space", {{9, 13}, {32, 32}}, 2},
    {"alpha", {{65, 90}, {97, 122}}, 2},
    {"digit", {{48, 57}}, 1},
    {"print", {{32, 126}}, 1},
    {"upper", {{65, 90}}, 1},
    {"blank", {{9, 9}, {32, 32}}, 2},
    {"graph", {{33, 126}}, 1},
    {"punct", {{33, 47}, {58, 64}, {91, 96}, {123, 126}}, 4},
    {"xdigit", {{48, 57}, {65, 70}, {97, 102}}, 3},
};

// Recursive descent over the pattern that builds the position automaton directly: each
// character position is one state in pattern order, and the follow sets come from the first and
// last states of the pieces being joined, so that a repeated or alternated group re-enters every
// one of its alternatives. Recursion depth is bounded by the group placeholders (at most 63).
class Compiler {
public:
  Compiler(Regex& re, std::string_view pattern) : re_(re), p_(pattern) {}

  bool run(RegexError* error) {
    re_ = Regex{};
    re_.groupTop = Regex::kStates - 1;
    Fragment top;
    if (parseAlternatives(top) && pos_ != p_.size()) {
      fail("expected end", pos_);
    }
    if (errorText_ != nullptr) {
      re_ = Regex{};
      if (error != nullptr) {
        *error = RegexError{errorText_, errorPos_};
      }
      return false;
    }
    const uint64_t accept = bit(re_.used);
    link(top.last, accept);
    re_.initial = top.first | (top.nullable ? accept : 0);
    re_.accept = accept;
    return true;
  }

private:
  bool fail(const char* text, std::size_t position) {
    errorText_ = text;
    errorPos_ = position;
    return false;
  }
  bool atEnd() const { return pos_ >= p_.size(); }
  unsigned char peek(std::size_t ahead = 0) const {
    return static_cast<unsigned char>(p_[pos_ + ahead]);
  }

  // Every state in `from` may be followed by the states in `to`.
  void link(uint64_t from, uint64_t to) {
    while (from != 0) {
      re_.follow[static_cast<unsigned>(std::countr_zero(from))] |= to;
      from &= from - 1;
    }
  }

  static Fragment alternate(const Fragment& a, const Fragment& b) {
    return Fragment{a.first | b.first, a.last | b.last, a.nullable || b.nullable};
  }

  Fragment concat(const Fragment& a, const Fragment& b) {
    link(a.last, b.first);
    return Fragment{a.first | (a.nullable ? b.first : 0), b.last | (b.nullable ? a.last : 0),
                    a.nullable && b.nullable};
  }

  void repeat(Fragment& f, unsigned char quantifier) {
    if (quantifier != '?') {
      link(f.last, f.first);
    }
    if (quantifier != '+') {
      f.nullable = true;
    }
  }

  // Alternatives up to a `)` or the end of the pattern.
  bool parseAlternatives(Fragment& out) {
    if (!parseSequence(out)) {
      return false;
    }
    while (!atEnd() && peek() == '|') {
      ++pos_;
      Fragment next;
      if (!parseSequence(next)) {
        return false;
      }
      out = alternate(out, next);
    }
    return true;
  }

  bool parseSequence(Fragment& out) {
    out = Fragment{};
    while (!atEnd() && peek() != '|' && peek() != ')') {
      Fragment atom;
      if (!parseAtom(atom)) {
        return false;
      }
      while (!atEnd() && (peek() == '?' || peek() == '*' || peek() == '+')) {
        repeat(atom, peek());
        ++pos_;
      }
      out = concat(out, atom);
    }
    return true;
  }

  bool parseAtom(Fragment& out) {
    const std::size_t at = pos_;
    const unsigned char c = peek();
    if (c == '(') {
      return parseGroup(out);
    }
    uint32_t state = 0;
    if (!newPosition(at, state)) {
      return false;
    }
    out = Fragment{bit(state), bit(state), false};
    ++pos_;
    switch (c) {
    case '[':
      return parseBracket(state);
    case '.':
      for (auto& entry : re_.byteTable) {
        entry |= bit(state);
      }
      return true;
    case '^':
      re_.lineStartAnchors |= bit(state);
      return true;
    case '$':
      re_.lineEndAnchors |= bit(state);
      return true;
    case '\\':
      if (atEnd()) {
        return fail("trailing '\\'", at);
      }
      re_.byteTable[peek()] |= bit(state);
      ++pos_;
      return true;
    default:
      re_.byteTable[c] |= bit(state);
      return true;
    }
  }

  // Allocates the next character position; the positions and the group placeholders share the
  // 64 states.
  bool newPosition(std::size_t at, uint32_t& state) {
    state = re_.used++;
    if (re_.used > re_.groupTop) {
      return fail("regular expression too compex", at);
    }
    return true;
  }

  bool parseGroup(Fragment& out) {
    const std::size_t at = pos_++;
    if (re_.groupTop <= re_.used) {
      return fail("regular expression too compex", at);
    }
    --re_.groupTop;
    if (!parseAlternatives(out)) {
      return false;
    }
    if (atEnd() || peek() != ')') {
      return fail("expected ')'", pos_);
    }
    ++pos_;
    return true;
  }

  // Reads a bracket expression after its `[` and makes `state` accept its bytes.
  bool parseBracket(uint32_t state) {
    const bool negate = !atEnd() && peek() == '^';
    if (negate) {
      ++pos_;
    }
    ByteSet set;
    for (bool firstItem = true;; firstItem = false) {
      if (atEnd()) {
        return fail("expected ']'", pos_);
      }
      if (peek() == ']' && !firstItem) {
        ++pos_;
        break;
      }
      if (!parseBracketItem(set)) {
        return false;
      }
    }
    for (unsigned c = 0; c < 256; ++c) {
      if (set.has(c) != negate) {
        re_.byteTable[c] |= bit(state);
      }
    }
    return true;
  }

  bool parseBracketItem(ByteSet& set) {
    const std::size_t at = pos_;
    if (peek() == '[' && pos_ + 1 < p_.size()) {
      const unsigned char kind = peek(1);
      if (kind == ':') {
        return parseClass(set);
      }
      if (kind == '.') {
        return fail("collating elements are not supported", at);
      }
      if (kind == '=') {
        return fail("equivalence classes are not supported", at);
      }
    }
    const unsigned lo = peek();
    ++pos_;
    if (pos_ + 1 < p_.size() && peek() == '-' && peek(1) != ']') {
      const unsigned hi = peek(1);
      if (lo > hi) {
        return fail("invalid range", at);
      }
      set.add(lo, hi);
      pos_ += 2;
      return true;
    }
    set.add(lo, lo);
    return true;
  }

  // Reads `[:name:]` at the current position.
  bool parseClass(ByteSet& set) {
    const std::size_t at = pos_;
    const std::size_t close = p_.find(":]", pos_ + 2);
    if (close == std::string_view::npos) {
      return fail("expected ':]'", at);
    }
    const std::string_view name = p_.substr(pos_ + 2, close - pos_ - 2);
    for (const CharClass& cls : kClasses) {
      if (name == cls.name) {
        for (int i = 0; i < cls.count; ++i) {
          set.add(cls.ranges[i][0], cls.ranges[i][1]);
        }
        pos_ = close + 2;
        return true;
      }
    }
    return fail("unknown character class name", at);
  }

  Regex& re_;
  std::string_view p_;
  std::size_t pos_ = 0;
  const char* errorText_ = nullptr;
  std::size_t errorPos_ = 0;
};

} // namespace

bool compile(Regex& re, std::string_view pattern, RegexError* error) {
  return Compiler(re, pattern).run(error);
}

bool match(const Regex* re, std::string_view subject) {
  if (re == nullptr || re->empty()) {
    return true;
  }
  RegexStream stream;
  stream.start(re);
  stream.feed(subject);
  return stream.matched();
}

void RegexStream::start(const Regex* re) {
  re_ = re;
  states_ = 0;
  fed_ = false;
  found_ = re == nullptr || re->empty();
  dead_ = false;
}

void RegexStream::feed(const char* begin, const char* end) {
  if (found_ || dead_) {
    return;
  }
  const Regex& re = *re_;
  // Before the first byte the start anchors may be passed; afterwards they are dead states, and
  // the unanchored initial states are re-entered at every byte to search at any offset.
  uint64_t current =
      fed_ ? (states_ | re.initial) : passAnchors(re, re.initial, re.lineStartAnchors);
  for (const char* p = begin; p != end; ++p) {
    if ((current & re.accept) != 0) {
      found_ = true;
      return;
    }
    states_ = followUnion(re, current & re.byteTable[static_cast<unsigned char>(*p)]);
    fed_ = true;
    current = states_ | re.initial;
    if ((current & ~re.lineStartAnchors) == 0) {
      dead_ = true;
      return;
    }
  }
}

void RegexStream::feedUntilNul(const char* text) { feed(text, text + std::strlen(text)); }

bool RegexStream::matched() const {
  if (found_ || dead_) {
    return found_;
  }
  const Regex& re = *re_;
  const uint64_t last = fed_ ? passAnchors(re, states_ | re.initial, re.lineEndAnchors)
                             : passAnchors(re, re.initial, re.lineStartAnchors | re.lineEndAnchors);
  return (last & re.accept) != 0;
}

} // namespace kestel
