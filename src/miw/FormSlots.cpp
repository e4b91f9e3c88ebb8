#include "miw/FormSlots.h"

#include "gen/CType.h"

namespace kestel {

bool holdsValue(const Slot& slot) { return !slot.fields().empty() && slot.fields()[0].letter != 0; }

std::vector<const Slot*> formSlots(const CType& type) {
  std::vector<const Slot*> out;
  for (const Slot* s : type.slots())
    if (holdsValue(*s))
      out.push_back(s);
  return out;
}

void* slotPart(IObject& object, const Slot& slot) {
  const CType* type = object.getCType();
  SlotFieldInfo first;
  if (!type || !holdsValue(slot) || !type->slotField(&slot, first))
    return nullptr;
  std::span<std::byte> record = object.record();
  size_t base = first.offset - slot.fields()[0].offset;
  if (base + slot.partSize() > record.size())
    return nullptr;
  return record.data() + base;
}

} // namespace kestel
