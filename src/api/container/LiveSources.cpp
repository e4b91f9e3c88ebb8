#include "api/container/LiveSources.h"

#include "api/container/ContainerBase.h"
#include "api/container/MapRegistry.h"
#include "api/wire/Vocabulary.h"
#include "gen/CType.h"
#include "gen/Enumerations.h"
#include "gen/ModelContext.h"

#include <map>
#include <string>

namespace kestel {

namespace {

ObjectView viewOf(const IObject& object) {
  return ObjectView{object.getCType(), object.record().data()};
}

// Keeps a dynamic or remap enumeration equal to the objects of its map.
class MapFeed final : public IMapListener {
public:
  explicit MapFeed(ComputedEnum& e) : e_(&e) {}
  bool waiting() const { return !map_; }
  // Binds to the map of the enumeration's path when one is registered.
  void connect() {
    if (map_ || !e_)
      return;
    map_ = getObjectMap(e_->path);
    if (!map_)
      return;
    map_->addListener(this);
    resync();
    map_->open();
  }
  void disconnect() {
    e_ = nullptr;
    if (map_)
      map_->removeListener(this);
    map_ = nullptr;
  }
  void mapChanged(const MapEvent& event) override {
    if (!e_)
      return;
    if (event.kind == MapEventKind::Reset)
      return resync();
    if (event.kind == MapEventKind::Moved)
      return;
    std::string name;
    if (event.kind != MapEventKind::Removed && event.object && entryOf(*event.object, name)) {
      std::string had;
      if (!e_->nameOf(event.id, had) || had != name)
        e_->setEntry(event.id, name, !event.more);
      return;
    }
    e_->removeEntry(event.id, !event.more);
  }

private:
  bool entryOf(const IObject& object, std::string& name) const {
    ObjectView view = viewOf(object);
    if (e_->kind() == ComputedEnum::Kind::Dynamic) {
      if (!holds(e_->pred.get(), objectRef(view)))
        return false;
      name = object.getName();
      return true;
    }
    SlotFieldInfo info;
    if (e_->inner && view.type && view.type->slotField(e_->master, info) &&
        info.type == memberTypeOf<uint32_t>()) {
      uint32_t master = *reinterpret_cast<const uint32_t*>(
          static_cast<const std::byte*>(view.record) + info.offset);
      if (e_->inner->nameOf(master, name))
        return true;
    }
    name = object.getName();
    return true;
  }
  void resync() {
    EnumPairs entries;
    for (uint32_t id : map_->ids()) {
      std::string name;
      if (IObject* object = map_->find(id); object && entryOf(*object, name))
        entries.emplace_back(id, std::move(name));
    }
    e_->replaceEntries(entries);
  }

  ComputedEnum* e_;
  Reference<IGenericMap> map_;
};

const JSValue* memberOf(const JSValue& node, std::string_view key) {
  for (const JSValue& c : node.children)
    if (c.key == key)
      return &c;
  return nullptr;
}

// Adds one parameter node to a query request (see LiveSources.h); a node without a key adds
// nothing.
void addParameter(nv::message& request, const JSValue& node) {
  const JSValue* k = memberOf(node, "k");
  if (!k || (k->kind != JSNodeKind::Number && k->kind != JSNodeKind::String))
    return;
  uint64_t key = k->kind == JSNodeKind::Number ? k->number : parseAutoBasePrefix(k->text);
  if (key == 0 || key > nv::kKeyMask)
    return;
  auto id = uint32_t(key);
  const JSValue* v = memberOf(node, "v");
  if (!v) {
    request.set(nv::bool_id(id), true);
  } else if (v->kind == JSNodeKind::Number) {
    request.set(nv::u32_id(id), uint32_t(v->number));
  } else if (v->kind == JSNodeKind::String) {
    request.set(nv::string_id(id), v->text);
  } else if (v->kind == JSNodeKind::Array) {
    std::vector<uint32_t> values;
    for (const JSValue& n : v->children)
      if (n.kind == JSNodeKind::Number)
        values.push_back(uint32_t(n.number));
    request.set(nv::u32_array_id(id), std::move(values));
  }
}

// Fills a query enumeration from one reply.
class QueryFeed final : public IBase {
public:
  explicit QueryFeed(ComputedEnum& e) : e_(&e), base_(e.path) {
    nv::message request;
    for (const JSValue& p : e.params)
      addParameter(request, p);
    base_.request(e.command, std::move(request),
                  [this](const nv::message& reply) { onReply(reply); });
  }
  void disconnect() { e_ = nullptr; }

private:
  void onReply(const nv::message& reply) {
    if (!e_)
      return;
    EnumPairs entries;
    if (!isError(reply))
      for (uint32_t field : {e_->valuesField, e_->secondValuesField})
        if (field != 0)
          for (uint32_t v : reply.get(nv::u32_array_id(field)))
            entries.emplace_back(v, std::to_string(v));
    e_->replaceEntries(entries);
  }
  ComputedEnum* e_;
  ContainerBase base_;
};

class LiveEnumSource final : public IEnumSource {
public:
  void attach(ComputedEnum& e) override {
    if (e.kind() == ComputedEnum::Kind::Query) {
      queries_[&e] = makeRef<QueryFeed>(e);
      return;
    }
    auto feed = makeRef<MapFeed>(e);
    maps_[&e] = feed;
    feed->connect();
  }
  void detach(ComputedEnum& e) override {
    if (auto it = maps_.find(&e); it != maps_.end()) {
      it->second->disconnect();
      maps_.erase(it);
    }
    if (auto it = queries_.find(&e); it != queries_.end()) {
      it->second->disconnect();
      queries_.erase(it);
    }
  }
  void mapRegistered() {
    std::vector<Reference<MapFeed>> waiting;
    for (auto& [e, feed] : maps_)
      if (feed->waiting())
        waiting.push_back(feed);
    for (auto& feed : waiting)
      feed->connect();
  }

private:
  std::map<ComputedEnum*, Reference<MapFeed>> maps_;
  std::map<ComputedEnum*, Reference<QueryFeed>> queries_;
};

LiveEnumSource& source() {
  static LiveEnumSource s;
  return s;
}

// "object" predicates see the registered maps through this.
class MapDirectory final : public IObjectDirectory {
public:
  bool findObject(const std::vector<uint32_t>& path, uint32_t id, ObjectView& out) override {
    IGenericMap* map = getObjectMap(path);
    IObject* object = map ? map->find(id) : nullptr;
    if (!object)
      return false;
    out = viewOf(*object);
    return true;
  }
};

MapDirectory& directory() {
  static MapDirectory d;
  return d;
}

} // namespace

void installLiveSources() {
  setObjectDirectory(&directory());
  setEnumSource(&source());
}

void liveMapRegistered(const Path& path) {
  (void)path; // every waiting feed looks its own path up again
  source().mapRegistered();
}

} // namespace kestel
