// kestel-cli's side of "Open In New Window": "--new-window" logs in and gets ready as --menus
// does, then hands the session to a new kestel-cli process and exits; that process ("-") takes
// the session from its standard input, fetches the router's descriptor index over the handed-over
// connection, says whether it matches the one handed over, and prints the menus.
#pragma once

#include "app/ConnectStep.h"

namespace kestel::cli {

// The parent: exit code 0 once the child has the session.
int openInNewProcess(ConnectRequest request);

// The child: exit code 0 when the session carried on and the index was read over it.
int runHandedOverSession();

} // namespace kestel::cli
