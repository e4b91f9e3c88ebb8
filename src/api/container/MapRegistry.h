// Maps by handler path: getObjectMap finds the map a descriptor made for a path, and "object"
// predicates and computed enumerations look objects up through the same registry (LiveSources;
// installed in the model context when the first map registers, unless something else is). A later
// map for the same path takes the place of the earlier one; a map leaves the registry when it goes.
#pragma once

#include "api/container/GenericMap.h"

#include <cstdint>

namespace kestel {

// Registers `map` for its path (the path as given, without a sub-handler).
void registerObjectMap(const Path& path, IGenericMap* map);
// Removes every registration of `map`; unknown maps are ignored.
void unregisterObjectMap(const IGenericMap* map);
// The map registered for the path (terminated by 0xFFFFFFFF, at most 16 numbers read), or null.
IGenericMap* getObjectMap(const unsigned int* path);
IGenericMap* getObjectMap(const Path& path);

} // namespace kestel
