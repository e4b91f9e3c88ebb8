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
