// The text of a terminal screen in UTF-8, for copying and for printing a screen.
#pragma once

#include "api/term/TerminalScreen.h"

#include <string>

namespace kestel {

// Row `row` of the active buffer, trailing spaces removed.
std::string terminalRowText(const TerminalScreen& screen, int row);
// Every row of the active buffer, each followed by '\n'; empty rows at the bottom are left out.
std::string terminalScreenText(const TerminalScreen& screen);

} // namespace kestel
