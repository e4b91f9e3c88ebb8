// The hand-off that finishes a self-upgrade, in three processes:
//   1. the running program has downloaded and checked the new one (UpgradeHandler) and starts it
//      with "\c <own path>", then quits;
//   2. the new program, started as "\c <target>", copies itself over the target (UpgradeFiles:
//      beside it, flushed, renamed, the target's permission bits kept) and starts the target with
//      "\d <own path>", then exits;
//   3. the target, now the new program, started as "\d <path>", deletes the downloaded file and
//      starts as with an empty command line.
// Should step 2 fail to replace the target, it still starts the target (the old program) with
// "\d", so the user gets the program back and the download goes.
#pragma once

#include "util/Expected.h"

#include <span>
#include <string>

namespace kestel {

// Step 1: starts `downloaded` with "\c <target>". Logs "ERROR: failed to start updated version"
// on failure.
Expected<void> startUpgradedProgram(const std::string& downloaded, const std::string& target);

// Step 2 ("\c <target>"), run by the new program; logs what fails.
void finishUpgrade(const std::string& target);

// Step 3 ("\d <path>"): deletes the file, which must be a download of step 1 (a ".ksx" name, not
// a folder); anything else is left alone and logged. Logs "error=" and the error number when the
// file cannot be deleted.
void deleteDownloadedProgram(const std::string& path);

// What start-up does with the raw forms: None (no hand-off form), Exit (step 2 ran; exit 0), or
// StartEmpty (step 3 ran; go on as with an empty command line).
enum class HandOffStep { None, Exit, StartEmpty };
HandOffStep runHandOffForms(std::span<char* const> args);

} // namespace kestel
