// kestel-cli's log-in through a Hoplink agent ("--hoplink <agent>"): logs in to the agent with
// the same password and the login name marked for an agent step, attaches to its overlay, and
// reaches the target router by its MAC address through it, as the loader's two-step connect
// does.
#pragma once

#include "app/ConnectStep.h"

namespace kestel {

// `agent` names the agent and carries the login and password for both routers; the outcome is
// that of the target's login, or the first failure with its text.
ConnectOutcome loginThroughAgent(ConnectRequest agent, const std::string& targetMac);

// Logs in to the agent and attaches as above, then follows the agent's neighbour list for
// `seconds` and prints it with the loader's "Hoplink Neighbors" columns (as JSON objects with
// `json`). Returns the exit code; failures are printed on stderr.
int printHoplinkNeighbours(ConnectRequest agent, unsigned seconds, bool json);

} // namespace kestel
