// Where a session's settings file lives: the session name turned into a file name ("<none>" for
// no file, "<own>" for the router's address, unsafe characters replaced, ":" kept as "%"), the
// list of saved sessions in a folder, and moving those files to another folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestel {

inline constexpr const char* kNoSession = "<none>";
inline constexpr const char* kOwnSession = "<own>";
inline constexpr const char* kLoaderSettingsFile = "settings.cfg.viw";

// The name with every character below 32 and each of " * < > | ? made ".", and every ":" made
// "%". Paths here have no drive prefix, so a leading "C:" is cleaned like any other colon.
std::string cleanSessionName(const std::string& name);

// The session file of `name`: none for "<none>" (and for an empty name); "<own>" stands for
// `address`; a cleaned name without "/" or "\" goes into `folder`, one with either is a path.
// ".viw" is appended.
std::optional<std::string> sessionFilePath(const std::string& name, const std::string& address,
                                           const std::string& folder);

// The session names of the ".viw" files (any case) in `folder` other than the loader's own
// settings file, "%" turned back into ":", sorted; then "<none>" and "<own>". A folder that
// cannot be read lists only those two.
std::vector<std::string> listSessions(const std::string& folder);

// Moves every session file of `from` into `to` (created when missing), replacing files of the
// same name; a file that cannot be renamed across file systems is copied through a safe save
// and then removed. Returns the number moved; failures are logged ("ERROR:") and skipped.
size_t moveSessionFiles(const std::string& from, const std::string& to);

} // namespace kestel
