// Predicates: small boolean expression trees read from a descriptor's "pred" key. They decide
// whether a service, type, slot, condition term or enumeration entry applies, from the router's
// facts (RouterFacts) or from one field of the object at hand. An absent predicate holds.
// Reading fails with "unknown pred type <type>" for a node of no known kind.
//
// A predicate is applied to a FieldRef: a field's address together with the member type of its
// storage, or the object at hand. Each field kind reads one storage type only and is false for a
// field of any other type (descriptors come from the router and may pair a kind with any slot):
//   bool, number, bitmap, object: uint32_t (a boolean is a 32-bit word, non-zero = true)
//   numarrayany: std::vector<uint32_t>      string: std::string      message: nv::message
//   slot: the object at hand (FieldRef::object)
// Router-fact kinds ignore the field; field kinds are false when there is none.
#pragma once

#include "api/object/MemberType.h"
#include "gen/JSNode.h"
#include "util/Expected.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

// The type of an object as "slot" predicates and slot conditions see it. The types work
// implements it.
// Where a slot's storage lies in a record and what it holds.
struct SlotFieldInfo {
  size_t offset = 0;
  const member_type* type = nullptr; // the storage type of the slot's first field
};

class Slot;

class ISlotLookup {
public:
  virtual ~ISlotLookup() = default;
  // The slot's first field in this type's records; false when the type has no such slot.
  virtual bool slotField(std::string_view slot, SlotFieldInfo& out) const = 0;
  // The first field of that slot object, which may lie inside an owner slot (a group's inner
  // slot); false when the slot is not one of this type's or has no field. Types that know no slot
  // objects find none.
  virtual bool slotField(const Slot* slot, SlotFieldInfo& out) const {
    (void)slot;
    (void)out;
    return false;
  }
};

// One object: its type and its record.
struct ObjectView {
  const ISlotLookup* type = nullptr;
  const void* record = nullptr;
};

// The object maps of the session as "object" predicates see them; the containers work
// implements it.
class IObjectDirectory {
public:
  virtual ~IObjectDirectory() = default;
  // Finds the object with that id in the object map of the handler path; false when the map or
  // the object does not exist.
  virtual bool findObject(const std::vector<uint32_t>& path, uint32_t id, ObjectView& out) = 0;
};

// Sets the directory "object" predicates use (null: every "object" predicate is false).
void setObjectDirectory(IObjectDirectory* directory);

// What a predicate is applied to: a field and its storage type, or the object at hand, or
// nothing (services and types).
struct FieldRef {
  const void* value = nullptr;
  const member_type* type = nullptr; // what `value` holds
  const ObjectView* object = nullptr;
};

// A caller's variable as a field.
template <typename T> FieldRef fieldRef(const T& v) { return {&v, memberTypeOf<T>(), nullptr}; }
inline FieldRef objectRef(const ObjectView& o) { return {nullptr, nullptr, &o}; }

class Predicate {
public:
  virtual ~Predicate() = default;
  // True when the predicate holds for the field (none for services and types); a field of a
  // type other than the kind reads is false.
  virtual bool evaluate(const FieldRef& field) const = 0;
  // The storage type this kind reads; null for kinds that read no field or any.
  virtual const member_type* reads() const { return nullptr; }
};
using PredicatePtr = std::unique_ptr<Predicate>;

// An absent predicate holds.
inline bool holds(const Predicate* p, const FieldRef& field = {}) {
  return !p || p->evaluate(field);
}
// True when `p` reads a storage type other than `type` (worth one "ERROR:" line per slot).
inline bool readsOtherType(const Predicate* p, const member_type* type) {
  return p && p->reads() && p->reads() != type;
}

// Builds the predicate a node describes, nested "pred" keys included. Logs and fails with
// "unknown pred type <type>" when a node's "type" is missing, not a string or unknown.
[[nodiscard]] Expected<PredicatePtr> createPredicate(const JSNode& node);
// Reads the optional member `key` of `owner` as a predicate: null (holds) when absent.
[[nodiscard]] Expected<PredicatePtr> readPredicate(const JSNode& owner,
                                                   std::string_view key = "pred");

// The inner predicate applied to the named slot of the object at hand (FieldRef::object);
// false when the object's type has no such slot. An inner kind reading another storage type
// than the slot's logs one "ERROR:" line per type and is false.
PredicatePtr pslot(std::string slot, PredicatePtr inner);
// The field at hand holds an object id (a u32); true when the object map of `path` (ending with
// 0xFFFFFFFF) has that object and the inner predicate holds for it (as an ObjectView).
PredicatePtr pobject(const unsigned* path, PredicatePtr inner);

} // namespace kestel
