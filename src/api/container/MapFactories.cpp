#include "api/container/MapFactories.h"

#include "gen/CType.h"

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

Reference<IObjectFactory> createTypeFactory(CType& type) {
  CType* t = &type;
  return createFactory([t](const nv::message&) { return t->createObject(); });
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
