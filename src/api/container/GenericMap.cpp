#include "api/container/GenericMap.h"

#include "gen/CType.h"
#include "gen/Predicate.h"

namespace kestel {

namespace {

class FunctionFactory final : public IObjectFactory {
public:
  FunctionFactory(ObjectFactoryFn fn, uint32_t key) : fn_(fn), key_(key) {}
  Reference<IObject> create(const nv::message& message) override {
    void* made = fn_ ? fn_(message) : nullptr;
    return Reference<IObject>(static_cast<IObject*>(made));
  }
  uint32_t key() const override { return key_; }

private:
  ObjectFactoryFn fn_;
  uint32_t key_;
};

class CallableFactory final : public IObjectFactory {
public:
  explicit CallableFactory(std::function<Reference<IObject>(const nv::message&)> fn)
      : fn_(std::move(fn)) {}
  Reference<IObject> create(const nv::message& message) override { return fn_(message); }

private:
  std::function<Reference<IObject>(const nv::message&)> fn_;
};

} // namespace

Reference<IObjectFactory> createFunctionFactory(ObjectFactoryFn fn, uint32_t key) {
  return makeRef<FunctionFactory>(fn, key);
}

Reference<IObjectFactory> createFactory(std::function<Reference<IObject>(const nv::message&)> fn) {
  return makeRef<CallableFactory>(std::move(fn));
}

bool objectPasses(const ObjectPredicates& predicates, const IObject& object) {
  if (predicates.empty())
    return true;
  ObjectView view{object.getCType(), object.record().data()};
  for (const auto& p : predicates)
    if (!holds(p.get(), objectRef(view)))
      return false;
  return true;
}

IObject* MapStore::find(uint32_t id) const {
  auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : it->second.object.get();
}

std::vector<uint32_t> MapStore::ids() const {
  std::vector<uint32_t> out;
  out.reserve(byId_.size());
  if (ordered_) {
    out.assign(order_.begin(), order_.end());
    return out;
  }
  for (const auto& [id, entry] : byId_)
    out.push_back(id);
  return out;
}

void MapStore::forEach(const std::function<void(uint32_t, IObject&)>& f) const {
  if (!ordered_) {
    for (const auto& [id, entry] : byId_)
      f(id, *entry.object);
    return;
  }
  for (uint32_t id : order_)
    f(id, *byId_.at(id).object);
}

void MapStore::insert(uint32_t id, Reference<IObject> object) {
  auto [it, added] = byId_.try_emplace(id);
  it->second.object = std::move(object);
  if (added && ordered_)
    it->second.at = order_.insert(order_.end(), id);
}

void MapStore::placeAfter(uint32_t id, uint32_t previous) {
  auto it = byId_.find(id);
  if (!ordered_ || it == byId_.end() || id == previous)
    return;
  auto prev = byId_.find(previous);
  auto where = prev == byId_.end() ? order_.begin() : std::next(prev->second.at);
  order_.splice(where, order_, it->second.at);
}

void MapStore::placeBefore(uint32_t id, uint32_t next) {
  auto it = byId_.find(id);
  if (!ordered_ || it == byId_.end() || id == next)
    return;
  auto nxt = byId_.find(next);
  auto where = nxt == byId_.end() ? order_.end() : nxt->second.at;
  order_.splice(where, order_, it->second.at);
}

uint32_t MapStore::nextOf(uint32_t id) const {
  auto it = byId_.find(id);
  if (it == byId_.end())
    return kNoId;
  if (ordered_) {
    auto n = std::next(it->second.at);
    return n == order_.end() ? kNoId : *n;
  }
  ++it;
  return it == byId_.end() ? kNoId : it->first;
}

uint32_t MapStore::previousOf(uint32_t id) const {
  auto it = byId_.find(id);
  if (!ordered_ || it == byId_.end() || it->second.at == order_.begin())
    return kNoId;
  return *std::prev(it->second.at);
}

Reference<IObject> MapStore::erase(uint32_t id) {
  auto it = byId_.find(id);
  if (it == byId_.end())
    return {};
  Reference<IObject> object = std::move(it->second.object);
  if (ordered_)
    order_.erase(it->second.at);
  byId_.erase(it);
  return object;
}

void MapStore::clear() {
  byId_.clear();
  order_.clear();
}

void MapBase::emit(MapEventKind kind, uint32_t id, IObject* object, bool more) {
  MapEvent event{kind, id, object, more};
  listeners_.dispatch(object, [&](IMapListener& l) { l.mapChanged(event); });
}

void MapBase::adopt(uint32_t id, const Reference<IObject>& object) {
  object->setOwner(this);
  object->setID(id);
  store_.insert(id, object);
}

Reference<IObject> MapBase::disown(uint32_t id) {
  Reference<IObject> object = store_.erase(id);
  if (object) {
    object->setID(NO_ID);
    object->setOwner(nullptr);
  }
  return object;
}

void MapBase::disownAll() {
  store_.forEach([](uint32_t, IObject& o) {
    o.setID(NO_ID);
    o.setOwner(nullptr);
  });
  store_.clear();
}

} // namespace kestel
