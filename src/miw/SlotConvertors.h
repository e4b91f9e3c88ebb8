// The convertor makers of the slot kinds: each slot kind that holds a value the editors show as
// text gets the convertor its configuration asks for (radix and bounds of numbers, lengths of
// texts, "allow" bits of addresses, enumerations, …). The descriptor model asks for them through
// Slot::createConvertor(); kinds not listed here (layout kinds, and value kinds whose text form
// has no convertor yet) give none.
#pragma once

#include <string_view>
#include <vector>

namespace kestel {

// Registers one maker per value kind with the descriptor model (replacing earlier ones).
void installSlotConvertors();
// The kinds installSlotConvertors() registers, in alphabetical order.
const std::vector<std::string_view>& convertedSlotKinds();

} // namespace kestel
