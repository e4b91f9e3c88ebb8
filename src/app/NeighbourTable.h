// The neighbours discovery has heard, as a plain list with change notices, for the loader's
// "Neighbors" tab (a container adapter wraps it later). One entry per (MAC address, sender
// address); an answer from a known pair updates its entry in place and keeps its id. The list is
// capped so that a flood of forged answers cannot grow it without bound: past the cap new pairs
// are dropped (and said so once in the log) while known ones still update.
#pragma once

#include "app/Neighbour.h"

#include <cstddef>
#include <vector>

namespace kestel {

inline constexpr size_t kMaxNeighbours = 1024;

class NeighbourListener {
public:
  virtual ~NeighbourListener() = default;
  virtual void neighbourAdded(const Neighbour& neighbour) = 0;
  virtual void neighbourChanged(const Neighbour& neighbour) = 0;
};

class NeighbourTable {
public:
  enum class Update { Added, Changed, Unchanged, Dropped };

  explicit NeighbourTable(size_t capacity = kMaxNeighbours) : capacity_(capacity) {}

  // Adds the neighbour (giving it the next id) or updates the entry of the same pair; tells the
  // listeners about an addition or a change. Dropped when the table is full.
  Update apply(Neighbour neighbour);

  const std::vector<Neighbour>& list() const { return list_; }
  // The entry with this id; null when there is none.
  const Neighbour* find(uint32_t id) const;

  // The caller keeps a listener alive until it removes it.
  void addListener(NeighbourListener* listener);
  void removeListener(NeighbourListener* listener);

private:
  size_t capacity_;
  std::vector<Neighbour> list_;
  std::vector<NeighbourListener*> listeners_;
  uint32_t nextId_ = 1;
  bool fullLogged_ = false;
};

} // namespace kestel
