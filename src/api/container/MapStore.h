// The store of a map: objects by id in display order (the router's order for ordered maps, by id
// otherwise). A map of a million rows keeps a million entries here, so an entry is one slot of a
// flat array (the object, its id and the links of the display order) found through an
// open-addressing index of ids; nothing is allocated per object.
#pragma once

#include "api/object/Object.h"
#include "util/Base.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kestel {

class MapStore {
public:
  explicit MapStore(bool ordered) : ordered_(ordered) {}
  bool ordered() const { return ordered_; }
  // Null for an unknown id.
  IObject* find(uint32_t id) const;
  size_t size() const { return size_; }
  std::vector<uint32_t> ids() const;
  // Calls f(id, object) in display order; f must not change the store.
  void forEach(const std::function<void(uint32_t, IObject&)>& f) const;
  // Inserts at the end (an id already present keeps its place and gets the new object).
  void insert(uint32_t id, Reference<IObject> object);
  // Ordered maps: puts `id` right after `previous` (first for kNoId or an unknown previous).
  void placeAfter(uint32_t id, uint32_t previous);
  // Ordered maps: puts `id` right before `next` (last for kNoId or an unknown next).
  void placeBefore(uint32_t id, uint32_t next);
  // The id after `id` in display order; kNoId at the end or for an unknown id.
  uint32_t nextOf(uint32_t id) const;
  // Ordered maps: the id before `id` in display order; kNoId at the front, for an unknown id or
  // in an unordered map.
  uint32_t previousOf(uint32_t id) const;
  // Removes and returns the object (null when unknown).
  Reference<IObject> erase(uint32_t id);
  void clear();

private:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  struct Slot {
    Reference<IObject> object; // null in a free slot
    uint32_t id = kNone;
    uint32_t prev = kNone, next = kNone; // display order; `next` links the free slots
  };
  // A bucket of the index: the id and its slot; slot kNone when empty.
  struct Bucket {
    uint32_t id = 0;
    uint32_t slot = kNone;
  };

  // The slot of `id`, or kNone.
  uint32_t slotOf(uint32_t id) const;
  size_t bucketOf(uint32_t id) const;
  void indexInsert(uint32_t id, uint32_t slot);
  void indexErase(uint32_t id);
  void grow();
  void link(uint32_t slot, uint32_t before); // before kNone: at the end
  void unlink(uint32_t slot);
  // Unordered maps keep their display order by id; an insert out of id order leaves the links
  // unsorted until the order is read.
  void sortById() const;

  bool ordered_;
  size_t size_ = 0;
  mutable std::vector<Slot> slots_;
  std::vector<Bucket> index_; // a power of two in size, at most half full
  uint32_t freeSlot_ = kNone;
  mutable uint32_t head_ = kNone, tail_ = kNone;
  mutable bool sorted_ = true;
};

} // namespace kestel
