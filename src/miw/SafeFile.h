// Whole-file reads and crash-safe replacement of the user's files (settings, session files,
// address books, path files). A save writes a temporary file with mode 0600 in the target's own
// folder, flushes it to disk, and renames it over the target, so that at every moment the target
// is either the old file or the new one, whole, and no copy of the data sits in a shared folder.
#pragma once

#include "util/Bytes.h"
#include "util/Expected.h"

#include <functional>
#include <string>

namespace kestel {

// Reads the whole file; fails with the step and the errno text.
Expected<Bytes> readWholeFile(const std::string& path);

// Replaces `target` with `data`. The temporary file is named `prefix` + six random characters
// in the target's folder, which must exist. On failure the temporary file is removed, the target
// is untouched, and the error names the step and the errno text.
Expected<void> saveFileAtomically(const std::string& target, ByteSpan data,
                                  const std::string& prefix);

// Creates the folder and every missing parent with mode 0700; fine when it exists.
Expected<void> makeFolders(const std::string& path);

// The folder part of a path ("." for a bare name).
std::string parentFolder(const std::string& path);

bool isRegularFile(const std::string& path);
bool isFolder(const std::string& path);

// Tests only: called before each write(2) of a save with its index from 0; returning false fails
// that write with EIO. Writes are cut into pieces of at most `chunk` bytes (0: no limit). An
// empty hook restores the default.
void setSaveWriteHookForTesting(std::function<bool(size_t writeIndex)> hook, size_t chunk);

} // namespace kestel
