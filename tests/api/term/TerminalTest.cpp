// Sequences with the screens, cursors, replies and log lines they must produce.
#include "api/term/Terminal.h"

#include "api/term/TermSupport.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestel {
namespace {

using termtest::RecordingClient;
using termtest::rowText;
using termtest::screenText;

struct ScreenCase {
  const char* name;
  std::string input;
  std::string screen; // rows of a 10×4 terminal, each ending in '\n'
  int column, row;
};

const ScreenCase kScreenCases[] = {
    {"plain text", "abc", "abc\n\n\n\n", 3, 0},
    {"CR LF", "ab\r\ncd", "ab\ncd\n\n\n", 2, 1},
    {"LF keeps the column", "ab\ncd", "ab\n  cd\n\n\n", 4, 1},
    {"explicit 0 does not move up", "\n\n\x1b[0Ax", "\n\nx\n\n", 1, 2},
    {"no parameter moves up one", "\n\n\x1b[Ax", "\nx\n\n\n", 1, 1},
    {"up stops at row 0", "\n\x1b[99999999Ax", "x\n\n\n\n", 1, 0},
    {"down and forward stop at the edge", "\x1b[99999999B\x1b[99999999Cx", "\n\n\n         x\n", 9,
     3},
    {"back stops at column 0", "abc\x1b[5Dx", "xbc\n\n\n\n", 1, 0},
    {"position defaults to home", "\x1b[3;3Hx\x1b[Hy", "y\n\n  x\n\n", 1, 0},
    {"position is clipped", "\x1b[0;0Hx\x1b[99;99Hy", "x\n\n\n         y\n", 9, 3},
    {"position with f", "\x1b[2;5fx", "\n    x\n\n\n", 5, 1},
    {"last column sets pending wrap", "0123456789", "0123456789\n\n\n\n", 9, 0},
    {"CR after pending wrap: no line feed", "0123456789\rX", "X123456789\n\n\n\n", 1, 0},
    {"pending wrap carried out by next char", "0123456789X", "0123456789\nX\n\n\n", 1, 1},
    {"LF keeps pending wrap", "0123456789\nX", "0123456789\n\nX\n\n", 1, 2},
    {"BS after pending wrap", "0123456789\bX", "01234567X9\n\n\n\n", 9, 0},
    {"cursor move clears pending wrap", "0123456789\x1b[1;1HX", "X123456789\n\n\n\n", 1, 0},
    {"wrap at the bottom scrolls", "\x1b[4;1H0123456789X", "\n\n0123456789\nX\n", 1, 3},
    {"BS at column 0", "\bx", "x\n\n\n\n", 1, 0},
    {"HT to next multiple of 8", "a\tb", "a       b\n\n\n\n", 9, 0},
    {"HT stops at the last column", "a\t\tb", "a        b\n\n\n\n", 9, 0},
    {"FF is column 0 and line feed", "abc\fx", "abc\nx\n\n\n", 1, 1},
    {"VT is a line feed", "a\vb", "a\n b\n\n\n", 2, 1},
    {"NUL and SO ignored",
     std::string("a\0\x0e"
                 "b",
                 4),
     "ab\n\n\n\n", 2, 0},
    {"line drawing", "\x1b(0lqqk\x1b(Bq", "┌──┐q\n\n\n\n", 5, 0},
    {"graphics table ends", "\x1b(0`a~\x7f_", "♦▒∙ _\n\n\n\n", 5, 0},
    {"SO does not switch to G1", "\x1b)0\x0eq", "q\n\n\n\n", 1, 0},
    {"SI selects G0", "\x1b(0\x0fq", "─\n\n\n\n", 1, 0},
    {"8-bit bytes show as spaces", "a\xc3\xa9z", "a  z\n\n\n\n", 4, 0},
    {"LF at bottom scrolls", "a\r\nb\r\nc\r\nd\r\ne", "b\nc\nd\ne\n", 1, 3},
    {"region scrolls its rows only", "a\r\nb\r\nc\r\nd\x1b[2;3r\x1b[3;1H\n", "a\nc\n\nd\n", 0, 2},
    {"empty region request is the whole screen", "a\r\nb\x1b[2;3r\x1b[r\x1b[4;1H\n", "b\n\n\n\n", 0,
     3},
    {"region bottom clipped to screen", "a\x1b[2;99r\x1b[4;1H\nb", "a\n\n\nb\n", 1, 3},
    {"inverted region ignored", "a\x1b[3;2r\x1b[4;1H\n", "\n\n\n\n", 0, 3},
    {"LF below the region stays on screen", "a\x1b[1;2r\x1b[4;1H\n\nb", "a\n\n\nb\n", 1, 3},
    {"reverse index at top of region", "a\r\nb\r\nc\x1b[2;3r\x1b[2;1H\x1bMx", "a\nx\nb\n\n", 1, 1},
    {"reverse index at row 0", "a\x1bMb", " b\na\n\n\n", 2, 0},
    {"ESC D and ESC E",
     "ab\x1b"
     "Dc\x1b"
     "Ed",
     "ab\n  c\nd\n\n", 1, 2},
    {"erase to end of screen", "aaaa\r\nbbbb\r\ncccc\x1b[2;3H\x1b[J", "aaaa\nbb\n\n\n", 2, 1},
    {"erase from start of screen", "aaaa\r\nbbbb\r\ncccc\x1b[2;3H\x1b[1J", "\n   b\ncccc\n\n", 2,
     1},
    {"erase whole screen", "aaaa\r\nbbbb\x1b[2J", "\n\n\n\n", 4, 1},
    {"erase display other mode ignored", "aaaa\x1b[3J", "aaaa\n\n\n\n", 4, 0},
    {"erase line modes", "abcdef\x1b[3G\x1b[1;3H\x1b[K\r\nabcdef\x1b[2;3H\x1b[1K\r\nabcdef\x1b[2K",
     "ab\n   def\n\n\n", 6, 2},
    {"delete characters", "abcdef\x1b[1;2H\x1b[2P", "adef\n\n\n\n", 1, 0},
    {"delete more than the line", "abcdef\x1b[1;2H\x1b[99999P", "a\n\n\n\n", 1, 0},
    {"insert mode shifts and cuts", "0123456789\x1b[4h\x1b[1;3Hxy\x1b[4lz", "01xyz34567\n\n\n\n", 5,
     0},
    {"fill with E", "\x1b#8", "EEEEEEEEEE\nEEEEEEEEEE\nEEEEEEEEEE\nEEEEEEEEEE\n", 0, 0},
    {"other ESC # ignored", "\x1b#3x", "x\n\n\n\n", 1, 0},
    {"save and restore cursor and sets",
     "\x1b(0\x1b[2;3H\x1b"
     "7\x1b(B\x1b[Hq\x1b"
     "8q",
     "q\n  ─\n\n\n", 3, 1},
    {"alternate buffer", "main\x1b[?47halt\x1b[?1047l", "main\n\n\n\n", 7, 0},
    {"reset",
     "abc\x1b[2;3r\x1b(0\x1b[4h\x1b"
     "cq",
     "q\n\n\n\n", 1, 0},
    {"control inside a sequence acts at once", "ab\x1b[\r2Cx", "abx\n\n\n\n", 3, 0},
    {"ESC restarts a sequence", "\x1b[12\x1b[2Cx", "  x\n\n\n\n", 3, 0},
    {"huge parameter list", "\x1b[1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;2;2Hx", "x\n\n\n\n",
     1, 0},
};

class ScreenTable : public testing::TestWithParam<ScreenCase> {};

TEST_P(ScreenTable, ProducesScreenAndCursor) {
  const ScreenCase& c = GetParam();
  RecordingClient client;
  Terminal term(client, 10, 4);
  term.feed(c.input);
  EXPECT_EQ(screenText(term.screen()), c.screen);
  EXPECT_EQ(term.screen().cursorColumn(), c.column);
  EXPECT_EQ(term.screen().cursorRow(), c.row);
  EXPECT_EQ(client.replies, "");
}

INSTANTIATE_TEST_SUITE_P(Sequences, ScreenTable, testing::ValuesIn(kScreenCases),
                         [](const auto& info) {
                           std::string name;
                           for (char c : std::string(info.param.name)) {
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           }
                           return name;
                         });

struct ReplyCase {
  std::string input;
  std::string reply;
};

TEST(TerminalReplies, ReportsAndAttributes) {
  const ReplyCase cases[] = {
      {"\x1b[3;10H\x1b[6n", "\x1b[3;10R"},
      {"\x1b[3;10H\x1b[?6n", "\x1b[?3;10R"},
      {"0123456789\x1b[6n", "\x1b[1;10R"}, // pending wrap: still the last column
      {"\x1b[5n", "\x1b[0n"},
      {"\x1b[?5n", ""},
      {"\x1b[7n", ""},
      {"\x1b[c", "\x1b[?1;2c"},
      {"\x1b[0c", "\x1b[?1;2c"},
      {"\x1b[1c", ""},
      {"\x1b[0;0c", ""},
      {"\x1bZ", "\x1b[?1;2c"},
  };
  for (const ReplyCase& c : cases) {
    RecordingClient client;
    Terminal term(client, 10, 4);
    term.feed(c.input);
    EXPECT_EQ(client.replies, c.reply) << testing::PrintToString(c.input);
  }
}

TEST(TerminalReplies, BoundedPerChunk) {
  RecordingClient client;
  Terminal term(client, 80, 24);
  std::string flood;
  for (int i = 0; i < 10000; ++i) {
    flood += "\x1b[6n\a";
  }
  term.feed(flood);
  EXPECT_EQ(client.replyCount, TerminalScreen::kMaxRepliesPerChunk);
  EXPECT_EQ(client.beeps, 1);
  term.feed("\x1b[c");
  EXPECT_EQ(client.replyCount, TerminalScreen::kMaxRepliesPerChunk + 1);
}

TEST(TerminalLog, UnknownSequencesAndModes) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x01", "unknown ctrl 1"},
      {"\x1a", "unknown ctrl 26"},
      {"\x1by", "unknown ESC y"},
      {"\x1b%G", "unknown ESC %G"},
      {"\x1b[5x", "unknown ESC[ 5x"},
      {"\x1b[?25h", "don't know how to enable private mode 25"},
      {"\x1b[?25l", "don't know how to disable private mode 25"},
      {"\x1b[20h", "don't know how to enable mode 20"},
      {"\x1b[20l", "don't know how to disable mode 20"},
      {"\x1b[?3h", "WARNING: 132 mode is not implemented"},
      {"\x1b[" + std::string(200, '1') + "m", "ERROR: too big ESC sequence"},
  };
  for (const auto& [input, line] : cases) {
    CaptureLogSink log;
    RecordingClient client;
    Terminal term(client, 10, 4);
    term.feed(input);
    EXPECT_EQ(log.lines(), std::vector<std::string>{line}) << testing::PrintToString(input);
  }
  CaptureLogSink quiet;
  RecordingClient client;
  Terminal term(client, 10, 4);
  term.feed("\x1c\x1d\x1e\x1f\x1b[?3l\x1b[g\x1bN\x1bO");
  EXPECT_TRUE(quiet.lines().empty());
}

TEST(TerminalLog, BoundedPerChunk) {
  CaptureLogSink log;
  RecordingClient client;
  Terminal term(client, 10, 4);
  term.feed(std::string(5000, '\x01'));
  EXPECT_EQ(log.lines().size(), std::size_t{TerminalScreen::kMaxLogLinesPerChunk});
}

TEST(TerminalLimits, OverlongSequenceShowsAsText) {
  CaptureLogSink log;
  RecordingClient client;
  Terminal term(client, 80, 4);
  term.feed("\x1b[" + std::string(TerminalParser::kMaxSequence, '7') + "9;1Hx");
  // 128 collected bytes, then the byte that overflowed, then the rest as plain text.
  EXPECT_EQ(rowText(term.screen(), 0), std::string(80, '7'));
  EXPECT_EQ(rowText(term.screen(), 1), std::string(48, '7') + "9;1Hx");
  term.feed("\x1b[" + std::string(TerminalParser::kMaxSequence, '7') + "H");
  EXPECT_EQ(term.screen().cursorRow(), 3); // a sequence of exactly the limit still runs
}

TEST(TerminalAttributes, SelectGraphicRendition) {
  struct Case {
    const char* input;
    uint8_t a, b;
  };
  const Case cases[] = {
      {"\x1b[m", 0x00, 0x0F},          {"\x1b[1m", 0x01, 0x0F},         {"\x1b[4m", 0x02, 0x0F},
      {"\x1b[1;2m", 0x00, 0x0F},       {"\x1b[21;2m", 0x00, 0x0F},      {"\x1b[21m", 0x04, 0x0F},
      {"\x1b[5m", 0x08, 0x0F},         {"\x1b[7;27m", 0x00, 0x0F},      {"\x1b[4;22m", 0x01, 0x0F},
      {"\x1b[4;24m", 0x00, 0x0F},      {"\x1b[31;44m", 0x10, 0x04},     {"\x1b[37;1m", 0x71, 0x0F},
      {"\x1b[33;7;38m", 0x0A, 0x0F},   {"\x1b[35;5;1;39m", 0x08, 0x0F}, {"\x1b[42;49m", 0x00, 0x0F},
      {"\x1b[1;31;44;0m", 0x00, 0x0F}, {"\x1b[1;;31m", 0x10, 0x0F},     {"\x1b[99;3m", 0x00, 0x0F},
  };
  for (const Case& c : cases) {
    RecordingClient client;
    Terminal term(client, 10, 4);
    term.feed(std::string(c.input) + "x");
    const TerminalCell cell = term.screen().cell(0, 0);
    EXPECT_EQ(cell.attrA, c.a) << testing::PrintToString(c.input);
    EXPECT_EQ(cell.attrB, c.b) << testing::PrintToString(c.input);
  }
}

TEST(TerminalResize, ClampsAndAnchorsAtTheBottom) {
  RecordingClient client;
  Terminal term(client, 10, 4);
  term.feed("a\r\nb\r\nc\r\nd\x1b[2;3r");
  term.resize(0, 0);
  EXPECT_EQ(term.screen().columns(), 1);
  EXPECT_EQ(term.screen().rows(), 1);
  EXPECT_EQ(screenText(term.screen()), "d\n");
  term.resize(10000, 100000);
  EXPECT_EQ(term.screen().columns(), TerminalScreen::kMaxColumns);
  EXPECT_EQ(term.screen().rows(), TerminalScreen::kMaxRows);
  EXPECT_EQ(term.screen().cursorRow(), TerminalScreen::kMaxRows - 1);
  EXPECT_EQ(term.screen().scrollBottom(), TerminalScreen::kMaxRows - 1);
  term.resize(10, 4);
  term.feed("\x1b[2;1Hx\x1b[6n");
  EXPECT_EQ(screenText(term.screen()), "\nx\n\nd\n");
  EXPECT_EQ(client.replies, "\x1b[2;2R");

  term.feed("\x1b[4;1H");
  term.resize(10, 2); // the cursor row moves by the change, the region covers the new screen
  EXPECT_EQ(term.screen().cursorRow(), 1);
  EXPECT_EQ(term.screen().scrollTop(), 0);
  EXPECT_EQ(term.screen().scrollBottom(), 1);
  EXPECT_EQ(screenText(term.screen()), "\nd\n");
}

TEST(TerminalChanges, RectangleCoversCellsAndBothCursors) {
  RecordingClient client;
  Terminal term(client, 10, 4);
  EXPECT_EQ(term.takeChangedRect(), (TerminalRect{0, 0, 9, 3}));
  EXPECT_TRUE(term.takeChangedRect() == (TerminalRect{0, 0, 0, 0}));
  term.feed("\x1b[2;3Hxy");
  EXPECT_EQ(term.takeChangedRect(), (TerminalRect{0, 0, 4, 1}));
  term.feed("\x1b[3;8H");
  EXPECT_EQ(term.takeChangedRect(), (TerminalRect{4, 1, 7, 2}));
  term.feed("\x1b[4;1H\n");
  EXPECT_EQ(term.takeChangedRect(), (TerminalRect{0, 0, 9, 3}));
  term.feed("\x1b[?47h");
  EXPECT_EQ(term.takeChangedRect(), (TerminalRect{0, 0, 9, 3}));
}

} // namespace
} // namespace kestel
