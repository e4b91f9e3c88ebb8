#include "app/FieldText.h"

#include "miw/Convertor.h"
#include "miw/ValueCell.h"

namespace kestel {
namespace {

Reference<IConvertor> convertorOf(const Slot& slot) {
  Reference<IBase> made = slot.createConvertor();
  return Reference<IConvertor>(dynamic_cast<IConvertor*>(made.get()));
}

std::string fieldName(const Slot& slot) {
  return slot.titleText().empty() ? slot.name() : slot.titleText();
}

} // namespace

std::string fieldText(const IObject& object, const Slot& slot) {
  std::byte* part = slotPart(object, slot);
  if (!part)
    return {};
  FieldValue value = RecordCell(slot, part).get();
  if (std::holds_alternative<std::monostate>(value))
    return {};
  if (Reference<IConvertor> convertor = convertorOf(slot)) {
    std::string shown = convertor->format(value);
    if (!shown.empty())
      return shown;
  }
  return plainText(value);
}

Expected<void> setFieldText(IObject& object, const Slot& slot, std::string_view text) {
  Reference<IConvertor> convertor = convertorOf(slot);
  std::byte* part = slotPart(object, slot);
  if (!convertor || !part)
    return makeError(fieldName(slot) + " cannot be set");
  Expected<FieldValue> value = convertor->parse(text);
  if (!value)
    return makeError(inputErrorText(fieldName(slot), *convertor));
  if (!RecordCell(slot, part).set(*value))
    return makeError(fieldName(slot) + " cannot be set");
  return {};
}

} // namespace kestel
