// kestel-cli's cache commands: "cache ls", "cache clear" and "--offline <folder> menus".
#pragma once

namespace kestel::cli {

// Runs a cache command when argv names one and returns its exit code; -1 when it does not.
int runCacheCommand(int argc, char** argv);

} // namespace kestel::cli
