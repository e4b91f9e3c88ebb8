// The application's own places on disk below the application-data folder (`appDataFolder()`,
// shared with the descriptor cache): the one-line path files in it ("path" names the address book
// in use, "sessionpath" the sessions folder), and the choice of address book at start.
#pragma once

#include "app/CacheFolders.h"

#include <optional>
#include <string>

namespace kestel {

inline constexpr size_t kMaxPathLine = 259;

// The first line of a path file without surrounding white space; empty for a missing file or a
// blank line. A line longer than 259 characters is refused (logged "ERROR:", empty returned)
// rather than cut into a different path.
std::string readPathFile(const std::string& file);
// Replaces the path file with `value` and a newline; false (logged) on failure.
bool writePathFile(const std::string& file, const std::string& value);

// The address book to open: the command line's file, else "path"'s line, else
// <app-data>/Addresses.cdb.
std::string chooseAddressBook(const std::string& appData, const std::string& commandLineFile);

// The sessions folder from "sessionpath", else <app-data>/sessions (created).
std::string sessionsFolder(const std::string& appData);

// Moves the session files to `folder` and records it in "sessionpath". False when the new
// folder cannot be recorded.
bool moveSessionsFolder(const std::string& appData, const std::string& folder);

} // namespace kestel
