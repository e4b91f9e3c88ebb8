#include "api/regex/Regex.h"

#include <gtest/gtest.h>

#include <string>

namespace kestel {
namespace {

struct MatchCase {
  const char* pattern;
  const char* subject;
  bool expected;
};

bool matches(std::string_view pattern, std::string_view subject) {
  Regex re;
  RegexError error;
  EXPECT_TRUE(compile(re, pattern, &error)) << pattern << ": " << error.text;
  return match(re, subject);
}

TEST(Regex, MatchesTheDocumentedCases) {
  const MatchCase cases[] = {
      {"ab", "xaby", true},        {"^ab", "xab", false},
      {"^ab", "abx", true},        {"ab$", "xab", true},
      {"ab$", "abx", false},       {"a*", "", true},
      {"a*", "zzz", true},         {"a+", "", false},
      {"a+", "bab", true},         {"a+", "bbb", false},
      {"(ab|cd)e", "cde", true},   {"(ab|cd)e", "ade", false},
      {"(ab|cd)e", "abe", true},   {"[^0-9]", "x", true},
      {"[^0-9]", "7", false},      {"[]a]", "]", true},
      {"[]a]", "b", false},        {"[[:digit:]]", "4", true},
      {"[[:digit:]]", "x", false}, {"", "", true},
      {"", "anything", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(matches(c.pattern, c.subject), c.expected) << c.pattern << " on " << c.subject;
  }
}

// Regressions of a construction that tracked only a piece's first state: a repeated group must
// re-enter every way into it, an alternative must not be entered from inside the one before
// it, empty alternatives must keep what follows reachable, and consecutive anchors chain.
TEST(Regex, BuildsEveryPathThroughGroups) {
  const MatchCase cases[] = {
      // repetition re-enters every alternative and every state a group may begin with
      {"^(a|b)+$", "ab", true},
      {"^(a|b)*$", "abba", true},
      {"^(a|b)+$", "abc", false},
      {"^(ab|cd)+$", "cdab", true},
      {"^(a?b)*$", "bb", true},
      {"^(a*.)*$", "11", true},
      // an alternative is entered only where the group begins
      {"^(a+|b)c$", "abc", false},
      {"^(a+|b)c$", "aac", true},
      {"^([^a]*b*c|b*)$", "]", false},
      {"^([]a]+|b)$", "]b", false},
      // empty groups and alternatives
      {"^(()|b)$", "b", true},
      {"^(()|b)$", "", true},
      {"^(c(|\\.))$", "c.", true},
      {"^(c(|\\.))$", "c", true},
      {"^((|1)b?)$", "1b", true},
      // anchors after anchors
      {"^^a", "a", true},
      {"a$$", "ba", true},
      {"$^", "", true},
      {"^(^)$", "", true},
      {"^$", "x", false},
      {"x*^a", "a", true},
      {"x*^a", "xa", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(matches(c.pattern, c.subject), c.expected) << c.pattern << " on " << c.subject;
  }
}

TEST(Regex, ReportsEveryCompileError) {
  const struct {
    std::string pattern;
    const char* text;
    std::size_t position;
  } cases[] = {
      {"[[:foo:]]", "unknown character class name", 1},
      {"[z-a]", "invalid range", 1},
      {"ab\\", "trailing '\\'", 2},
      {"(ab", "expected ')'", 3},
      {"ab)c", "expected end", 2},
      {"[ab", "expected ']'", 3},
      {"[^", "expected ']'", 2},
      {"[[:digit]", "expected ':]'", 1},
      {"[[.a.]]", "collating elements are not supported", 1},
      {"[[=a=]]", "equivalence classes are not supported", 1},
      {std::string(64, 'a'), "regular expression too compex", 63},
      {std::string(62, 'a') + "(b)", "regular expression too compex", 63},
      {std::string(64, '('), "regular expression too compex", 63},
  };
  for (const auto& c : cases) {
    Regex re;
    RegexError error;
    EXPECT_FALSE(compile(re, c.pattern, &error)) << c.pattern;
    EXPECT_EQ(error.text, c.text) << c.pattern;
    EXPECT_EQ(error.position, c.position) << c.pattern;
    EXPECT_TRUE(re.empty()) << c.pattern;
  }
  Regex re;
  EXPECT_TRUE(compile(re, std::string(63, 'a')));
  EXPECT_TRUE(match(re, std::string(63, 'a')));
  EXPECT_FALSE(match(re, std::string(62, 'a')));
}

// Patterns come from the router: long runs of operators cost time in proportion to their
// length, nesting is bounded by the state limit, and NUL is an ordinary byte.
TEST(Regex, ToleratesHostilePatterns) {
  Regex re;
  EXPECT_TRUE(compile(re, "a" + std::string(100000, '*')));
  EXPECT_TRUE(match(re, "b"));
  EXPECT_TRUE(compile(re, "^(" + std::string(100000, '|') + "b)$"));
  EXPECT_TRUE(match(re, "b"));
  EXPECT_TRUE(match(re, ""));
  EXPECT_FALSE(match(re, "c"));
  EXPECT_TRUE(compile(re, std::string(62, '(') + "a" + std::string(62, ')')));
  EXPECT_TRUE(match(re, "xa"));
  RegexError error;
  EXPECT_FALSE(compile(re, std::string(100000, '(') + std::string(100000, ')'), &error));
  EXPECT_EQ(error.text, "regular expression too compex");
  EXPECT_TRUE(compile(re, std::string("a\0b", 3)));
  EXPECT_TRUE(match(re, std::string("xa\0b", 4)));
  EXPECT_FALSE(match(re, "ab"));
}

TEST(Regex, MissingOrEmptyRecordMatchesEverything) {
  EXPECT_TRUE(match(nullptr, "x"));
  EXPECT_TRUE(match(Regex{}, ""));
  RegexStream stream;
  stream.feed("never started");
  EXPECT_TRUE(stream.matched());
  stream.start(nullptr);
  stream.feed("abc");
  EXPECT_TRUE(stream.matched());
}

} // namespace
} // namespace kestel
