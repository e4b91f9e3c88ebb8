#include "api/container/MapRegistry.h"

#include "gen/CType.h"
#include "gen/ModelContext.h"
#include "gen/Predicate.h"

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

// "object" predicates see the registered maps through this.
class MapDirectory final : public IObjectDirectory {
public:
  bool findObject(const std::vector<uint32_t>& path, uint32_t id, ObjectView& out) override {
    IGenericMap* map = getObjectMap(path);
    IObject* object = map ? map->find(id) : nullptr;
    if (!object)
      return false;
    out = ObjectView{object->getCType(), object->record().data()};
    return true;
  }
};

MapDirectory& directory() {
  static MapDirectory d;
  return d;
}

} // namespace

void registerObjectMap(const Path& path, IGenericMap* map) {
  if (!map)
    return;
  registry()[trimmed(path)] = map;
  if (!modelContext().objectDirectory)
    setObjectDirectory(&directory());
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
