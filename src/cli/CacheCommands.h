// kestel-cli's cache commands: "cache ls", "cache clear" and "--offline <folder> menus".
#pragma once

namespace kestel::cli {

// Runs a cache command when argv names one and returns its exit code; -1 when it does not.
int runCacheCommand(int argc, char** argv);

// Prints the launcher tree of the loaded descriptor model: groups in order of first appearance
// with their offered services below, then the offered services without a group.
void printMenus();

} // namespace kestel::cli
