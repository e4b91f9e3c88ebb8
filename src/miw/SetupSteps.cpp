#include "miw/SetupSteps.h"

#include "gen/CType.h"
#include "miw/FormSlots.h"

#include <algorithm>

namespace kestel {
namespace {

bool carried(const Slot& slot, const std::vector<uint32_t>& keys) {
  for (const SlotField& f : slot.fields()) {
    if (f.letter == 0)
      continue;
    if (std::any_of(keys.begin(), keys.end(),
                    [&](uint32_t id) { return (id & nv::kKeyMask) == f.key; }))
      return true;
  }
  return false;
}

} // namespace

std::vector<const Slot*> setupPageSlots(const CType& type, const nv::message& page) {
  const std::vector<uint32_t> keys = page.keys();
  std::vector<const Slot*> shown;
  for (const Slot* s : type.slots())
    if (holdsValue(*s) && carried(*s, keys))
      shown.push_back(s);
  if (!shown.empty())
    return shown;
  for (const Slot* s : type.slots()) {
    if (s->kind() == "separator")
      break;
    if (holdsValue(*s))
      shown.push_back(s);
  }
  return shown;
}

SetupReaction setupReaction(bool end, const std::string& text, StepMoved moved) {
  if (end)
    return {SetupAnswer::Finished, text.empty() ? kSetupDoneText : text};
  if (moved == StepMoved::No && !text.empty())
    return {SetupAnswer::Refused, text};
  return {SetupAnswer::ShowPage, {}};
}

} // namespace kestel
