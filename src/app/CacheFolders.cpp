#include "app/CacheFolders.h"

#include "miw/SafeFile.h"
#include "miw/Version.h"
#include "util/Log.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace kestel {
namespace fs = std::filesystem;

namespace {

std::string homeBased(const char* variable, const char* fallback) {
  const char* v = std::getenv(variable);
  if (v && *v)
    return v;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + fallback;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  auto yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void emptyFolder(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.')
      continue;
    if (it->is_directory(ec) && !it->is_symlink(ec))
      emptyFolder(it->path());
    else
      fs::remove(it->path(), ec);
  }
}

bool recentEnough(const fs::path& folder, std::time_t now) {
  for (const char* record : kAgeRecords) {
    fs::path p = folder / record;
    FILE* f = std::fopen(p.c_str(), "re");
    if (!f)
      continue;
    struct stat st {};
    bool known = ::fstat(fileno(f), &st) == 0;
    std::fclose(f);
    if (!known)
      return true;
    return localDayNumber(now) - localDayNumber(st.st_mtime) <= kKeepDays;
  }
  return true;
}

} // namespace

bool ensureFolder(const std::string& path) {
  if (!makeFolders(path)) {
    logf("couldn't make directory ", path);
    return false;
  }
  return true;
}

std::string appDataFolder() {
  const char* own = std::getenv("KESTEL_HOME");
  std::string folder = own && *own
                           ? std::string(own)
                           : homeBased("XDG_DATA_HOME", "/.local/share") + "/Halvorne/Kestel";
  return ensureFolder(folder) ? folder : std::string();
}

int64_t localDayNumber(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return daysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                       static_cast<unsigned>(tm.tm_mday));
}

std::vector<std::string> pruneCache(const std::string& appData, bool clearAll, std::time_t now) {
  std::vector<std::string> emptied;
  if (appData.empty())
    return emptied;
  std::error_code ec;
  for (fs::directory_iterator it(appData, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (parseVersion(name.substr(0, name.find('-'))) == 0)
      continue;
    if (!it->is_directory(ec) || it->is_symlink(ec))
      continue;
    if (!clearAll && recentEnough(it->path(), now))
      continue;
    emptyFolder(it->path());
    emptied.push_back(it->path().string());
  }
  return emptied;
}

std::vector<std::string> pruneCache(bool clearAll) {
  return pruneCache(appDataFolder(), clearAll, std::time(nullptr));
}

} // namespace kestel
