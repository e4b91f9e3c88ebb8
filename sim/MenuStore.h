// One router menu's objects in memory: the objects in router order, each kept as its encoded
// record in one arena (a million log lines cost little more than their bytes), with the edits a
// router performs and their refusals. Every change is told to the store's observers, which is how
// subscriptions of any client learn about edits made by any other.
#pragma once

#include "api/wire/Message.h"
#include "util/Bytes.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestel::sim {

// A limit a member's value must respect: a number within [min, max], or a text whose length is.
struct MemberRule {
  uint32_t fieldId;
  uint32_t min;
  uint32_t max;
  const char* title; // named in the refusal
};

// What a menu is and allows, taken from its descriptor.
struct MenuShape {
  std::string title;
  std::vector<uint32_t> path;
  bool ordered = true;
  bool addable = true;
  bool removable = false;
  bool movable = false;
  bool readOnly = false;
  uint32_t readPolicy = 0x40;  // policy bits needed to read
  uint32_t writePolicy = 0x80; // policy bits needed to change ("writeperm")
  uint32_t capacity = 0;       // the most objects an add may reach; 0: no limit
  uint32_t uniqueField = 0;    // a text field whose value must differ between objects; 0: none
  std::vector<MemberRule> rules;
  nv::message defaults; // what a new object starts with
};

// The outcome of an edit: error 0 and the object's id, or a refusal with its text.
struct EditResult {
  uint32_t error = 0;
  std::string text;
  uint32_t id = 0;
  bool ok() const { return error == 0; }
};

class MenuStore {
public:
  using Id = uint32_t;
  // The largest object kept: a page or notification holding one must still fit in a frame.
  static constexpr size_t kMaxObjectBytes = 32768;
  // "No object": the end of the order as a move target, and the end of a fetch.
  static constexpr Id kNone = 0xFFFFFFFF;

  explicit MenuStore(MenuShape shape);

  const MenuShape& shape() const { return shape_; }
  size_t size() const { return order_.size(); }
  Id idAt(size_t position) const { return order_[position]; }
  bool contains(Id id) const { return id < slots_.size() && slots_[id].length != 0; }
  // Where `id` stands in the order.
  std::optional<size_t> positionOf(Id id) const;
  // The object with STD_ID; empty when unknown.
  nv::message get(Id id) const;
  // The stored record (STD_ID included); empty when unknown.
  ByteSpan encoded(Id id) const;

  // The edits, checked against the menu's rules (which operations a client may ask for is the
  // handler's business). `values` may carry anything; only the menu's own members (handler
  // namespaces below 0xFE) are kept, and SYS_UNSET clears members on change.
  EditResult add(const nv::message& values);
  EditResult change(Id id, const nv::message& values);
  EditResult remove(Id id);
  // Moves `id` in front of `before` (kNone: to the end).
  EditResult move(Id id, Id before);

  // Appends a prepared object without checks (sample data and large generated tables); the
  // caller makes sure it is valid. Observers are not told.
  Id append(const nv::message& values);
  void reserve(size_t objects, size_t bytes);

  // Told about every change (after it is made), with the position the object now has (Added,
  // Moved) or had (Removed); 0 for Changed.
  enum class Change { Added, Changed, Removed, Moved };
  using Observer = std::function<void(Id, Change, size_t position)>;
  void addObserver(Observer observer) { observers_.push_back(std::move(observer)); }

  // Bytes held by the arena, and the part of them that earlier versions still occupy.
  size_t arenaBytes() const { return arena_.size(); }
  size_t garbageBytes() const { return garbage_; }

private:
  struct Slot {
    uint32_t offset = 0;
    uint32_t length = 0; // 0: no such object
  };
  // The refusal of `object` by the menu's rules, or an empty result.
  EditResult check(const nv::message& object, Id self) const;
  void store(Id id, const nv::message& object);
  void drop(Id id);
  void compact();
  void tell(Id id, Change change, size_t position);

  MenuShape shape_;
  Bytes arena_;
  size_t garbage_ = 0;
  std::vector<Slot> slots_{1}; // by id; id 0 is never used
  std::vector<Id> order_;
  bool sortedById_ = true; // the order is ascending by id (no moves so far): positions by search
  std::vector<Observer> observers_;
};

// Copies field `fieldId` from one message to another, whatever its kind; nothing when absent.
void copyField(const nv::message& from, nv::message& to, uint32_t fieldId);
// Copies the members of `values` into `object` (SYS_ and STD_ fields are not members) after
// clearing those that SYS_UNSET names.
void mergeMembers(const nv::message& values, nv::message& object);
// The first rule `object` breaks, as a refusal (ERROR_FAILED); an empty result when none.
EditResult checkMembers(const std::vector<MemberRule>& rules, const nv::message& object);

} // namespace kestel::sim
