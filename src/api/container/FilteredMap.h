// A view over another map that shows only the objects a predicate holds for, in the source's
// order, with map events of its own: an object that starts to pass is added, one that stops
// passing is removed. The objects stay the source's (owner and id untouched); the status text is
// the source's. New objects for the add dialog come from the view's own factory.
#pragma once

#include "api/container/GenericMap.h"

#include <memory>

namespace kestel {

class FilteredMap final : public MapBase {
public:
  FilteredMap(Reference<IGenericMap> source, std::shared_ptr<const Predicate> predicate,
              Reference<IObjectFactory> factory, bool addRemove);
  ~FilteredMap() override;

  IGenericMap* source() const { return source_.get(); }
  bool addRemoveAllowed() const { return addRemove_; }
  const std::string& statusText() const override { return source_->statusText(); }
  // Opens the source.
  void open() override { source_->open(); }
  // A new object from the view's factory (an empty message); null without one.
  Reference<IObject> createNew();

private:
  class SourceListener;
  void onSource(const MapEvent& event);
  bool passes(const IObject& object) const;
  // Puts `id` where the source has it among the visible objects.
  void placeLikeSource(uint32_t id);
  void rebuild();

  Reference<IGenericMap> source_;
  ObjectPredicates predicate_;
  Reference<IObjectFactory> factory_;
  bool addRemove_;
  Reference<SourceListener> listener_;
};

} // namespace kestel
