// Predicates: small boolean expression trees read from a descriptor's "pred" key. They decide
// whether a service, type, slot, condition term or enumeration entry applies, from the router's
// facts (RouterFacts) or from one field of the object at hand. An absent predicate holds.
// Reading fails with "unknown pred type <type>" for a node of no known kind.
//
// What `value` points at, by kind (the record layout of the slots that hold such fields):
//   bool, number, bitmap, object: uint32_t (a boolean is a 32-bit word, non-zero = true)
//   numarrayany: std::vector<uint32_t>      string: std::string      message: Bytes
//   slot: ObjectView (the object at hand)
// Router-fact kinds ignore `value`; field kinds are false when `value` is null.
#pragma once

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
class ISlotLookup {
public:
  virtual ~ISlotLookup() = default;
  // Where the slot's storage lies in this type's records; false when the type has no such slot.
  virtual bool slotOffset(std::string_view slot, size_t& offset) const = 0;
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

class Predicate {
public:
  virtual ~Predicate() = default;
  // True when the predicate holds for the field at `value` (null for services and types).
  virtual bool evaluate(const void* value) const = 0;
};
using PredicatePtr = std::unique_ptr<Predicate>;

// An absent predicate holds.
inline bool holds(const Predicate* p, const void* value) { return !p || p->evaluate(value); }

// Builds the predicate a node describes, nested "pred" keys included. Logs and fails with
// "unknown pred type <type>" when a node's "type" is missing, not a string or unknown.
[[nodiscard]] Expected<PredicatePtr> createPredicate(const JSNode& node);
// Reads the optional member `key` of `owner` as a predicate: null (holds) when absent.
[[nodiscard]] Expected<PredicatePtr> readPredicate(const JSNode& owner,
                                                   std::string_view key = "pred");

// The inner predicate applied to the named slot of the object at hand (`value` is an
// ObjectView); false when the object's type has no such slot.
PredicatePtr pslot(std::string slot, PredicatePtr inner);
// The field at hand holds an object id; true when the object map of `path` (ending with
// 0xFFFFFFFF) has that object and the inner predicate holds for it (as an ObjectView).
PredicatePtr pobject(const unsigned* path, PredicatePtr inner);

} // namespace kestel
