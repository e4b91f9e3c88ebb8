// What every map of objects offers its readers (table panes, object windows, filtered views,
// "object" predicates, computed enumerations): objects by id in display order, a status text,
// and map events for listeners. MapBase holds that state for the concrete maps (object maps,
// container maps, filtered maps); the machinery that fills them lives with each of them.
#pragma once

#include "api/container/ContainerBase.h"
#include "api/container/MapStore.h"
#include "api/object/Object.h"
#include "api/wire/Message.h"
#include "util/Base.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestel {

class Predicate;

// The kinds of map events, numbered as the windows expect them.
enum class MapEventKind : uint8_t { Added = 0, Changed = 1, Removed = 2, Moved = 3, Reset = 4 };

// One map event. `object` is the object concerned (null for Reset); `more` says that further
// events of the same batch follow.
struct MapEvent {
  MapEventKind kind;
  uint32_t id;
  IObject* object;
  bool more;
};

class IMapListener : public IBase {
public:
  // Reset: the whole content (or the status text) changed; re-read everything.
  virtual void mapChanged(const MapEvent& event) = 0;
};

// Makes the object a message describes (a reply element, a notification, the defaults); null
// when it makes none, and the element is then skipped.
class IObjectFactory : public IBase {
public:
  virtual Reference<IObject> create(const nv::message& message) = 0;
  // The message key the factory is bound to; kNoId for none.
  virtual uint32_t key() const { return kNoId; }
};

// The descriptor-model's factory functions: a new IObject (as void*) for a message, or null.
using ObjectFactoryFn = void* (*)(const nv::message&);
// A factory over the function; `key`, when not kNoId, is the message key the function is bound
// to (key() reports it; creating does not use it).
Reference<IObjectFactory> createFunctionFactory(ObjectFactoryFn fn, uint32_t key = kNoId);
// A factory over a callable (tests, descriptor types).
Reference<IObjectFactory> createFactory(std::function<Reference<IObject>(const nv::message&)> fn);

// Whether an object is shown: every predicate must hold for it (a null predicate holds). The
// object is seen through its descriptor type; objects without one have no slots.
using ObjectPredicates = std::vector<std::shared_ptr<const Predicate>>;
bool objectPasses(const ObjectPredicates& predicates, const IObject& object);

class IGenericMap : public IBase {
public:
  // Interface number cast() answers with the map.
  static constexpr unsigned int kInterface = 3101;

  virtual IObject* find(uint32_t id) const = 0;
  virtual size_t size() const = 0;
  // The ids in display order: the router's order for ordered maps, by id otherwise.
  virtual std::vector<uint32_t> ids() const = 0;
  // Empty when healthy; otherwise the text shown in place of the content.
  virtual const std::string& statusText() const = 0;
  // `object` null: every event; otherwise only that object's events (and resets).
  virtual void addListener(IMapListener* listener, IObject* object = nullptr) = 0;
  // Safe from inside a listener's callback.
  virtual void removeListener(IMapListener* listener) = 0;
  // Starts fetching and keeping the content current, as when the first reader opens it.
  virtual void open() = 0;
};

// The state shared by the concrete maps: the store, the status text, the listeners and the
// owner role for the objects it holds.
class MapBase : public IGenericMap, public IObjectOwner {
public:
  MapBase(bool ordered, std::string type) : store_(ordered), type_(std::move(type)) {}
  IBase* cast(unsigned int id) override { return id == kInterface ? this : nullptr; }
  IObject* find(uint32_t id) const override { return store_.find(id); }
  size_t size() const override { return store_.size(); }
  std::vector<uint32_t> ids() const override { return store_.ids(); }
  const std::string& statusText() const override { return status_; }
  void addListener(IMapListener* listener, IObject* object = nullptr) override {
    listeners_.add(listener, object);
  }
  void removeListener(IMapListener* listener) override { listeners_.remove(listener); }
  std::string getType() const override { return type_; }
  bool ordered() const { return store_.ordered(); }
  const MapStore& store() const { return store_; }

protected:
  void emit(MapEventKind kind, uint32_t id, IObject* object, bool more);
  void emitReset() { emit(MapEventKind::Reset, kNoId, nullptr, false); }
  // Takes the object in: owner set, stored under `id` at the end.
  void adopt(uint32_t id, const Reference<IObject>& object);
  // Drops the object: owner and id cleared; returns it (null when unknown).
  Reference<IObject> disown(uint32_t id);
  // Disowns every object.
  void disownAll();

  MapStore store_;
  std::string status_;

private:
  std::string type_;
  ListenerList<IMapListener> listeners_;
};

} // namespace kestel
