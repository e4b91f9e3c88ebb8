// The desktop program after Qt has started: decides what this run is (decideStartup) and brings
// up the loader (LoaderStart with a LoaderWindow, auto-connect included) or, for a session handed
// over by another instance, starts it at once (ChildSession). Either way a logged-in session goes
// to the session starter with its parameters and link; the loader closes once it has handed its
// session over. `--demo` shows the demonstration window instead; `--screenshots <folder>` writes
// the first window as PNGs and quits; `--quit-when-shown` quits after its first paint.
#pragma once

#include "app/SessionLink.h"

#include <QString>

#include <functional>
#include <memory>
#include <span>
#include <string>

namespace kestel::gui {

struct ProgramSwitches {
  bool demo = false;
  bool quitWhenShown = false;
  QString screenshots;    // folder; empty: none
  std::string iconFolder; // the demonstration window's icon sheets
};

using SessionStarter = std::function<void(nv::message parameters, std::unique_ptr<SessionLink>)>;

// Takes the program's own switches out of `args` (they are not the command line's), leaving the
// rest in place; false (with `error` set) for a switch missing its value.
bool takeProgramSwitches(std::vector<char*>& args, ProgramSwitches& switches, std::string& error);

// Runs the program on the QApplication that exists; returns the exit code.
int runProgram(std::span<char*> args, const ProgramSwitches& switches, SessionStarter starter);

} // namespace kestel::gui
