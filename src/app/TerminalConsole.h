// A terminal session joined to the emulator, as a terminal window holds them: the router's bytes
// go through the emulator, whose replies (device attributes, cursor reports) go back to the
// router as input; a resize reaches both. The owner learns of changed cells, state changes and
// beeps through callbacks, and must not destroy the console from inside one.
#pragma once

#include "api/term/Terminal.h"
#include "app/TerminalSession.h"

#include <functional>
#include <string>

namespace kestel {

class TerminalConsole final : public TerminalSessionClient, public TerminalClient {
public:
  struct Callbacks {
    std::function<void(std::string_view)> received;   // the router's bytes, before the emulator
    std::function<void(const TerminalRect&)> changed; // cells to repaint
    std::function<void()> stateChanged;
    std::function<void(int hertz, int milliseconds)> beep;
    std::function<void(const TerminalCell* cells, int count)> scrolledOff;
  };

  TerminalConsole(Reactor& reactor, std::string title, int columns, int rows,
                  Callbacks callbacks = {});

  TerminalSession& session() { return session_; }
  const TerminalSession& session() const { return session_; }
  const TerminalScreen& screen() const { return terminal_.screen(); }
  Terminal& terminal() { return terminal_; }

  void open(const std::string& login, const TerminalTarget& target) {
    session_.open(login, target, terminal_.screen().columns(), terminal_.screen().rows());
  }
  void resize(int columns, int rows);

  void output(std::string_view bytes) override;
  void stateChanged() override;
  void reply(std::string_view bytes) override { session_.input(bytes); }
  void beep(int hertz, int milliseconds) override;
  void scrolledOff(const TerminalCell* cells, int count) override;

private:
  Callbacks callbacks_;
  Terminal terminal_;
  TerminalSession session_;
};

} // namespace kestel
