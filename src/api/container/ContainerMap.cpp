#include "api/container/ContainerMap.h"

#include "api/container/MapRegistry.h"
#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"

namespace kestel {

namespace {

constexpr size_t kQuietFrom = 50;

bool dead(const nv::message& m) {
  return m.get(nv::u32_id(STD_DEAD), 0) != 0 || m.get(nv::bool_id(STD_DEAD), false);
}

} // namespace

ContainerMap::ContainerMap(Reference<IObjectFactory> factory, Path path, bool ordered,
                           bool addRemove)
    : MapBase(ordered, {}), factory_(std::move(factory)), path_(std::move(path)),
      addRemove_(addRemove) {}

ContainerMap::~ContainerMap() {
  unregisterObjectMap(this);
  disownAll();
}

void ContainerMap::apply(const std::vector<nv::message>& elements) {
  Reference<ContainerMap> self(this);
  bool quiet = elements.size() >= kQuietFrom;
  std::vector<MapEvent> events;
  std::vector<Reference<IObject>> keep;
  for (const nv::message& m : elements) {
    uint32_t id = m.get(STD_ID, kNoId);
    if (id >= 0xFFFFFFFE)
      continue;
    if (dead(m)) {
      if (Reference<IObject> gone = disown(id)) {
        keep.push_back(gone);
        events.push_back({MapEventKind::Removed, id, gone.get(), false});
      }
      continue;
    }
    Reference<IObject> object(store_.find(id));
    bool isNew = !object;
    if (isNew && !(object = factory_->create(m)))
      continue;
    if (IPacker* packer = object->getPacker())
      packer->unpack(m, object.get());
    if (isNew)
      adopt(id, object);
    keep.push_back(object);
    events.push_back(
        {isNew ? MapEventKind::Added : MapEventKind::Changed, id, object.get(), false});
  }
  if (quiet)
    return emitReset();
  for (size_t i = 0; i < events.size(); ++i)
    emit(events[i].kind, events[i].id, events[i].object, i + 1 < events.size());
}

void ContainerMap::applyObjects(const nv::message& message) {
  std::vector<nv::message> elements;
  message.forEach(STD_OBJS, [&](const nv::message& m) { elements.push_back(m); });
  apply(elements);
}

void ContainerMap::insert(uint32_t id, const Reference<IObject>& object) {
  if (!object || id >= 0xFFFFFFFE)
    return;
  Reference<ContainerMap> self(this);
  bool known = store_.find(id) != nullptr;
  if (known)
    disown(id);
  adopt(id, object);
  emit(known ? MapEventKind::Changed : MapEventKind::Added, id, object.get(), false);
}

void ContainerMap::erase(uint32_t id) {
  Reference<ContainerMap> self(this);
  if (Reference<IObject> gone = disown(id))
    emit(MapEventKind::Removed, id, gone.get(), false);
}

void ContainerMap::clear() {
  Reference<ContainerMap> self(this);
  disownAll();
  emitReset();
}

void ContainerMap::setStatus(std::string text) {
  Reference<ContainerMap> self(this);
  status_ = std::move(text);
  emitReset();
}

} // namespace kestel
