// The lines a scrollback keeps: only the main buffer's top line leaving the screen, in order;
// nothing from the alternate buffer or from a scrolling region below the top.
#include "api/term/Terminal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestel {
namespace {

struct Keeper final : TerminalClient {
  void reply(std::string_view) override {}
  void beep(int, int) override {}
  void scrolledOff(const TerminalCell* cells, int count) override {
    std::string line;
    for (int i = 0; i < count; ++i)
      line += char(cells[i].ch);
    lines.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
  }
  std::vector<std::string> lines;
};

TEST(ScrolledOff, OnlyTheMainBuffersTopLineLeaves) {
  struct Case {
    const char* input;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {"a\r\nb\r\nc", {}},                           // fits
      {"a\r\nb\r\nc\r\nd\r\ne", {"a", "b"}},         // two lines scroll off
      {"a\x1b[2;3r\x1b[3H\n\n\nb", {}},              // a region below the top
      {"a\x1b[1;2r\x1b[2H\nb", {"a"}},               // a region at the top
      {"x\x1b[?1047h\x1b[3H\n\n\ny\x1b[?1047l", {}}, // the alternate buffer
      {"a\x1b"
       "D\x1b"
       "D\x1b"
       "D",
       {"a"}}, // index at the bottom
      {"abcdefghij"
       "kl\r\n\r\n",
       {"abcdefghij"}}, // a wrapped line leaves whole
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    Keeper keeper;
    Terminal term(keeper, 10, 3);
    term.feed(c.input);
    EXPECT_EQ(keeper.lines, c.kept);
  }
}

} // namespace
} // namespace kestel
