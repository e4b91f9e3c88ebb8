// The slot factory: turns one element of a descriptor "c" list into a slot of its kind (113
// kinds), or hands back a condition for the kind "cond". Errors are the descriptor error texts,
// logged before they are returned.
#pragma once

#include "gen/JSNode.h"
#include "gen/Slot.h"
#include "gen/SlotCondition.h"
#include "util/Expected.h"

#include <memory>
#include <string_view>
#include <vector>

namespace kestel {

// What one element builds: a slot, a condition, or nothing ("networkmap").
struct SlotElement {
  std::unique_ptr<Slot> slot;
  std::unique_ptr<SlotCondition> condition;
};

// Builds the element; fails with "unknown slot type <kind>" or the kind's own error.
[[nodiscard]] Expected<SlotElement> createSlotElement(const JSNode& node);

// A new, empty slot of a known kind (null for "cond", "networkmap" and unknown kinds).
std::unique_ptr<Slot> makeSlotOfKind(std::string_view kind, std::string name);

// Every kind the factory knows, in alphabetical order.
const std::vector<std::string_view>& slotKinds();

} // namespace kestel
