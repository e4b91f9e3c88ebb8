#include "api/container/MapStore.h"

#include <algorithm>

namespace kestel {

size_t MapStore::bucketOf(uint32_t id) const {
  // Fibonacci hashing: router ids are often dense runs, which this spreads over the table.
  uint64_t h = (uint64_t(id) * 0x9E3779B97F4A7C15ull) >> 32;
  return size_t(h) & (index_.size() - 1);
}

uint32_t MapStore::slotOf(uint32_t id) const {
  if (index_.empty())
    return kNone;
  for (size_t b = bucketOf(id);; b = (b + 1) & (index_.size() - 1)) {
    const Bucket& bucket = index_[b];
    if (bucket.slot == kNone)
      return kNone;
    if (bucket.id == id)
      return bucket.slot;
  }
}

void MapStore::indexInsert(uint32_t id, uint32_t slot) {
  if ((size_ + 1) * 2 > index_.size())
    grow();
  size_t b = bucketOf(id);
  while (index_[b].slot != kNone)
    b = (b + 1) & (index_.size() - 1);
  index_[b] = {id, slot};
}

void MapStore::grow() {
  std::vector<Bucket> old = std::move(index_);
  index_.assign(std::max<size_t>(16, old.size() * 2), Bucket{});
  for (const Bucket& bucket : old) {
    if (bucket.slot == kNone)
      continue;
    size_t b = bucketOf(bucket.id);
    while (index_[b].slot != kNone)
      b = (b + 1) & (index_.size() - 1);
    index_[b] = bucket;
  }
}

void MapStore::indexErase(uint32_t id) {
  const size_t mask = index_.size() - 1;
  size_t hole = bucketOf(id);
  while (index_[hole].id != id || index_[hole].slot == kNone)
    hole = (hole + 1) & mask;
  // Backward-shift deletion: every later bucket of the run that may live in the hole moves in,
  // so lookups never need tombstones.
  for (size_t b = (hole + 1) & mask; index_[b].slot != kNone; b = (b + 1) & mask) {
    size_t home = bucketOf(index_[b].id);
    bool between = hole <= b ? (hole < home && home <= b) : (hole < home || home <= b);
    if (!between) {
      index_[hole] = index_[b];
      hole = b;
    }
  }
  index_[hole] = Bucket{};
}

void MapStore::link(uint32_t slot, uint32_t before) {
  Slot& s = slots_[slot];
  s.next = before;
  s.prev = before == kNone ? tail_ : slots_[before].prev;
  (s.prev == kNone ? head_ : slots_[s.prev].next) = slot;
  (before == kNone ? tail_ : slots_[before].prev) = slot;
}

void MapStore::unlink(uint32_t slot) {
  Slot& s = slots_[slot];
  (s.prev == kNone ? head_ : slots_[s.prev].next) = s.next;
  (s.next == kNone ? tail_ : slots_[s.next].prev) = s.prev;
  s.prev = s.next = kNone;
}

void MapStore::sortById() const {
  if (sorted_)
    return;
  std::vector<uint32_t> order;
  order.reserve(size_);
  for (uint32_t s = head_; s != kNone; s = slots_[s].next)
    order.push_back(s);
  std::sort(order.begin(), order.end(),
            [this](uint32_t a, uint32_t b) { return slots_[a].id < slots_[b].id; });
  head_ = tail_ = kNone;
  for (uint32_t s : order) {
    slots_[s].prev = tail_;
    slots_[s].next = kNone;
    (tail_ == kNone ? head_ : slots_[tail_].next) = s;
    tail_ = s;
  }
  sorted_ = true;
}

IObject* MapStore::find(uint32_t id) const {
  uint32_t s = slotOf(id);
  return s == kNone ? nullptr : slots_[s].object.get();
}

std::vector<uint32_t> MapStore::ids() const {
  sortById();
  std::vector<uint32_t> out;
  out.reserve(size_);
  for (uint32_t s = head_; s != kNone; s = slots_[s].next)
    out.push_back(slots_[s].id);
  return out;
}

void MapStore::forEach(const std::function<void(uint32_t, IObject&)>& f) const {
  sortById();
  for (uint32_t s = head_; s != kNone; s = slots_[s].next)
    f(slots_[s].id, *slots_[s].object);
}

void MapStore::insert(uint32_t id, Reference<IObject> object) {
  if (uint32_t s = slotOf(id); s != kNone) {
    slots_[s].object = std::move(object);
    return;
  }
  uint32_t s = freeSlot_;
  if (s != kNone) {
    freeSlot_ = slots_[s].next;
  } else {
    s = uint32_t(slots_.size());
    slots_.emplace_back();
  }
  indexInsert(id, s);
  slots_[s].object = std::move(object);
  slots_[s].id = id;
  if (!ordered_ && tail_ != kNone && slots_[tail_].id > id)
    sorted_ = false;
  link(s, kNone);
  ++size_;
}

void MapStore::placeAfter(uint32_t id, uint32_t previous) {
  uint32_t s = slotOf(id);
  if (!ordered_ || s == kNone || id == previous)
    return;
  uint32_t p = slotOf(previous);
  if (p != kNone ? slots_[p].next == s : head_ == s)
    return; // already there (the usual case of a fetch placing its objects one after the other)
  unlink(s);
  link(s, p == kNone ? head_ : slots_[p].next);
}

void MapStore::placeBefore(uint32_t id, uint32_t next) {
  uint32_t s = slotOf(id);
  if (!ordered_ || s == kNone || id == next)
    return;
  unlink(s);
  link(s, slotOf(next));
}

uint32_t MapStore::nextOf(uint32_t id) const {
  uint32_t s = slotOf(id);
  if (s == kNone)
    return kNone;
  sortById();
  uint32_t n = slots_[s].next;
  return n == kNone ? kNone : slots_[n].id;
}

uint32_t MapStore::previousOf(uint32_t id) const {
  uint32_t s = slotOf(id);
  if (!ordered_ || s == kNone || slots_[s].prev == kNone)
    return kNone;
  return slots_[slots_[s].prev].id;
}

Reference<IObject> MapStore::erase(uint32_t id) {
  uint32_t s = slotOf(id);
  if (s == kNone)
    return {};
  indexErase(id);
  unlink(s);
  Reference<IObject> object = std::move(slots_[s].object);
  slots_[s].id = kNone;
  slots_[s].next = freeSlot_;
  freeSlot_ = s;
  --size_;
  return object;
}

void MapStore::clear() {
  // Objects may be released while the store is emptied; the vectors are swapped out first so
  // the store is consistent (empty) whatever their destructors do.
  std::vector<Slot> slots = std::move(slots_);
  slots_.clear();
  index_.clear();
  size_ = 0;
  freeSlot_ = head_ = tail_ = kNone;
  sorted_ = true;
}

} // namespace kestel
