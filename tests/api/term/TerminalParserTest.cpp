// The parser alone: the calls it makes for each input, and the parameters it reads.
#include "api/term/TerminalParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestel {
namespace {

// Writes every call as one token: T(text) C(code) E(sequence) S(sequence|params) L(collected).
struct Recorder final : TerminalActions {
  std::string calls;
  void print(std::string_view text) override {
    // Adjacent runs are one run: how text is cut depends on where a chunk ends.
    if (calls.size() >= 1 && calls.back() == ')' && lastWasText) {
      calls.insert(calls.size() - 1, text);
      return;
    }
    calls += "T(" + std::string(text) + ")";
    lastWasText = true;
  }
  void control(uint8_t code) override { add("C(" + std::to_string(code) + ")"); }
  void escape(std::string_view s) override { add("E(" + std::string(s) + ")"); }
  void controlSequence(std::string_view s, const CsiParams& p) override {
    std::string out = "S(" + std::string(s) + "|" + (p.isPrivate ? "?" : "");
    for (int i = 0; i < p.count; ++i) {
      out += (i ? "," : "") +
             (p.values[i] == CsiParams::kNotGiven ? "-" : std::to_string(p.values[i]));
    }
    add(out + ")");
  }
  void sequenceTooLong(std::string_view collected) override {
    add("L(" + std::to_string(collected.size()) + ")");
  }
  void add(const std::string& call) {
    calls += call;
    lastWasText = false;
  }
  bool lastWasText = false;
};

TEST(TerminalParser, CallsForEachInput) {
  const std::pair<std::string, std::string> cases[] = {
      {"ab\r\ncd", "T(ab)C(13)C(10)T(cd)"},
      {"\x1b[A", "S(A|)"},
      {"\x1b[0A", "S(0A|0)"},
      {"\x1b[;5H", "S(;5H|-,5)"},
      {"\x1b[5;H", "S(5;H|5,-)"},
      {"\x1b[?1;1047h", "S(?1;1047h|?1,1047)"},
      {"\x1b[99999999A", "S(99999999A|65535)"},
      {"\x1b[1 q", "S(1 q|1)"},
      {"\x1b(0", "E((0)"},
      {"\x1b#8", "E(#8)"},
      {"\x1b"
       "7x",
       "E(7)T(x)"},
      {"\x1b(\x1b"
       "8",
       "E(8)"},
      {"\x1b[1\x07;2m", "C(7)S(1;2m|1,2)"},
      {"\x1b[\xff"
       "m",
       "S(\xffm|)"},
      {"\x1b\x7f\x80"
       "c",
       "E(\x7f\x80"
       "c)"},
      {"\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18m",
       "S(1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18m|1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16)"},
      {"\x1b[" + std::string(128, '1') + "m", "S(" + std::string(128, '1') + "m|65535)"},
      {"\x1b[" + std::string(129, '1') + "m", "L(128)T(" + std::string(129, '1') + "m)"},
      {"\x1b(" + std::string(128, '!') + "B", "L(128)T((" + std::string(128, '!') + "B)"},
  };
  for (const auto& [input, expected] : cases) {
    Recorder whole;
    TerminalParser(whole).feed(input);
    EXPECT_EQ(whole.calls, expected) << testing::PrintToString(input);
    Recorder bytewise;
    TerminalParser parser(bytewise);
    for (char c : input) {
      parser.feed(std::string_view(&c, 1));
    }
    EXPECT_EQ(bytewise.calls, expected) << testing::PrintToString(input);
  }
}

} // namespace
} // namespace kestel
