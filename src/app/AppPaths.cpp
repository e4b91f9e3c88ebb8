#include "app/AppPaths.h"

#include "miw/SafeFile.h"
#include "miw/SessionFiles.h"
#include "util/Log.h"

#include <cstdlib>

namespace kestel {

namespace {

std::string trimmed(const std::string& s) {
  const char* blanks = " \t\r\n\v\f";
  size_t a = s.find_first_not_of(blanks);
  if (a == std::string::npos)
    return {};
  return s.substr(a, s.find_last_not_of(blanks) - a + 1);
}

} // namespace

std::string readPathFile(const std::string& file) {
  auto bytes = readWholeFile(file);
  if (!bytes)
    return {};
  std::string text(bytes->begin(), bytes->end());
  std::string line = trimmed(text.substr(0, text.find('\n')));
  if (line.size() > kMaxPathLine) {
    logf("ERROR: path in ", file, " is longer than ", kMaxPathLine, " characters - ignored");
    return {};
  }
  return line;
}

bool writePathFile(const std::string& file, const std::string& value) {
  auto made = makeFolders(parentFolder(file));
  std::string line = value + "\n";
  auto saved = made ? saveFileAtomically(file, asBytes(line), "kstl") : made;
  if (!saved)
    logf("ERROR: could not write ", file, ": ", saved.error().text);
  return saved.ok();
}

std::string chooseAddressBook(const std::string& appData, const std::string& commandLineFile) {
  if (!commandLineFile.empty())
    return commandLineFile;
  std::string chosen = readPathFile(appData + "/path");
  return chosen.empty() ? appData + "/Addresses.cdb" : chosen;
}

std::string sessionsFolder(const std::string& appData) {
  std::string folder = readPathFile(appData + "/sessionpath");
  if (folder.empty())
    folder = appData + "/sessions";
  auto made = makeFolders(folder);
  if (!made)
    logf("ERROR: ", made.error().text);
  return folder;
}

bool moveSessionsFolder(const std::string& appData, const std::string& folder) {
  moveSessionFiles(sessionsFolder(appData), folder);
  return writePathFile(appData + "/sessionpath", folder);
}

} // namespace kestel
