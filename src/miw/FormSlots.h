// The fields of an object window, decided without a screen: which slots of a type hold a value
// and so get a field (where a field's value lies: slotPart in miw/ValueCell.h).
#pragma once

#include <vector>

namespace kestel {

class CType;
class Slot;

// Whether the slot holds a value (its first field is bound to a message member).
bool holdsValue(const Slot& slot);
// The top-level slots of `type` that hold a value, in order.
std::vector<const Slot*> formSlots(const CType& type);

} // namespace kestel
