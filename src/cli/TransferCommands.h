// kestel-cli's file transfers: "put" copies local files and folders to the router's file store,
// "get" copies the router's files and folders here, both through the same transfer engine as the
// desktop program's progress windows, with the progress texts on stderr.
#pragma once

#include "CommandSupport.h"
#include "MenuCommands.h"

namespace kestel::cli {

// Runs "put <local>... [remote-folder]" or "get <remote>... [local-folder]" over the open
// session; returns the exit code (0 only when every file arrived whole).
int runTransferCommand(CommandContext& context, const RouterCommand& command);

} // namespace kestel::cli
