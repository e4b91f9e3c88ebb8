// The fields of an object window, decided without a screen: which slots of a type hold a value
// (and so get a field), and where a slot's part lies in an object's record.
#pragma once

#include <vector>

namespace kestel {

class CType;
class IObject;
class Slot;

// Whether the slot holds a value (its first field is bound to a message member).
bool holdsValue(const Slot& slot);
// The top-level slots of `type` that hold a value, in order.
std::vector<const Slot*> formSlots(const CType& type);
// The slot's part in the object's record; null when the object's type does not know the slot or
// the record has no room for the whole part.
void* slotPart(IObject& object, const Slot& slot);

} // namespace kestel
