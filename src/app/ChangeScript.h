// "Export as script": the session's changes as a shell script of kestel-cli commands that makes
// them again on another router. Changes the router refused or has undone are left out; reverts
// are changes like any other. Objects this session added are named by the id the replayed add
// prints, kept in a shell variable; every other object by its id here, so the script fits a
// router that holds the same objects (a copy of this one's configuration, or a fresh simulator).
// The script stops at the first command that fails.
#pragma once

#include "app/ChangeLog.h"

#include <string>

namespace kestel {

// The script. It runs with ADDRESS (address[:port]) and LOGIN set and the password in
// KESTEL_PASSWORD; KESTEL_CLI names the program when it is not `kestel-cli` on the PATH.
std::string changeScript(const ChangeLog& log);

// `text` quoted for the shell: in single quotes, each quote in it as '\''.
std::string shellQuoted(const std::string& text);

} // namespace kestel
