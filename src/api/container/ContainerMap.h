// The light container: objects made by a factory under a handler path and filled by its owner (a
// query's results, a list a window builds), with the same map events as an object map but none
// of its requests. Batches follow the object map's rule: up to 49 objects are announced one by
// one, from 50 on one reset event replaces them.
#pragma once

#include "api/container/GenericMap.h"

#include <string>
#include <vector>

namespace kestel {

class ContainerMap final : public MapBase {
public:
  ContainerMap(Reference<IObjectFactory> factory, Path path, bool ordered, bool addRemove);
  ~ContainerMap() override;

  const Path& path() const { return path_; }
  bool addRemoveAllowed() const { return addRemove_; }
  // The owner fills the container; there is nothing to fetch.
  void open() override {}

  // Applies object messages in order: STD_ID names the object (0xFFFFFFFE and up are skipped),
  // a non-zero STD_DEAD removes it, an unknown id is made by the factory (skipped when it makes
  // none) and added at the end, a known one is updated.
  void apply(const std::vector<nv::message>& elements);
  // apply() over the STD_OBJS array of `message`.
  void applyObjects(const nv::message& message);
  // Inserts an object made elsewhere under `id` (replacing one with that id).
  void insert(uint32_t id, const Reference<IObject>& object);
  void erase(uint32_t id);
  // Empties the container (one reset event).
  void clear();
  // Shows `text` in place of the content (empty: healthy again); listeners get a reset.
  void setStatus(std::string text);

private:
  Reference<IObjectFactory> factory_;
  Path path_;
  bool addRemove_;
};

} // namespace kestel
