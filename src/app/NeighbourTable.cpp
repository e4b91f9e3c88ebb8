#include "app/NeighbourTable.h"

#include "util/Log.h"

#include <algorithm>

namespace kestel {

NeighbourTable::Update NeighbourTable::apply(Neighbour neighbour) {
  auto it = std::find_if(list_.begin(), list_.end(),
                         [&](const Neighbour& n) { return n.sameRouter(neighbour); });
  if (it != list_.end()) {
    neighbour.id = it->id;
    if (*it == neighbour)
      return Update::Unchanged;
    *it = neighbour;
    for (NeighbourListener* l : std::vector(listeners_))
      l->neighbourChanged(neighbour); // a copy: a listener may change the list
    return Update::Changed;
  }
  if (list_.size() >= capacity_) {
    if (!fullLogged_)
      logf("WARNING: neighbour list full (", capacity_, " entries), new neighbours ignored");
    fullLogged_ = true;
    return Update::Dropped;
  }
  neighbour.id = nextId_++;
  list_.push_back(neighbour);
  for (NeighbourListener* l : std::vector(listeners_))
    l->neighbourAdded(neighbour); // a copy: a listener may change the list
  return Update::Added;
}

const Neighbour* NeighbourTable::find(uint32_t id) const {
  auto it =
      std::find_if(list_.begin(), list_.end(), [&](const Neighbour& n) { return n.id == id; });
  return it == list_.end() ? nullptr : &*it;
}

void NeighbourTable::addListener(NeighbourListener* listener) { listeners_.push_back(listener); }

void NeighbourTable::removeListener(NeighbourListener* listener) {
  std::erase(listeners_, listener);
}

} // namespace kestel
