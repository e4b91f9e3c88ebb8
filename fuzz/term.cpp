// A router console may send any bytes. Input: two bytes for the screen size, one for the split
// step, then the console stream. The stream is fed whole into one terminal and in pieces into
// another; both must end in the same state, with the cursor and the scrolling region inside
// the screen.
#include "api/term/Terminal.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

struct NullClient final : kestel::TerminalClient {
  void reply(std::string_view) override {}
  void beep(int, int) override {}
};

bool inside(const kestel::TerminalScreen& s) {
  return s.cursorColumn() >= 0 && s.cursorColumn() < s.columns() && s.cursorRow() >= 0 &&
         s.cursorRow() < s.rows() && s.scrollTop() >= 0 && s.scrollTop() < s.scrollBottom() + 1 &&
         s.scrollBottom() < s.rows();
}

bool same(const kestel::TerminalScreen& a, const kestel::TerminalScreen& b) {
  if (a.cursorColumn() != b.cursorColumn() || a.cursorRow() != b.cursorRow() ||
      a.pendingWrap() != b.pendingWrap() || a.scrollTop() != b.scrollTop() ||
      a.scrollBottom() != b.scrollBottom() || a.alternateActive() != b.alternateActive() ||
      a.insertMode() != b.insertMode() || a.activeSet() != b.activeSet() ||
      a.characterSet(0) != b.characterSet(0) || a.characterSet(1) != b.characterSet(1) ||
      a.attrA() != b.attrA() || a.attrB() != b.attrB()) {
    return false;
  }
  for (int y = 0; y < a.rows(); ++y) {
    for (int x = 0; x < a.columns(); ++x) {
      if (!(a.cell(x, y) == b.cell(x, y))) {
        return false;
      }
    }
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) {
    return 0;
  }
  const int columns = 1 + data[0] % 100;
  const int rows = 1 + data[1] % 40;
  const std::size_t step = 1 + data[2] % 17;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 3, size - 3);

  NullClient client;
  kestel::Terminal whole(client, columns, rows);
  kestel::Terminal pieces(client, columns, rows);
  whole.feed(stream);
  for (std::size_t at = 0; at < stream.size(); at += step) {
    pieces.feed(stream.substr(at, step));
  }
  if (!inside(whole.screen()) || !same(whole.screen(), pieces.screen())) {
    __builtin_trap();
  }
  const kestel::TerminalRect r = whole.takeChangedRect();
  if (r.empty() || r.left < 0 || r.top < 0 || r.right >= columns || r.bottom >= rows) {
    __builtin_trap();
  }
  // A resize of the filled screen keeps everything inside too.
  whole.resize(data[1] % 120, data[0] % 50);
  whole.feed(stream.substr(0, 256));
  if (!inside(whole.screen())) {
    __builtin_trap();
  }
  return 0;
}
