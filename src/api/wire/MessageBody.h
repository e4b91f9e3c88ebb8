// Inside of a message body: the open-addressing tables for u32 and bool fields and the lists of the
// other scalars and the arrays. Only the message module includes this.
#pragma once

#include "api/wire/Message.h"

#include <forward_list>
#include <memory>
#include <variant>

namespace nv::detail {

using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t kEmptySlot = 0xFFFFFFFF;
inline constexpr uint32_t kDeletedSlot = 0xFFFFFFFE;
inline constexpr uint32_t kNoInlineBool = 0xFFFFFFFF;

// Open addressing with linear probing. Home slot = id modulo capacity; capacity starts at 11 and
// doubles when count + 1 exceeds capacity/2 + capacity/16. Deleted slots stay as tombstones that
// later inserts reuse. The slots are allocated on the first insert.
template <typename V> class OpenTable {
public:
  struct Slot {
    uint32_t id;
    V value;
  };
  static constexpr uint32_t kInitialCapacity = 11;

  uint32_t count() const { return count_; }
  uint32_t capacity() const { return slots_.empty() ? kInitialCapacity : uint32_t(slots_.size()); }

  const V* find(uint32_t id) const {
    const uint32_t i = indexOf(id);
    return i == kNotFound ? nullptr : &slots_[i].value;
  }
  V* find(uint32_t id) {
    const uint32_t i = indexOf(id);
    return i == kNotFound ? nullptr : &slots_[i].value;
  }

  // Inserts an id known to be absent, value-initialised.
  V& insert(uint32_t id) {
    if (slots_.empty())
      slots_.assign(kInitialCapacity, Slot{kEmptySlot, V{}});
    const uint32_t cap = uint32_t(slots_.size());
    if (count_ + 1 > cap / 2 + cap / 16)
      grow();
    Slot& s = slots_[probeFree(id)];
    s.id = id;
    s.value = V{};
    ++count_;
    return s.value;
  }

  V& findOrInsert(uint32_t id) {
    if (V* v = find(id))
      return *v;
    return insert(id);
  }

  bool erase(uint32_t id) {
    const uint32_t i = indexOf(id);
    if (i == kNotFound)
      return false;
    slots_[i].id = kDeletedSlot;
    --count_;
    return true;
  }

  // Visits live entries in slot order.
  template <typename F> void forEach(F&& f) const {
    for (const Slot& s : slots_)
      if (s.id < kDeletedSlot)
        f(s.id, s.value);
  }

  // Removes every live entry for which pred(id) holds.
  template <typename P> void eraseIf(P&& pred) {
    for (Slot& s : slots_)
      if (s.id < kDeletedSlot && pred(s.id)) {
        s.id = kDeletedSlot;
        --count_;
      }
  }

private:
  static constexpr uint32_t kNotFound = 0xFFFFFFFF;

  // Lookup stops at the id or at the first empty slot; tombstones are passed over.
  uint32_t indexOf(uint32_t id) const {
    if (slots_.empty())
      return kNotFound;
    const uint32_t cap = uint32_t(slots_.size());
    const uint32_t home = id % cap;
    uint32_t i = home;
    do {
      const uint32_t at = slots_[i].id;
      if (at == id)
        return i;
      if (at == kEmptySlot)
        return kNotFound;
      i = i + 1 == cap ? 0 : i + 1;
    } while (i != home);
    return kNotFound;
  }

  // The first tombstone on the probe path, else the empty slot that ends it. The load limit
  // guarantees that one of them exists.
  uint32_t probeFree(uint32_t id) const {
    const uint32_t cap = uint32_t(slots_.size());
    const uint32_t home = id % cap;
    uint32_t i = home;
    while (slots_[i].id != kEmptySlot && slots_[i].id != kDeletedSlot)
      i = i + 1 == cap ? 0 : i + 1;
    return i;
  }

  void grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.size() * 2, Slot{kEmptySlot, V{}});
    for (const Slot& s : old)
      if (s.id < kDeletedSlot)
        slots_[probeFree(s.id)] = s;
  }

  std::vector<Slot> slots_;
  uint32_t count_ = 0;
};

// u64, addr6, string (std::string), message and raw (bytes).
using ScalarValue = std::variant<uint64_t, addr6, std::string, Bytes>;
// bool (bytes), u32, u64, addr6, string, message and raw (byte vectors).
using ArrayValue = std::variant<Bytes, std::vector<uint32_t>, std::vector<uint64_t>,
                                std::vector<addr6>, std::vector<std::string>, std::vector<Bytes>>;

struct ScalarField {
  uint32_t id;
  ScalarValue value;
};
struct ArrayField {
  uint32_t id;
  ArrayValue value;
};

struct Body {
  Body() = default;
  Body(const Body& other)
      : bools(other.bools ? std::make_unique<OpenTable<bool>>(*other.bools) : nullptr),
        u32s(other.u32s), scalars(other.scalars), arrays(other.arrays),
        inlineBoolId(other.inlineBoolId), inlineBool(other.inlineBool) {}
  Body& operator=(const Body&) = delete;

  std::unique_ptr<OpenTable<bool>> bools; // only once two different bools were set
  OpenTable<uint32_t> u32s;
  std::forward_list<ScalarField> scalars; // newest first
  std::forward_list<ArrayField> arrays;   // newest first
  uint32_t inlineBoolId = kNoInlineBool;
  bool inlineBool = false;
  uint32_t refs = 1;
  bool pinned = false;
};

// Variant index of the value of each kind (tag bits 27 to 30).
inline size_t scalarIndex(uint32_t id) {
  switch (id & kTagMask) {
  case kTagU64:
    return 0;
  case kTagAddr6:
    return 1;
  case kTagString:
    return 2;
  default:
    return 3;
  }
}
inline size_t arrayIndex(uint32_t id) {
  switch (id & ~kTagArray & kTagMask) {
  case kTagBool:
    return 0;
  case kTagU32:
    return 1;
  case kTagU64:
    return 2;
  case kTagAddr6:
    return 3;
  case kTagString:
    return 4;
  default:
    return 5;
  }
}

// The slot of a bool, created false when absent: inline while it is the only bool, else in the
// bool table.
bool& boolSlot(Body& b, uint32_t id);

// Drops the older of two nodes with the same id (lists hold the newest first).
void dropOlderDuplicates(Body& b);

// The stored form of an id: bit 24 is never part of it.
inline uint32_t storedId(uint32_t id) { return id & ~kShortForm; }

} // namespace nv::detail
