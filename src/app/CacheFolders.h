// Where descriptor files are cached: one folder per router version below the application-data
// folder ($KESTEL_HOME, else $XDG_DATA_HOME/Halvorne/Kestel, else
// ~/.local/share/Halvorne/Kestel), and the pruning of folders that were not used for a month.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace kestel {

// The application-data folder, created when missing; empty (after logging "couldn't make
// directory <path>") when it cannot be made.
std::string appDataFolder();

// Creates `path` and its missing parents (mode 0700); false (logged as above) on failure.
bool ensureFolder(const std::string& path);

// Days since 1970-01-01 of the local calendar date at `t`.
int64_t localDayNumber(std::time_t t);

// A cache folder's age is judged by the first of these records it holds.
inline constexpr const char* kAgeRecords[] = {"system.crc", "nimbalux.crc", "nimblux.crc"};
inline constexpr int64_t kKeepDays = 31;

// For every folder of `appData` whose name up to its first "-" is a version: with `clearAll`
// empties it; otherwise empties it when its age record was last written more than 31 calendar
// days before `now` (a folder without a readable record is kept). Emptying deletes every file
// below the folder, sub-folders included, skipping names starting with "."; folders stay.
// Returns the folders emptied.
std::vector<std::string> pruneCache(const std::string& appData, bool clearAll, std::time_t now);
// The same for the application-data folder at the current time.
std::vector<std::string> pruneCache(bool clearAll);

} // namespace kestel
