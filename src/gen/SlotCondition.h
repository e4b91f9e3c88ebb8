// Slot conditions: named conditions of a type that hide or lock the slots that name them. Each
// term is a predicate, alone or applied to a slot of the object at hand, or to a slot inside an
// owner slot. The type resolves names (slots, the "oron" condition) when it is completed; this
// module holds the configuration and evaluates it.
#pragma once

#include "gen/Predicate.h"

#include <memory>
#include <string>
#include <vector>

namespace kestel {

class Slot; // a slot of a type (slots work)

struct ConditionTerm {
  PredicatePtr pred;                   // null holds
  std::string owner;                   // owner slot; empty when the term has none
  std::string slot;                    // slot the predicate applies to; empty: the predicate alone
  const Slot* slotRef = nullptr;       // set by on(Slot*, ...) or when the type resolves the name
  mutable bool mismatchLogged = false; // the predicate reads another type than the slot holds
};

class SlotCondition {
public:
  explicit SlotCondition(std::string name) : name_(std::move(name)) {}

  // Reads a condition element of a slot list ("name", "hide", "makero", "hidedynamicly",
  // "oron", "c"); fails with the message of a bad predicate in a term.
  [[nodiscard]] static Expected<std::unique_ptr<SlotCondition>> fromNode(const JSNode& node);

  SlotCondition& on(PredicatePtr pred);
  SlotCondition& on(std::string slot, PredicatePtr pred);
  SlotCondition& on(std::string owner, std::string slot, PredicatePtr pred);
  SlotCondition& on(const Slot* slot, PredicatePtr pred);
  SlotCondition& orOn(std::string condition);
  SlotCondition& hide(bool on) {
    hide_ = on;
    return *this;
  }
  SlotCondition& makeReadOnly(bool on) {
    makeRo_ = on;
    return *this;
  }
  SlotCondition& hideDynamically(bool on) {
    hideDynamically_ = on;
    return *this;
  }
  // The "oron" condition once the type has found it (null: none).
  void resolveOrOn(const SlotCondition* other) { orOnRef_ = other; }

  const std::string& name() const { return name_; }
  const std::string& orOnName() const { return orOn_; }
  bool hides() const { return hide_; }
  bool makesReadOnly() const { return makeRo_; }
  bool hidesDynamically() const { return hideDynamically_; }
  std::vector<ConditionTerm>& terms() { return terms_; }
  const std::vector<ConditionTerm>& terms() const { return terms_; }

  // True when every term holds for the object, or else when the "oron" chain holds. A term with
  // a slot applies its predicate to that slot's field of the object (a slot inside an owner slot
  // and a slot given as an object are found through the type's slot objects, so only after the
  // type resolved them); a term without one applies it to the object itself. A term whose
  // predicate reads another storage type than its slot holds is false (logged once). A cyclic
  // "oron" chain is followed at most 64 steps.
  bool holds(const ObjectView& object) const;

private:
  bool ownTermsHold(const ObjectView& object) const;
  bool termHolds(const ConditionTerm& term, const ObjectView& object) const;

  std::string name_;
  std::string orOn_;
  const SlotCondition* orOnRef_ = nullptr;
  bool hide_ = false;
  bool makeRo_ = false;
  bool hideDynamically_ = false;
  std::vector<ConditionTerm> terms_;
};

// A condition made in code.
std::unique_ptr<SlotCondition> scond(std::string name);

} // namespace kestel
