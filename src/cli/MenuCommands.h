// kestel-cli's router commands: the launcher tree ("menus"), tables and settings pages read and
// changed ("ls", "get", "set", "add", "rm", "mv"), actions, queries and commands run ("run"),
// and a table's changes followed as the router pushes them ("watch"). They work over the same
// live containers as the windows. Exit codes: 0 success, 1 the router refused (its text on
// stderr) or could not be reached, 2 a usage error.
#pragma once

#include "app/ConnectStep.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kestel::cli {

// True when `word` names a router command.
bool isRouterCommand(std::string_view word);

// The command's arguments as typed after its name.
struct RouterCommand {
  std::string name;
  std::vector<std::string> args;
};

// Prints the usage lines of every router command (for the program's usage text).
void printRouterCommandsUsage(FILE* out = stderr);
// When the arguments ask for help ("--help" among them) prints the command's help and returns 0;
// -1 otherwise.
int routerCommandHelp(const RouterCommand& command);
// Checks the arguments, connects and logs in with `connect`, loads the router's descriptors and
// runs the command.
int runRouterCommand(const RouterCommand& command, ConnectRequest connect);

} // namespace kestel::cli
