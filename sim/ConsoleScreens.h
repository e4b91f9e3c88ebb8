// What the simulator's console prints: texts built for a window of a given size, using colours,
// cursor movement, the line-drawing set, the alternate screen and scrolling regions. Each
// function returns the bytes to send; none keeps state.
#pragma once

#include <cstdint>
#include <string>

namespace kestel::sim {

std::string consoleHelp();
// The eight foreground colours over the eight background colours, with bold and reverse.
std::string colourTable();
// A box of line-drawing characters as wide as the window, with `title` inside.
std::string lineBox(int columns, const std::string& title);
// A routing-table listing of `lines` rows with a bold header and coloured flags.
std::string routeListing(int lines);
// The full-screen view, frame `tick`: alternate screen, a header, a scrolling region of rows
// that change from frame to frame; `enter` first switches to the alternate screen.
std::string topFrame(int columns, int rows, uint64_t tick, bool enter);
// Leaves the full-screen view: the whole screen as scrolling region, the main screen back.
std::string topLeave();
// Piece `n` of the mixed stream a flood sends (listings, boxes, regions, redraws), about 4 KiB.
std::string floodPiece(uint64_t n, int columns, int rows);

} // namespace kestel::sim
