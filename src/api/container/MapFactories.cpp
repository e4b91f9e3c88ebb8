#include "api/container/MapFactories.h"

#include "gen/CType.h"
#include "gen/Service.h"

#include <map>

namespace kestel {

namespace {

constexpr size_t kMaxPathLength = 16;

Path readPath(const unsigned int* path) {
  Path p;
  for (size_t i = 0; path && i < kMaxPathLength && path[i] != kNoId; ++i)
    p.push_back(path[i]);
  return p;
}

Reference<ObjectMap> makeObjectMap(Reference<IObjectFactory> factory, const unsigned int* path,
                                   ObjectMapOptions options) {
  Path p = readPath(path);
  auto map = makeRef<ObjectMap>(std::move(factory), p, std::move(options));
  registerObjectMap(p, map.get());
  return map;
}

ObjectMapOptions unordered(bool addRemove, unsigned int policy) {
  ObjectMapOptions o;
  o.add = o.remove = addRemove;
  o.requiredPolicy = policy;
  return o;
}

ObjectMapOptions ordered(bool addRemove, bool move, unsigned int policy) {
  ObjectMapOptions o = unordered(addRemove, policy);
  o.ordered = true;
  o.move = move;
  return o;
}

Reference<ContainerMap> makeContainerMap(ObjectFactoryFn fn, const unsigned int* path, bool ordered,
                                         bool addRemove) {
  Path p = readPath(path);
  auto map = makeRef<ContainerMap>(createFunctionFactory(fn), p, ordered, addRemove);
  registerObjectMap(p, map.get());
  return map;
}

} // namespace

Reference<ObjectMap> createObjectMap(ObjectFactoryFn fn, const unsigned int* path, bool addRemove,
                                     unsigned int requiredPolicy) {
  return makeObjectMap(createFunctionFactory(fn), path, unordered(addRemove, requiredPolicy));
}

Reference<ObjectMap> createObjectMap(ObjectFactoryFn fn, nv::u32_id key, const unsigned int* path,
                                     bool addRemove, unsigned int requiredPolicy) {
  return makeObjectMap(createFunctionFactory(fn, key.id()), path,
                       unordered(addRemove, requiredPolicy));
}

Reference<ObjectMap> createObjectMap(IObjectFactory* factory, const unsigned int* path,
                                     bool addRemove, unsigned int requiredPolicy) {
  return makeObjectMap(Reference<IObjectFactory>(factory), path,
                       unordered(addRemove, requiredPolicy));
}

Reference<ObjectMap> createOrderedObjectMap(ObjectFactoryFn fn, const unsigned int* path,
                                            bool addRemove, bool move,
                                            unsigned int requiredPolicy) {
  return makeObjectMap(createFunctionFactory(fn), path, ordered(addRemove, move, requiredPolicy));
}

Reference<ObjectMap> createOrderedObjectMap(ObjectFactoryFn fn, nv::u32_id key,
                                            const unsigned int* path, bool addRemove, bool move,
                                            unsigned int requiredPolicy) {
  return makeObjectMap(createFunctionFactory(fn, key.id()), path,
                       ordered(addRemove, move, requiredPolicy));
}

Reference<ObjectMap> createOrderedObjectMap(IObjectFactory* factory, const unsigned int* path,
                                            bool addRemove, bool move,
                                            unsigned int requiredPolicy) {
  return makeObjectMap(Reference<IObjectFactory>(factory), path,
                       ordered(addRemove, move, requiredPolicy));
}

Reference<ContainerMap> createContainerMap(ObjectFactoryFn fn, const unsigned int* path,
                                           bool addRemove) {
  return makeContainerMap(fn, path, false, addRemove);
}

Reference<ContainerMap> createOrderedContainerMap(ObjectFactoryFn fn, const unsigned int* path,
                                                  bool addRemove) {
  return makeContainerMap(fn, path, true, addRemove);
}

Reference<FilteredMap> createFilteredMap(IGenericMap* source,
                                         std::shared_ptr<const Predicate> predicate,
                                         IObjectFactory* factory, bool addRemove) {
  if (!source)
    return {};
  return makeRef<FilteredMap>(Reference<IGenericMap>(source), std::move(predicate),
                              Reference<IObjectFactory>(factory), addRemove);
}

namespace {

// The value of a generic map's "typeon" field in a message: a u32, or a bool read as 0 or 1;
// kNoId when the message has neither.
uint32_t typeValueOf(const nv::message& m, uint32_t key) {
  if (m.has(nv::u32_id(key)))
    return m.get(nv::u32_id(key));
  if (m.has(nv::bool_id(key)))
    return m.get(nv::bool_id(key)) ? 1u : 0u;
  return kNoId;
}

// The maps that inherit from `generic`, by the "typevalue" that selects each (the first one
// loaded wins a value two of them claim).
std::map<uint32_t, CMap*> inheritorsOf(const CMap& generic) {
  std::map<uint32_t, CMap*> found;
  forEachType([&](CType& t, CService&) {
    if (t.kind() == TypeKind::Map && static_cast<CMap&>(t).genericParent == &generic)
      found.try_emplace(static_cast<CMap&>(t).typeValue, &static_cast<CMap&>(t));
  });
  return found;
}

} // namespace

Reference<IObjectFactory> createTypeFactory(CType& type) {
  CType* t = &type;
  auto plain = [t] { return createFactory([t](const nv::message&) { return t->createObject(); }); };
  if (type.kind() != TypeKind::Map)
    return plain();
  auto& generic = static_cast<CMap&>(type);
  const Slot* on = generic.genericName.empty() ? nullptr : generic.slot(generic.typeOn);
  if (!on || on->fields().empty())
    return plain();
  uint32_t key = on->fields()[0].key;
  std::map<uint32_t, CMap*> inheritors = inheritorsOf(generic);
  if (inheritors.empty())
    return plain();
  return createFactory([t, key, inheritors](const nv::message& m) {
    auto it = inheritors.find(typeValueOf(m, key));
    if (it != inheritors.end() && it->second->completed())
      return it->second->createObject();
    return t->createObject();
  });
}

Reference<ObjectMap> createContainer(CMap& map) {
  if (!map.completed() || map.pathIds().empty())
    return {};
  ObjectMapOptions o;
  o.ordered = map.ordered;
  o.add = map.addable && !map.isReadOnly();
  o.remove = map.removable && !map.isReadOnly();
  o.move = map.movable && map.ordered && !map.isReadOnly();
  o.requiredPolicy = map.writePerm;
  o.type = map.title();
  if (!map.maxObjsMsg.empty())
    o.tooMuchText = map.maxObjsMsg;
  o.refetchAfterCommit = map.refetchOnChange;
  o.refetchOnOpen = map.refetchOnOpen != 0;
  if (map.getAllCmd != CMD_NONE)
    o.fetchAllCommand = map.getAllCmd;
  auto factory = createTypeFactory(map);
  Path path = map.pathIds();
  auto live = makeRef<ObjectMap>(std::move(factory), path, std::move(o));
  live->setMaxObjects(map.maxObjs);
  if (map.autoRefresh != 0)
    live->setRefresh(map.autoRefresh, map.refreshFilter);
  registerObjectMap(path, live.get());
  return live;
}

} // namespace kestel
