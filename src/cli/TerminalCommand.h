// kestel-cli terminal: a terminal session to the router from the command line. On a terminal it
// runs interactively (raw mode, restored on every way out; window size changes are sent along;
// Ctrl-] leaves); otherwise it sends its standard input, prints what the router sends and ends
// when the router closes the session or stays silent for the time-out.
#pragma once

namespace kestel::cli {

// argv[0] is "terminal"; returns the exit code.
int runTerminalCommand(int argc, char** argv);

} // namespace kestel::cli
