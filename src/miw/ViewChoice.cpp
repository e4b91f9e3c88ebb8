#include "miw/ViewChoice.h"

#include "gen/Skin.h"
#include "gen/Slot.h"

namespace kestel {

bool isMultiKind(const std::string& kind) {
  return kind.rfind("multi", 0) == 0 && kind != "multilinestring";
}

bool isDisplayKind(const std::string& kind) { return kind == "message" || kind == "object"; }

ViewChoice chooseView(const Slot& slot, const SkinEntry* skin, bool windowReadOnly, bool optional) {
  ViewChoice choice;
  if (skin && !skin->name.empty())
    choice.label = skin->name;
  else
    choice.label = slot.titleText().empty() ? slot.name() : slot.titleText();
  if (slot.has(SLOT_NONPUBLIC) || (skin && skin->hidden) ||
      (slot.has(SLOT_HIDEBYDEFAULT) && !(skin && skin->show)))
    return choice; // Hidden
  const JSValue* ro = slot.option("ro");
  bool slotReadOnly = ro && ro->number != 0;
  if (slotReadOnly || windowReadOnly || (skin && skin->readOnly) || isDisplayKind(slot.kind())) {
    choice.kind = ViewKind::ReadOnly;
    return choice;
  }
  const bool hasValues = static_cast<bool>(slot.enumeration());
  if (slot.kind() == "set" && hasValues)
    choice.kind = ViewKind::CheckSet;
  else if (isMultiKind(slot.kind()))
    choice.kind = ViewKind::Multi;
  else if (hasValues && slot.kind() != "string")
    choice.kind = ViewKind::Enum;
  else
    choice.kind = ViewKind::Text;
  choice.optional = optional;
  return choice;
}

} // namespace kestel
