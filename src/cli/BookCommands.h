// kestel-cli's address-book and settings commands: "book list|import|export|add|passwd" through
// the address-book store, "settings dump" of a settings or session file as JSON, and "settings
// upgrade-server" to show or change the loader's upgrade server.
#pragma once

namespace kestel {

// argv holds the words after "book" / "settings"; the result is the process's exit code.
int runBookCommand(int argc, char** argv);
int runSettingsCommand(int argc, char** argv);

} // namespace kestel
