#include "api/regex/RegexMatcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kestel {
namespace {

// `a` followed by eleven dots remembers where the last twelve a's were: up to 4096 sets of
// states, more than the cache holds, so it is emptied and rebuilt while subjects are matched.
TEST(RegexMatcher, AgreesWithMatchWhileTheCacheOverflows) {
  Regex re;
  ASSERT_TRUE(compile(re, "^(a|b)*a...........b$"));
  RegexMatcher matcher(re);
  std::mt19937 rng(3);
  int matched = 0;
  for (int i = 0; i < 300; ++i) {
    std::string subject(200 + rng() % 100, 'a');
    for (char& c : subject) {
      c = (rng() & 1) != 0 ? 'a' : 'b';
    }
    const bool expected = match(re, subject);
    matched += expected ? 1 : 0;
    ASSERT_EQ(matcher.match(subject), expected) << subject;
  }
  EXPECT_GT(matched, 30);
  EXPECT_LT(matched, 270);
}

// Long subjects where the bytes that can begin a match are rare, so the matcher skips over
// most of them in blocks; the block edges must not hide a match.
TEST(RegexMatcher, SkippingAgreesWithMatch) {
  const char* const patterns[] = {"ether[0-9]+", "(ab|cd)e", "[[:digit:]]+\\.[[:digit:]]+",
                                  "(UP|DOWN)$",  "x",        "[b-y]z",
                                  "q(a|b|c|d)",  "^-"};
  std::mt19937 rng(5);
  for (const char* pattern : patterns) {
    Regex re;
    ASSERT_TRUE(compile(re, pattern)) << pattern;
    RegexMatcher matcher(re);
    for (int i = 0; i < 300; ++i) {
      static constexpr char kAlphabet[] = "---------ether01.abcdeqzxUPDOWN";
      std::string subject(rng() % 90, '-');
      for (char& c : subject) {
        c = (rng() % 8 == 0) ? kAlphabet[rng() % 31] : '-';
      }
      ASSERT_EQ(matcher.match(subject), match(re, subject)) << pattern << " on " << subject;
    }
  }
}

TEST(RegexMatcher, HandlesEmptySubjectsAndEmptyExpressions) {
  const struct {
    const char* pattern;
    const char* subject;
    bool expected;
  } cases[] = {
      {"^$", "", true},       {"$^", "", true},    {"a", "", false},
      {"a*", "", true},       {"", "", true},      {"", "xyz", true},
      {"^a*$", "aab", false}, {"^b", "ab", false}, {"b$", "ab", true},
  };
  for (const auto& c : cases) {
    Regex re;
    ASSERT_TRUE(compile(re, c.pattern)) << c.pattern;
    RegexMatcher matcher(re);
    EXPECT_EQ(matcher.match(c.subject), c.expected) << c.pattern << " on " << c.subject;
    EXPECT_EQ(matcher.match(c.subject), c.expected) << c.pattern << " again on " << c.subject;
  }
}

} // namespace
} // namespace kestel
