// Inside of a message body: the open-addressing tables for u32 and bool fields and the lists of the
// other scalars and the arrays. Only the message module includes this.
#pragma once

#include "api/wire/Message.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <forward_list>
#include <memory>
#include <new>
#include <variant>

namespace nv::detail {

using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t kEmptySlot = 0xFFFFFFFF;
inline constexpr uint32_t kDeletedSlot = 0xFFFFFFFE;
inline constexpr uint32_t kNoInlineBool = 0xFFFFFFFF;
// Room behind a body that set() creates: the list nodes and the grown u32 table of a record of a
// dozen u32 and a handful of strings, arrays and nested messages.
inline constexpr size_t kFreshRoom = 512;

// Room behind a body that a decode created: one allocation holds the body, the list nodes of the
// fields decoded into it and its grown u32 table; a body that set() created also keeps the bytes of
// its string and nested message values here. Memory taken from here is never freed piece by piece;
// once the room is used up, everything comes from the heap as usual, so a body never holds more
// than its room. A second, spare region (the u32 table's first slots, free once the table grew)
// serves when the main one is used up.
class NodeRoom {
public:
  NodeRoom() = default;
  NodeRoom(char* begin, size_t size) : main_{begin, begin, begin + size} {}
  NodeRoom(const NodeRoom&) = delete;
  NodeRoom& operator=(const NodeRoom&) = delete;

  // size bytes aligned for any node, or null when they do not fit.
  void* take(size_t size) {
    size = rounded(size);
    if (void* p = main_.take(size))
      return p;
    return spare_.take(size);
  }
  // Hands back the tail of the block last taken (p, taken bytes), keeping its first `used` bytes.
  // Nothing happens when another block was taken after it.
  void shrinkLast(void* p, size_t taken, size_t used) {
    main_.shrinkLast(static_cast<char*>(p), rounded(taken), rounded(used));
    spare_.shrinkLast(static_cast<char*>(p), rounded(taken), rounded(used));
  }
  // Adds memory that lives as long as the room, once; the part not aligned for nodes is left out.
  void addSpare(void* begin, size_t size) {
    if (spare_.begin)
      return;
    const auto at = reinterpret_cast<uintptr_t>(begin);
    const uintptr_t aligned = (at + kAlign - 1) & ~uintptr_t(kAlign - 1);
    if (aligned - at >= size)
      return;
    char* b = static_cast<char*>(begin) + (aligned - at);
    spare_ = Region{b, b, b + (size - (aligned - at))};
  }
  bool owns(const void* p) const { return main_.owns(p) || spare_.owns(p); }

  static constexpr size_t kAlign = 8;

private:
  static size_t rounded(size_t size) { return (size + kAlign - 1) & ~(kAlign - 1); }

  struct Region {
    char* begin = nullptr;
    char* cur = nullptr;
    char* end = nullptr;
    void* take(size_t size) {
      if (size > size_t(end - cur))
        return nullptr;
      void* p = cur;
      cur += size;
      return p;
    }
    void shrinkLast(char* p, size_t taken, size_t used) {
      if (begin && p >= begin && p + taken == cur)
        cur = p + used;
    }
    bool owns(const void* p) const {
      const char* c = static_cast<const char*>(p);
      return begin && c >= begin && c < end;
    }
  };
  Region main_;
  Region spare_;
};

// Open addressing with linear probing. Home slot = id modulo capacity; capacity starts at 11 and
// doubles when count + 1 exceeds capacity/2 + capacity/16. Deleted slots stay as tombstones that
// later inserts reuse. The first 11 slots live inside the table itself (filled on the first
// insert); grown tables live in the body's room while it lasts, else on the heap.
template <typename V> class OpenTable {
public:
  struct Slot {
    uint32_t id;
    V value;
  };
  static constexpr uint32_t kInitialCapacity = 11;

  OpenTable() = default;
  OpenTable(const OpenTable& other)
      : cap_(other.cap_), count_(other.count_), limit_(other.limit_), magic_(other.magic_) {
    if (cap_ > kInitialCapacity) {
      heap_ = std::make_unique<Slot[]>(cap_);
      std::copy_n(other.slots_, cap_, heap_.get());
      slots_ = heap_.get();
    } else if (cap_) {
      std::copy_n(other.slots_, cap_, inline_);
      slots_ = inline_;
    }
  }
  OpenTable& operator=(const OpenTable&) = delete;

  uint32_t count() const { return count_; }
  // All slots in index order, live or not (an id of kEmptySlot or kDeletedSlot marks the others).
  std::span<const Slot> slots() const { return {slots_, cap_}; }
  // Grown tables are taken from room while it lasts.
  void useRoom(NodeRoom* room) { room_ = room; }

  const V* find(uint32_t id) const {
    const uint32_t i = indexOf(id);
    return i == kNotFound ? nullptr : &slots_[i].value;
  }
  V* find(uint32_t id) {
    const uint32_t i = indexOf(id);
    return i == kNotFound ? nullptr : &slots_[i].value;
  }

  // Inserts an id known to be absent, value-initialised. Out of line: it may set up or grow the
  // table, which the lookups inlined into every setter should not carry.
  [[gnu::noinline]] V& insert(uint32_t id) {
    if (!cap_) {
      slots_ = inline_;
      setCapacity(kInitialCapacity);
      clearSlots();
    }
    if (count_ + 1 > limit_)
      grow();
    Slot& s = slots_[probeFree(id)];
    s.id = id;
    s.value = V{};
    ++count_;
    return s.value;
  }

  // The value of id, inserted value-initialised when absent. One probe in the common case.
  V& findOrInsert(uint32_t id) {
    if (!cap_)
      return insert(id);
    const uint32_t home = homeOf(id);
    uint32_t i = home;
    uint32_t tombstone = kNotFound;
    do {
      const uint32_t at = slots_[i].id;
      if (at == id)
        return slots_[i].value;
      if (at == kEmptySlot)
        break;
      if (at == kDeletedSlot && tombstone == kNotFound)
        tombstone = i;
      i = i + 1 == cap_ ? 0 : i + 1;
    } while (i != home);
    if (count_ + 1 > limit_)
      return insert(id); // grows first, then probes the new table
    Slot& s = slots_[tombstone != kNotFound ? tombstone : i];
    s.id = id;
    s.value = V{};
    ++count_;
    return s.value;
  }

  bool erase(uint32_t id) {
    const uint32_t i = indexOf(id);
    if (i == kNotFound)
      return false;
    slots_[i].id = kDeletedSlot;
    --count_;
    return true;
  }

  // Visits live entries in slot order, stopping after the last one.
  template <typename F> void forEach(F&& f) const {
    uint32_t left = count_;
    for (uint32_t i = 0; left; ++i)
      if (slots_[i].id < kDeletedSlot) {
        f(slots_[i].id, slots_[i].value);
        --left;
      }
  }

  // Removes every live entry for which pred(id) holds.
  template <typename P> void eraseIf(P&& pred) {
    for (uint32_t i = 0; i < cap_; ++i)
      if (slots_[i].id < kDeletedSlot && pred(slots_[i].id)) {
        slots_[i].id = kDeletedSlot;
        --count_;
      }
  }

private:
  static constexpr uint32_t kNotFound = 0xFFFFFFFF;

  // Lookup stops at the id or at the first empty slot; tombstones are passed over.
  uint32_t indexOf(uint32_t id) const {
    if (!cap_)
      return kNotFound;
    const uint32_t home = homeOf(id);
    uint32_t i = home;
    do {
      const uint32_t at = slots_[i].id;
      if (at == id)
        return i;
      if (at == kEmptySlot)
        return kNotFound;
      i = i + 1 == cap_ ? 0 : i + 1;
    } while (i != home);
    return kNotFound;
  }

  // The first tombstone on the probe path, else the empty slot that ends it. The load limit
  // guarantees that one of them exists.
  uint32_t probeFree(uint32_t id) const {
    uint32_t i = homeOf(id);
    while (slots_[i].id != kEmptySlot && slots_[i].id != kDeletedSlot)
      i = i + 1 == cap_ ? 0 : i + 1;
    return i;
  }

  // id modulo capacity by multiplication (the capacity changes rarely, ids are looked up often).
  uint32_t homeOf(uint32_t id) const {
    const uint64_t low = magic_ * id;
    return uint32_t((static_cast<unsigned __int128>(low) * cap_) >> 64);
  }
  // Capacities are 11 times a power of two; their constants for homeOf are computed once, since
  // a division on every new table costs as much as a dozen inserts.
  static constexpr int kLevels = 29;
  static constexpr std::array<uint64_t, kLevels> kMagic = [] {
    std::array<uint64_t, kLevels> m{};
    for (int k = 0; k < kLevels; ++k)
      m[size_t(k)] = UINT64_MAX / (uint64_t(kInitialCapacity) << k) + 1;
    return m;
  }();
  void setCapacity(uint32_t cap) {
    cap_ = cap;
    limit_ = cap / 2 + cap / 16;
    const int level = std::countr_zero(cap / kInitialCapacity);
    magic_ = kMagic[size_t(level)];
  }
  // Marks every slot empty. u32 values of empty slots are never used (the encoder reads them but
  // drops what it wrote), so one byte fill does.
  void clearSlots() {
    if constexpr (std::is_same_v<V, uint32_t>)
      std::memset(static_cast<void*>(slots_), 0xFF, cap_ * sizeof(Slot));
    else
      std::fill_n(slots_, cap_, Slot{kEmptySlot, V{}});
  }

  void grow() {
    const uint32_t oldCap = cap_;
    Slot* old = slots_;
    std::unique_ptr<Slot[]> oldHeap = std::move(heap_);
    setCapacity(oldCap * 2);
    slots_ = room_ ? static_cast<Slot*>(room_->take(cap_ * sizeof(Slot))) : nullptr;
    if (!slots_) {
      heap_ = std::make_unique_for_overwrite<Slot[]>(cap_);
      slots_ = heap_.get();
    }
    clearSlots();
    for (uint32_t i = 0; i < oldCap; ++i)
      if (old[i].id < kDeletedSlot)
        slots_[probeFree(old[i].id)] = old[i];
    // The first slots are never used again: the room may place other things there.
    if (room_ && old == inline_)
      room_->addSpare(inline_, sizeof inline_);
  }

  Slot* slots_ = nullptr;
  uint32_t cap_ = 0; // 0 until the first insert
  uint32_t count_ = 0;
  uint32_t limit_ = 0; // the most entries before the table grows: cap/2 + cap/16
  uint64_t magic_ = 0;
  std::unique_ptr<Slot[]> heap_; // null while the slots are inline or in room_
  NodeRoom* room_ = nullptr;
  Slot inline_[kInitialCapacity];
};

// The elements of a message array as they travel: each element's encoding behind its 16-bit
// little-endian length, back to back in one buffer however many elements there are.
struct PackedMessages {
  uint32_t count = 0;
  Bytes wire;

  size_t size() const { return count; }
  // Appends one element of at most 65535 bytes.
  void push(std::span<const uint8_t> e) {
    wire.push_back(uint8_t(e.size()));
    wire.push_back(uint8_t(e.size() >> 8));
    wire.insert(wire.end(), e.begin(), e.end());
    ++count;
  }
  // The element at offset at (0 for the first), moving at to the next one.
  std::span<const uint8_t> next(size_t& at) const {
    const size_t len = wire[at] | (size_t(wire[at + 1]) << 8);
    const std::span<const uint8_t> e(wire.data() + at + 2, len);
    at += 2 + len;
    return e;
  }
  // Calls f(std::span<const uint8_t>) for every element in order.
  template <typename F> void forEach(F&& f) const {
    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i)
      f(next(at));
  }
  friend bool operator==(const PackedMessages&, const PackedMessages&) = default;
};

// The bytes of a string or nested message value that set() copied into the body's room: they live
// as long as the body. Copies of the field and ref() turn them into an owned std::string or Bytes.
struct RoomBytes {
  const uint8_t* data;
  size_t size;
  friend bool operator==(RoomBytes a, RoomBytes b) {
    return a.size == b.size && (a.size == 0 || std::memcmp(a.data, b.data, a.size) == 0);
  }
};

// u64, addr6, string (std::string), message and raw (bytes), and string or message bytes in the
// body's room.
using ScalarValue = std::variant<uint64_t, addr6, std::string, Bytes, RoomBytes>;

// The bytes of a string, message or raw value, wherever they are kept.
inline std::span<const uint8_t> valueBytes(const ScalarValue& v) {
  switch (v.index()) {
  case 2: {
    const std::string& s = *std::get_if<std::string>(&v);
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
  }
  case 3:
    return *std::get_if<Bytes>(&v);
  case 4:
    return {std::get_if<RoomBytes>(&v)->data, std::get_if<RoomBytes>(&v)->size};
  default:
    return {};
  }
}

// The value in a form that owns its bytes: room bytes become a std::string (string ids) or Bytes.
inline ScalarValue ownedValue(uint32_t id, const ScalarValue& v) {
  if (v.index() != 4)
    return v;
  const std::span<const uint8_t> b = valueBytes(v);
  if ((id & kTagMask) == kTagString)
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
  return Bytes(b.begin(), b.end());
}
// bool (bytes), u32, u64, addr6, string, raw (byte vectors) and message (packed).
using ArrayValue =
    std::variant<Bytes, std::vector<uint32_t>, std::vector<uint64_t>, std::vector<addr6>,
                 std::vector<std::string>, std::vector<Bytes>, PackedMessages>;

struct ScalarField {
  template <typename... A>
  explicit ScalarField(uint32_t i, A&&... a) : id(i), value(std::forward<A>(a)...) {}
  // A copy may outlive the body whose room held the bytes: it owns them.
  ScalarField(const ScalarField& other) : id(other.id), value(ownedValue(other.id, other.value)) {}
  ScalarField& operator=(const ScalarField&) = delete;
  uint32_t id;
  ScalarValue value;
};
struct ArrayField {
  template <typename... A>
  explicit ArrayField(uint32_t i, A&&... a) : id(i), value(std::forward<A>(a)...) {}
  uint32_t id;
  ArrayValue value;
};

// List node allocator: from the body's room while it lasts, else from the heap.
template <typename T> struct NodeAlloc {
  using value_type = T;
  explicit NodeAlloc(NodeRoom* r) : room(r) {}
  template <typename U> NodeAlloc(const NodeAlloc<U>& other) : room(other.room) {}
  T* allocate(size_t n) {
    static_assert(alignof(T) <= NodeRoom::kAlign);
    if (void* p = room->take(n * sizeof(T)))
      return static_cast<T*>(p);
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) {
    if (!room->owns(p))
      ::operator delete(p);
  }
  template <typename U> bool operator==(const NodeAlloc<U>& other) const {
    return room == other.room;
  }
  NodeRoom* room;
};

using ScalarList = std::forward_list<ScalarField, NodeAlloc<ScalarField>>;
using ArrayList = std::forward_list<ArrayField, NodeAlloc<ArrayField>>;

struct Body {
  Body() : scalars(NodeAlloc<ScalarField>(&room)), arrays(NodeAlloc<ArrayField>(&room)) {}
  Body(const Body& other)
      : bools(other.bools ? std::make_unique<OpenTable<bool>>(*other.bools) : nullptr),
        u32s(other.u32s), scalars(other.scalars, NodeAlloc<ScalarField>(&room)),
        arrays(other.arrays, NodeAlloc<ArrayField>(&room)), inlineBoolId(other.inlineBoolId),
        inlineBool(other.inlineBool) {}
  Body& operator=(const Body&) = delete;

  // A fresh body with roomBytes of node room behind it, in one allocation.
  static Body* withRoom(size_t roomBytes) {
    constexpr size_t head = (sizeof(Body) + NodeRoom::kAlign - 1) & ~(NodeRoom::kAlign - 1);
    char* mem = static_cast<char*>(::operator new(head + roomBytes));
    return new (mem) Body(mem + head, roomBytes);
  }
  // Bodies with room were allocated larger than sizeof(Body): free without a size.
  static void operator delete(void* p) { ::operator delete(p); }

  NodeRoom room;                          // first: outlives the lists whose nodes it may hold
  std::unique_ptr<OpenTable<bool>> bools; // only once two different bools were set
  OpenTable<uint32_t> u32s;
  ScalarList scalars; // newest first
  ArrayList arrays;   // newest first
  uint32_t inlineBoolId = kNoInlineBool;
  bool inlineBool = false;
  uint32_t refs = 1;
  bool pinned = false;

private:
  Body(char* roomBegin, size_t roomBytes)
      : room(roomBegin, roomBytes), scalars(NodeAlloc<ScalarField>(&room)),
        arrays(NodeAlloc<ArrayField>(&room)) {
    u32s.useRoom(&room);
  }
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
  case kTagMessage:
    return 6;
  default:
    return 5;
  }
}

// The slot of a bool, created false when absent: inline while it is the only bool, else in the
// bool table.
bool& boolSlot(Body& b, uint32_t id);

// Deletes every field whose id satisfies pred, in one pass over each store.
template <typename P> void eraseFieldsIf(Body& b, P&& pred) {
  if (b.inlineBoolId != kNoInlineBool && pred(b.inlineBoolId))
    b.inlineBoolId = kNoInlineBool;
  if (b.bools)
    b.bools->eraseIf(pred);
  b.u32s.eraseIf(pred);
  b.scalars.remove_if([&](const ScalarField& f) { return pred(f.id); });
  b.arrays.remove_if([&](const ArrayField& f) { return pred(f.id); });
}

// Drops the older of two nodes with the same id (lists hold the newest first).
void dropOlderDuplicates(Body& b);

// The stored form of an id: bit 24 is never part of it.
inline uint32_t storedId(uint32_t id) { return id & ~kShortForm; }

} // namespace nv::detail

namespace nv {

// The body to change: this one when nobody shares it, else a copy (detach). Inlined into every
// setter.
inline detail::Body& message::mut() {
  if (body_ && body_->refs == 1) [[likely]]
    return *body_;
  return detach();
}

} // namespace nv
