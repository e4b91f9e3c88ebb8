// The descriptor cache from the command line: list the per-version folders, clear them, and
// browse a cached descriptor set without a router ("--offline <folder> menus").
#include "CacheCommands.h"

#include "app/CacheFolders.h"
#include "app/DescriptorCache.h"
#include "app/MenuCatalog.h"
#include "gen/Service.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

namespace kestel::cli {
namespace {

namespace fs = std::filesystem;

int listCache() {
  std::string app = appDataFolder();
  if (app.empty())
    return 1;
  std::printf("cache: %s\n", app.c_str());
  std::map<std::string, std::pair<size_t, uintmax_t>> folders;
  std::error_code ec;
  for (fs::directory_iterator it(app, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_directory(ec))
      continue;
    auto& [count, bytes] = folders[it->path().filename().string()];
    for (fs::recursive_directory_iterator f(it->path(), ec), fend; !ec && f != fend;
         f.increment(ec))
      if (f->is_regular_file(ec)) {
        ++count;
        bytes += f->file_size(ec);
      }
  }
  for (const auto& [name, stats] : folders)
    std::printf("%-24s %4zu files %10ju bytes\n", name.c_str(), stats.first, stats.second);
  return 0;
}

int clearCache() {
  std::vector<std::string> emptied = pruneCache(true);
  for (const std::string& folder : emptied)
    std::printf("cleared %s\n", folder.c_str());
  return 0;
}

int offlineMenus(const std::string& folder) {
  Reference<DescriptorCache> cache = makeRef<DescriptorCache>(std::string());
  std::string path = folder;
  if (!fs::is_directory(path)) {
    std::string app = appDataFolder();
    path = app + "/" + folder; // a folder name as "cache ls" shows it
  }
  if (!cache->adoptFolder(path)) {
    std::fprintf(stderr, "kestel-cli: no complete descriptor set in %s\n", path.c_str());
    return 1;
  }
  if (!cache->load()) {
    std::fprintf(stderr, "kestel-cli: Could not start plugins\n");
    return 1;
  }
  (void)completeAllTypes();
  printMenus();
  return 0;
}

void usage() {
  std::fprintf(stderr, "usage: kestel-cli cache ls | cache clear\n"
                       "       kestel-cli --offline <router-version-folder> menus\n");
}

} // namespace

int runCacheCommand(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "cache") == 0) {
    if (argc == 3 && std::strcmp(argv[2], "ls") == 0)
      return listCache();
    if (argc == 3 && std::strcmp(argv[2], "clear") == 0)
      return clearCache();
    usage();
    return 2;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--offline") == 0) {
    if (argc == 4 && std::strcmp(argv[3], "menus") == 0)
      return offlineMenus(argv[2]);
    usage();
    return 2;
  }
  return -1;
}

void printMenus() {
  std::vector<std::string> groups;
  for (const auto& s : services())
    if (!s->group.empty() && std::find(groups.begin(), groups.end(), s->group) == groups.end())
      groups.push_back(s->group);
  for (const std::string& g : groups) {
    std::printf("%s\n", g.c_str());
    for (const auto& s : services())
      if (s->group == g && inLauncher(*s))
        std::printf("  %s\n", s->title.c_str());
  }
  for (const auto& s : services())
    if (s->group.empty() && inLauncher(*s))
      std::printf("%s\n", s->title.c_str());
}

} // namespace kestel::cli
