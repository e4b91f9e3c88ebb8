#include "app/TerminalConsole.h"

namespace kestel {

TerminalConsole::TerminalConsole(Reactor& reactor, std::string title, int columns, int rows,
                                 Callbacks callbacks)
    : callbacks_(std::move(callbacks)), terminal_(*this, columns, rows),
      session_(reactor, *this, std::move(title)) {}

void TerminalConsole::resize(int columns, int rows) {
  terminal_.resize(columns, rows);
  // The emulator clamps what it cannot show; the router learns the size it really has.
  session_.resize(terminal_.screen().columns(), terminal_.screen().rows());
  if (callbacks_.changed)
    callbacks_.changed(terminal_.takeChangedRect());
}

void TerminalConsole::output(std::string_view bytes) {
  if (callbacks_.received)
    callbacks_.received(bytes);
  terminal_.feed(bytes);
  TerminalRect rect = terminal_.takeChangedRect();
  if (callbacks_.changed && !rect.empty())
    callbacks_.changed(rect);
}

void TerminalConsole::stateChanged() {
  if (callbacks_.stateChanged)
    callbacks_.stateChanged();
}

void TerminalConsole::beep(int hertz, int milliseconds) {
  if (callbacks_.beep)
    callbacks_.beep(hertz, milliseconds);
}

void TerminalConsole::scrolledOff(const TerminalCell* cells, int count) {
  if (callbacks_.scrolledOff)
    callbacks_.scrolledOff(cells, count);
}

} // namespace kestel
