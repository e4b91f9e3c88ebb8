// A headless terminal: the parser and the screen model joined. The owner feeds the console's
// bytes in chunks as they arrive, then paints `takeChangedRect()` of `screen()`. Any split of
// the same bytes into chunks gives the same screen.
#pragma once

#include "api/term/TerminalParser.h"
#include "api/term/TerminalScreen.h"

#include <string_view>

namespace kestel {

class Terminal {
public:
  Terminal(TerminalClient& client, int columns, int rows)
      : screen_(client, columns, rows), parser_(screen_) {}
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Executes one chunk of input; never fails on input.
  void feed(std::string_view bytes) {
    screen_.beginChunk();
    parser_.feed(bytes);
  }
  void resize(int columns, int rows) { screen_.resize(columns, rows); }
  TerminalRect takeChangedRect() { return screen_.takeChangedRect(); }
  const TerminalScreen& screen() const { return screen_; }

private:
  TerminalScreen screen_;
  TerminalParser parser_;
};

} // namespace kestel
