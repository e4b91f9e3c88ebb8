// Replays an exported change script with kestel-cli against a simulator on loopback, as a user
// would run it: ADDRESS, LOGIN and KESTEL_PASSWORD set, KESTEL_CLI naming the built program.
#pragma once

#include "support/Programs.h"

#include <fstream>
#include <string>

namespace kestel::test {

// Runs the script file `path` against the simulator at `port` (user admin, password "pw");
// returns its output followed by "exit <code>".
inline std::string replayChangeScript(const std::string& path, int port,
                                      const std::string& cliPath) {
  return runCommand("ADDRESS=127.0.0.1:" + std::to_string(port) +
                    " LOGIN=admin KESTEL_PASSWORD=pw KESTEL_CLI=" + cliPath + " sh " + path);
}

} // namespace kestel::test
