#include "app/FieldText.h"

#include "gen/CType.h"
#include "miw/Convertor.h"

#include <cstring>

namespace kestel {
namespace {

// Where the slot's fields lie in the object's record; empty when the object has none for it.
struct FieldPlaces {
  std::vector<std::byte*> at; // one per bound field
  std::vector<Store> stores;
  std::vector<char> letters;
};

FieldPlaces placesOf(const IObject& object, const Slot& slot) {
  FieldPlaces places;
  const CType* type = object.getCType();
  SlotFieldInfo first;
  if (!type || !type->slotField(&slot, first))
    return places;
  std::span<std::byte> record = object.record();
  size_t base = first.offset - slot.fields()[0].offset;
  for (const SlotField& f : slot.fields()) {
    if (f.letter == 0)
      continue;
    // Every field's storage must lie wholly inside the record.
    if (base + f.offset + storeType(f.store())->size() > record.size())
      return {};
    places.at.push_back(record.data() + base + f.offset);
    places.stores.push_back(f.store());
    places.letters.push_back(f.letter);
  }
  return places;
}

bool isRange(const Slot& slot) {
  return slot.kind() == "numberrange" || slot.kind() == "integerrange" ||
         slot.kind() == "community";
}

FieldValue readValue(const FieldPlaces& p, const Slot& slot) {
  if (p.at.empty())
    return std::monostate{};
  const std::byte* at = p.at[0];
  switch (p.stores[0]) {
  case Store::U32: {
    uint32_t v = *reinterpret_cast<const uint32_t*>(at);
    if (isRange(slot) && p.at.size() > 1 && p.stores[1] == Store::U32)
      return NumberRange{v, *reinterpret_cast<const uint32_t*>(p.at[1])};
    if (p.letters[0] == 'b')
      return v != 0;
    return v;
  }
  case Store::U64:
    return *reinterpret_cast<const uint64_t*>(at);
  case Store::Addr6:
    return *reinterpret_cast<const Addr6*>(at);
  case Store::Text:
    return *reinterpret_cast<const std::string*>(at);
  case Store::Raw:
    return *reinterpret_cast<const Bytes*>(at);
  case Store::U32List:
    return *reinterpret_cast<const std::vector<uint32_t>*>(at);
  case Store::TextList:
    return *reinterpret_cast<const std::vector<std::string>*>(at);
  default:
    return std::monostate{};
  }
}

// Stores `value` when its kind is the one the fields hold; false otherwise.
bool writeValue(const FieldPlaces& p, const FieldValue& value) {
  if (p.at.empty())
    return false;
  std::byte* at = p.at[0];
  switch (p.stores[0]) {
  case Store::U32:
    if (const auto* r = std::get_if<NumberRange>(&value); r && p.at.size() > 1) {
      *reinterpret_cast<uint32_t*>(at) = r->low;
      *reinterpret_cast<uint32_t*>(p.at[1]) = r->high;
      return true;
    }
    if (const auto* b = std::get_if<bool>(&value)) {
      *reinterpret_cast<uint32_t*>(at) = *b ? 1 : 0;
      return true;
    }
    if (const auto* v = std::get_if<uint32_t>(&value)) {
      *reinterpret_cast<uint32_t*>(at) = *v;
      return true;
    }
    return false;
  case Store::U64:
    if (const auto* v = std::get_if<uint64_t>(&value)) {
      *reinterpret_cast<uint64_t*>(at) = *v;
      return true;
    }
    return false;
  case Store::Addr6:
    if (const auto* v = std::get_if<Addr6>(&value)) {
      *reinterpret_cast<Addr6*>(at) = *v;
      return true;
    }
    return false;
  case Store::Text:
    if (const auto* v = std::get_if<std::string>(&value)) {
      *reinterpret_cast<std::string*>(at) = *v;
      return true;
    }
    return false;
  case Store::Raw:
    if (const auto* v = std::get_if<Bytes>(&value)) {
      *reinterpret_cast<Bytes*>(at) = *v;
      return true;
    }
    return false;
  case Store::U32List:
    if (const auto* v = std::get_if<std::vector<uint32_t>>(&value)) {
      *reinterpret_cast<std::vector<uint32_t>*>(at) = *v;
      return true;
    }
    return false;
  case Store::TextList:
    if (const auto* v = std::get_if<std::vector<std::string>>(&value)) {
      *reinterpret_cast<std::vector<std::string>*>(at) = *v;
      return true;
    }
    return false;
  default:
    return false;
  }
}

Reference<IConvertor> convertorOf(const Slot& slot) {
  Reference<IBase> made = slot.createConvertor();
  return Reference<IConvertor>(dynamic_cast<IConvertor*>(made.get()));
}

std::string fieldName(const Slot& slot) {
  return slot.titleText().empty() ? slot.name() : slot.titleText();
}

} // namespace

std::string fieldText(const IObject& object, const Slot& slot) {
  FieldValue value = readValue(placesOf(object, slot), slot);
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
  FieldPlaces places = placesOf(object, slot);
  if (!convertor || places.at.empty())
    return makeError(fieldName(slot) + " cannot be set");
  Expected<FieldValue> value = convertor->parse(text);
  if (!value)
    return makeError(inputErrorText(fieldName(slot), *convertor));
  if (!writeValue(places, *value))
    return makeError(fieldName(slot) + " cannot be set");
  return {};
}

} // namespace kestel
