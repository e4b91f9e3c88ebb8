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

} // namespace kestel
