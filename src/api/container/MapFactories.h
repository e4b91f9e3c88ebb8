// The factories the descriptor model and the windows make maps with. Object and container maps
// are registered for their path (getObjectMap finds them); paths are read up to 0xFFFFFFFF (at
// most 16 numbers). createContainer builds the live map a map descriptor describes.
#pragma once

#include "api/container/ContainerMap.h"
#include "api/container/FilteredMap.h"
#include "api/container/MapRegistry.h"
#include "api/container/ObjectMap.h"

#include <memory>

namespace kestel {

class CMap;
class CType;

// Unordered object maps: factory, handler path, add/remove allowed, required policy mask.
Reference<ObjectMap> createObjectMap(ObjectFactoryFn fn, const unsigned int* path, bool addRemove,
                                     unsigned int requiredPolicy);
Reference<ObjectMap> createObjectMap(ObjectFactoryFn fn, nv::u32_id key, const unsigned int* path,
                                     bool addRemove, unsigned int requiredPolicy);
Reference<ObjectMap> createObjectMap(IObjectFactory* factory, const unsigned int* path,
                                     bool addRemove, unsigned int requiredPolicy);

// Ordered object maps: as above, with the move flag after the add/remove flag.
Reference<ObjectMap> createOrderedObjectMap(ObjectFactoryFn fn, const unsigned int* path,
                                            bool addRemove, bool move, unsigned int requiredPolicy);
Reference<ObjectMap> createOrderedObjectMap(ObjectFactoryFn fn, nv::u32_id key,
                                            const unsigned int* path, bool addRemove, bool move,
                                            unsigned int requiredPolicy);
Reference<ObjectMap> createOrderedObjectMap(IObjectFactory* factory, const unsigned int* path,
                                            bool addRemove, bool move, unsigned int requiredPolicy);

// Light containers (see ContainerMap): factory, path, add/remove allowed.
Reference<ContainerMap> createContainerMap(ObjectFactoryFn fn, const unsigned int* path,
                                           bool addRemove);
Reference<ContainerMap> createOrderedContainerMap(ObjectFactoryFn fn, const unsigned int* path,
                                                  bool addRemove);

// A view over `source` showing the objects `predicate` holds for (all when null).
Reference<FilteredMap> createFilteredMap(IGenericMap* source,
                                         std::shared_ptr<const Predicate> predicate,
                                         IObjectFactory* factory, bool addRemove);

// A factory making new objects of a completed descriptor type (null objects before completion).
// For a generic map, each message picks the type: the map inheriting from it whose "typevalue"
// equals the message's value of the "typeon" slot, else the generic map itself. The types must
// outlive the factory: the descriptor model keeps its types for the session.
Reference<IObjectFactory> createTypeFactory(CType& type);

// The live map of a completed map descriptor: its path, order, add/remove and move flags, write
// policy, maximum objects and the text shown when the router refuses for too many, refresh
// interval and filter, fetch-all command, refetch after changes; its objects are made from the
// descriptor type. Registered for its path. Null when the descriptor is not completed or has no
// path.
Reference<ObjectMap> createContainer(CMap& map);

} // namespace kestel
