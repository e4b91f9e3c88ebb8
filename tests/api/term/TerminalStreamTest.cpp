// Generated console streams: any split of the input gives the same terminal state, and on the
// sequences both follow alike, the reference terminal library ends with the same characters,
// cursor and replies.
//
// What the comparable streams leave out, and why:
// - bytes 127 and above, and UTF-8: the reference decodes UTF-8; here a byte above 127 is a space.
// - SO, ESC N, ESC O: the reference shifts to G1/G2/G3; here they do nothing.
// - graphics bytes other than the box-drawing set and 'a': the two tables differ for the
//   symbols (for example 0x60 is U+2666 here).
// - an explicit 0 in A/B/C/D/P: the reference takes it as 1; here it is 0.
// - a scrolling region request not followed by a cursor position: the reference homes the
//   cursor, this terminal leaves it.
// - cursor up/down while a region other than the whole screen is set: the reference stops at
//   the region's margins, this terminal at the screen's edges.
// - attributes are set but not compared: the two keep different records of them.
// - ESC # 8, ESC c, modes 47/1047: the reference's reset and alternate screen keep other state.
#include "api/term/Terminal.h"

#include "api/term/TermSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vterm.h>

namespace kestel {
namespace {

using termtest::RecordingClient;
using termtest::snapshot;
using termtest::StreamGenerator;
using termtest::StreamKind;

// Splits `bytes` at random points, some of them one byte apart.
void feedSplit(Terminal& term, std::string_view bytes, std::mt19937& rng) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t n = rng() % 4 == 0 ? 1 : 1 + rng() % 300;
    term.feed(bytes.substr(at, n));
    at += n;
  }
}

void expectInside(const TerminalScreen& s) {
  ASSERT_GE(s.cursorColumn(), 0);
  ASSERT_LT(s.cursorColumn(), s.columns());
  ASSERT_GE(s.cursorRow(), 0);
  ASSERT_LT(s.cursorRow(), s.rows());
  ASSERT_LE(0, s.scrollTop());
  ASSERT_LT(s.scrollTop(), s.scrollBottom());
  ASSERT_LT(s.scrollBottom(), s.rows());
}

TEST(TerminalStreams, AnySplitGivesTheSameState) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    const int columns = 1 + static_cast<int>(rng() % 100);
    const int rows = 1 + static_cast<int>(rng() % 30);
    const std::string stream = StreamGenerator(rng, StreamKind::Anything, rows).next(20000);
    RecordingClient a, b, c;
    Terminal whole(a, columns, rows), split(b, columns, rows), bytewise(c, columns, rows);
    whole.feed(stream);
    feedSplit(split, stream, rng);
    for (char ch : stream) {
      bytewise.feed(std::string_view(&ch, 1));
    }
    expectInside(whole.screen());
    EXPECT_EQ(snapshot(whole.screen()), snapshot(split.screen())) << "seed " << seed;
    EXPECT_EQ(snapshot(whole.screen()), snapshot(bytewise.screen())) << "seed " << seed;
  }
}

// The reference terminal with its screen layer, replies collected.
class Reference {
public:
  Reference(int columns, int rows) : vt_(vterm_new(rows, columns)) {
    vterm_set_utf8(vt_, 1);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_reset(screen_, 1);
    vterm_output_set_callback(
        vt_,
        [](const char* s, size_t len, void* user) {
          static_cast<Reference*>(user)->replies.append(s, len);
        },
        this);
  }
  ~Reference() { vterm_free(vt_); }
  Reference(const Reference&) = delete;
  Reference& operator=(const Reference&) = delete;

  void feed(std::string_view bytes) { vterm_input_write(vt_, bytes.data(), bytes.size()); }
  uint32_t ch(int column, int row) const {
    VTermScreenCell cell;
    vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
    return cell.chars[0] == 0 ? ' ' : cell.chars[0];
  }
  VTermPos cursor() const {
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos;
  }

  std::string replies;

private:
  VTerm* vt_;
  VTermScreen* screen_ = nullptr;
};

std::string firstDifference(const TerminalScreen& ours, const Reference& ref) {
  for (int y = 0; y < ours.rows(); ++y) {
    for (int x = 0; x < ours.columns(); ++x) {
      if (ours.cell(x, y).ch != ref.ch(x, y)) {
        return "cell " + std::to_string(x) + "," + std::to_string(y) + ": " +
               std::to_string(ours.cell(x, y).ch) + " vs " + std::to_string(ref.ch(x, y));
      }
    }
  }
  const VTermPos pos = ref.cursor();
  if (pos.col != ours.cursorColumn() || pos.row != ours.cursorRow()) {
    return "cursor " + std::to_string(ours.cursorColumn()) + "," +
           std::to_string(ours.cursorRow()) + " vs " + std::to_string(pos.col) + "," +
           std::to_string(pos.row);
  }
  return "";
}

TEST(TerminalStreams, AgreesWithReferenceTerminal) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    std::mt19937 rng(seed);
    const int columns = 20 + static_cast<int>(rng() % 80);
    const int rows = 3 + static_cast<int>(rng() % 25);
    RecordingClient client;
    Terminal ours(client, columns, rows);
    Reference ref(columns, rows);
    // Compare after every piece so that a difference points at the piece that made it.
    std::string history;
    StreamGenerator generator(rng, StreamKind::Comparable, rows);
    for (int piece = 0; piece < 40; ++piece) {
      const std::string bytes = generator.next(200);
      history += bytes;
      ours.feed(bytes);
      ref.feed(bytes);
      const std::string diff = firstDifference(ours.screen(), ref);
      ASSERT_EQ(diff, "") << "seed " << seed << " size " << columns << "x" << rows << " input "
                          << testing::PrintToString(history);
      ASSERT_EQ(client.replies, ref.replies) << "seed " << seed;
    }
  }
}

} // namespace
} // namespace kestel
