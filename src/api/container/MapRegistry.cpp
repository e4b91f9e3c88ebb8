#include "api/container/MapRegistry.h"

#include "api/container/LiveSources.h"
#include "gen/ModelContext.h"

#include <algorithm>
#include <map>

namespace kestel {

namespace {

constexpr size_t kMaxPathLength = 16;

std::map<Path, IGenericMap*>& registry() {
  static std::map<Path, IGenericMap*> maps;
  return maps;
}

Path trimmed(Path path) {
  path.erase(std::find(path.begin(), path.end(), kNoId), path.end());
  return path;
}

} // namespace

void registerObjectMap(const Path& path, IGenericMap* map) {
  if (!map)
    return;
  Path p = trimmed(path);
  registry()[p] = map;
  if (!modelContext().objectDirectory && !modelContext().enumSource)
    installLiveSources();
  liveMapRegistered(p);
}

void unregisterObjectMap(const IGenericMap* map) {
  std::erase_if(registry(), [map](const auto& entry) { return entry.second == map; });
}

IGenericMap* getObjectMap(const unsigned int* path) {
  Path p;
  for (size_t i = 0; path && i < kMaxPathLength && path[i] != kNoId; ++i)
    p.push_back(path[i]);
  return getObjectMap(p);
}

IGenericMap* getObjectMap(const Path& path) {
  auto it = registry().find(trimmed(path));
  return it == registry().end() ? nullptr : it->second;
}

} // namespace kestel
