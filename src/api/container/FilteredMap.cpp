#include "api/container/FilteredMap.h"

#include <algorithm>

namespace kestel {

class FilteredMap::SourceListener final : public IMapListener {
public:
  explicit SourceListener(FilteredMap* view) : view_(view) {}
  void mapChanged(const MapEvent& event) override {
    if (view_)
      view_->onSource(event);
  }
  void detach() { view_ = nullptr; }

private:
  FilteredMap* view_;
};

FilteredMap::FilteredMap(Reference<IGenericMap> source, std::shared_ptr<const Predicate> predicate,
                         Reference<IObjectFactory> factory, bool addRemove)
    : MapBase(true, {}), source_(std::move(source)), factory_(std::move(factory)),
      addRemove_(addRemove), listener_(makeRef<SourceListener>(this)) {
  if (predicate)
    predicate_.push_back(std::move(predicate));
  rebuild();
  source_->addListener(listener_.get());
}

FilteredMap::~FilteredMap() {
  listener_->detach();
  source_->removeListener(listener_.get());
}

Reference<IObject> FilteredMap::createNew() {
  return factory_ ? factory_->create(nv::message()) : Reference<IObject>();
}

bool FilteredMap::passes(const IObject& object) const { return objectPasses(predicate_, object); }

void FilteredMap::rebuild() {
  store_.clear();
  for (uint32_t id : source_->ids())
    if (IObject* object = source_->find(id); object && passes(*object))
      store_.insert(id, Reference<IObject>(object));
}

void FilteredMap::placeLikeSource(uint32_t id) {
  std::vector<uint32_t> order = source_->ids();
  auto at = std::find(order.begin(), order.end(), id);
  uint32_t next = kNoId;
  for (auto it = at == order.end() ? at : std::next(at); it != order.end(); ++it)
    if (store_.find(*it)) {
      next = *it;
      break;
    }
  store_.placeBefore(id, next);
}

void FilteredMap::onSource(const MapEvent& event) {
  Reference<FilteredMap> self(this);
  if (event.kind == MapEventKind::Reset) {
    rebuild();
    return emitReset();
  }
  bool shown = store_.find(event.id) != nullptr;
  if (event.kind == MapEventKind::Removed) {
    if (shown) {
      store_.erase(event.id);
      emit(MapEventKind::Removed, event.id, event.object, event.more);
    }
    return;
  }
  bool pass = event.object && passes(*event.object);
  if (!pass) {
    if (shown) {
      Reference<IObject> gone = store_.erase(event.id);
      emit(MapEventKind::Removed, event.id, gone.get(), event.more);
    }
    return;
  }
  if (!shown) {
    store_.insert(event.id, Reference<IObject>(event.object));
    placeLikeSource(event.id);
    return emit(MapEventKind::Added, event.id, event.object, event.more);
  }
  if (event.kind == MapEventKind::Moved)
    placeLikeSource(event.id);
  emit(event.kind, event.id, event.object, event.more);
}

} // namespace kestel
