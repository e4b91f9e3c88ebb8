#include "miw/SessionFiles.h"

#include "miw/SafeFile.h"
#include "util/Log.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>

namespace kestel {

namespace {

bool isSessionFile(const std::string& file) {
  if (file.size() < 4 || file == kLoaderSettingsFile)
    return false;
  std::string ext = file.substr(file.size() - 4);
  for (char& c : ext)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".viw";
}

std::vector<std::string> sessionFilesIn(const std::string& folder) {
  std::vector<std::string> files;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir)
    return files;
  while (const dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (isSessionFile(name) && isRegularFile(folder + "/" + name))
      files.push_back(std::move(name));
  }
  ::closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

} // namespace

std::string cleanSessionName(const std::string& name) {
  std::string out = name;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c < 32 || std::strchr("\"*<>|?", c))
      out[i] = '.';
    else if (c == ':')
      out[i] = '%';
  }
  return out;
}

std::optional<std::string> sessionFilePath(const std::string& name, const std::string& address,
                                           const std::string& folder) {
  if (name.empty() || name == kNoSession)
    return std::nullopt;
  std::string cleaned = cleanSessionName(name == kOwnSession ? address : name);
  if (cleaned.empty())
    return std::nullopt;
  if (cleaned.find_first_of("/\\") != std::string::npos)
    return cleaned + ".viw";
  return folder + "/" + cleaned + ".viw";
}

std::vector<std::string> listSessions(const std::string& folder) {
  std::vector<std::string> names;
  for (std::string file : sessionFilesIn(folder)) {
    file.resize(file.size() - 4);
    std::replace(file.begin(), file.end(), '%', ':');
    names.push_back(std::move(file));
  }
  names.push_back(kNoSession);
  names.push_back(kOwnSession);
  return names;
}

size_t moveSessionFiles(const std::string& from, const std::string& to) {
  auto made = makeFolders(to);
  if (!made) {
    logf("ERROR: could not move sessions: ", made.error().text);
    return 0;
  }
  size_t moved = 0;
  for (const std::string& file : sessionFilesIn(from)) {
    std::string source = from + "/" + file;
    std::string target = to + "/" + file;
    if (std::rename(source.c_str(), target.c_str()) == 0) {
      ++moved;
      continue;
    }
    if (errno != EXDEV) {
      logf("ERROR: could not move ", source, ": ", std::strerror(errno));
      continue;
    }
    auto bytes = readWholeFile(source);
    auto saved = bytes ? saveFileAtomically(target, *bytes, "viw") : Expected<void>(bytes.error());
    if (!saved) {
      logf("ERROR: could not move ", source, ": ", saved.error().text);
      continue;
    }
    std::remove(source.c_str());
    ++moved;
  }
  return moved;
}

} // namespace kestel
