#include "miw/TableField.h"

#include "gen/CType.h"
#include "gen/Slot.h"
#include "miw/FormSlots.h"
#include "miw/ValueCell.h"

#include <algorithm>
#include <map>

namespace kestel {
namespace {

int order3(auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); }

bool isAddressKind(const std::string& kind) {
  return kind == "ipaddr" || kind == "ip6addr" || kind == "network" || kind == "network6" ||
         kind == "ipaddrandport" || kind == "addr" || kind == "netmask" || kind == "macaddr";
}

ValueKind kindOf(const Slot& slot) {
  if (slot.enumeration())
    return ValueKind::Enum;
  if (slot.kind() == "bool" || slot.kind() == "flag")
    return ValueKind::Flag;
  if (isAddressKind(slot.kind()))
    return ValueKind::Address;
  if (slot.fields().empty())
    return ValueKind::Other;
  switch (slot.fields()[0].store()) {
  case Store::Text:
    return ValueKind::Text;
  case Store::U32:
  case Store::U64:
    return ValueKind::Number;
  default:
    return ValueKind::Other;
  }
}

// Values compared straight in the record, without building a FieldValue: plain 32-bit numbers
// and texts (the common sort columns of big tables).
enum class Direct : uint8_t { None, U32, Text };

Direct directOf(const Slot& slot) {
  if (slot.fields().empty() || slot.enumeration() || slot.kind() == "bool" ||
      slot.kind() == "flag" || slot.kind() == "integer" || slot.kind() == "timezone")
    return Direct::None;
  bool single = slot.fields().size() == 1 || slot.fields()[1].letter == 0;
  if (!single)
    return Direct::None;
  if (slot.fields()[0].store() == Store::Text)
    return Direct::Text;
  if (slot.fields()[0].store() == Store::U32 && slot.fields()[0].letter == 'u')
    return Direct::U32;
  return Direct::None;
}

// Whether the convertor shows a text as it is (the plain text convertors do; postfixes and
// enumerations do not).
bool showsTextAsIs(IConvertor* convertor) {
  static const std::string probe = "Probe text 42";
  return !convertor || convertor->format(FieldValue(probe)) == probe;
}

class SlotColumn final : public TableField {
public:
  SlotColumn(const Slot& slot, Reference<IConvertor> convertor)
      : TableField(slot.titleText().empty() ? slot.name() : slot.titleText(), kindOf(slot),
                   std::move(convertor)),
        slot_(slot), direct_(directOf(slot)),
        plainText_(direct_ == Direct::Text && showsTextAsIs(this->convertor())) {}

  std::string text(const IObject& object) const override {
    if (const std::string* stored = storedText(object))
      return *stored;
    return TableField::text(object);
  }

  bool textContains(const IObject& object, std::string_view lowered) const override {
    if (const std::string* stored = storedText(object))
      return containsIgnoringCase(*stored, lowered);
    return TableField::textContains(object, lowered);
  }

  FieldValue value(const IObject& object) const override {
    std::byte* part = partOf(object);
    return part ? RecordCell(slot_, part).get() : FieldValue{};
  }

  int compare(const IObject& a, const IObject& b) const override {
    if (direct_ == Direct::None)
      return TableField::compare(a, b);
    const std::byte* pa = partOf(a);
    const std::byte* pb = partOf(b);
    if (!pa || !pb)
      return order3(pa != nullptr, pb != nullptr);
    size_t at = slot_.fields()[0].offset;
    if (direct_ == Direct::U32)
      return order3(*reinterpret_cast<const uint32_t*>(pa + at),
                    *reinterpret_cast<const uint32_t*>(pb + at));
    return reinterpret_cast<const std::string*>(pa + at)->compare(
        *reinterpret_cast<const std::string*>(pb + at));
  }

private:
  // The text in the record, for texts shown as they are; null otherwise.
  const std::string* storedText(const IObject& object) const {
    const std::byte* part = plainText_ ? partOf(object) : nullptr;
    return part ? reinterpret_cast<const std::string*>(part + slot_.fields()[0].offset) : nullptr;
  }

  // The slot's part of the object's record; null when the object holds none.
  std::byte* partOf(const IObject& object) const {
    const CType* type = object.getCType();
    if (!type)
      return nullptr;
    if (type != lastType_) {
      SlotFieldInfo info;
      if (slot_.fields().empty() || !type->slotField(&slot_, info) ||
          info.offset < slot_.fields()[0].offset)
        return nullptr;
      lastType_ = type;
      base_ = info.offset - slot_.fields()[0].offset;
    }
    std::span<std::byte> record = object.record();
    if (base_ + slot_.partSize() > record.size())
      return nullptr;
    return record.data() + base_;
  }

  const Slot& slot_;
  Direct direct_;
  bool plainText_;
  mutable const CType* lastType_ = nullptr; // the type base_ was looked up for
  mutable size_t base_ = 0;
};

class MemberColumn final : public TableField {
public:
  MemberColumn(std::string title, member field, Reference<IConvertor> convertor)
      : TableField(std::move(title),
                   field.type() == memberTypeOf<std::string>() ? ValueKind::Text
                                                               : ValueKind::Number,
                   std::move(convertor)),
        field_(field) {}

  FieldValue value(const IObject& object) const override {
    const void* at = object.fieldOf(field_);
    if (!at)
      return {};
    if (field_.type() == memberTypeOf<std::string>())
      return *static_cast<const std::string*>(at);
    if (field_.type() == memberTypeOf<uint32_t>())
      return *static_cast<const uint32_t*>(at);
    return {};
  }

private:
  member field_;
};

} // namespace

TableField::TableField(std::string title, ValueKind kind, Reference<IConvertor> convertor)
    : title_(std::move(title)), kind_(kind), convertor_(std::move(convertor)) {}

std::string TableField::text(const IObject& object) const {
  FieldValue v = value(object);
  if (std::holds_alternative<std::monostate>(v))
    return {};
  if (convertor_) {
    std::string shown = convertor_->format(v);
    if (!shown.empty())
      return shown;
  }
  return plainText(v);
}

int TableField::compare(const IObject& a, const IObject& b) const {
  FieldValue va = value(a);
  FieldValue vb = value(b);
  if (convertor_)
    return convertor_->compare(va, vb);
  const auto* na = std::get_if<uint32_t>(&va);
  const auto* nb = std::get_if<uint32_t>(&vb);
  if (na && nb)
    return order3(*na, *nb);
  return plainText(va).compare(plainText(vb));
}

bool TableField::textContains(const IObject& object, std::string_view lowered) const {
  return containsIgnoringCase(text(object), lowered);
}

bool containsIgnoringCase(std::string_view text, std::string_view lowered) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return std::search(text.begin(), text.end(), lowered.begin(), lowered.end(),
                     [&](char a, char b) { return fold(a) == b; }) != text.end();
}

std::shared_ptr<TableField> slotField(const Slot& slot) {
  Reference<IBase> made = slot.createConvertor();
  return std::make_shared<SlotColumn>(slot,
                                      Reference<IConvertor>(dynamic_cast<IConvertor*>(made.get())));
}

std::shared_ptr<TableField> commentField(const CType& type) {
  for (const Slot* slot : type.slots())
    if (slot->kind() == "comment")
      return slotField(*slot);
  return nullptr;
}

namespace {

// A column without a width of its own is as wide as its kind's usual text: an address with its
// prefix, a MAC address, a date with its time; 80 for short values.
uint32_t defaultWidth(const std::string& kind) {
  static const std::map<std::string, uint32_t, std::less<>> widths = {
      {"ipaddr", 130},     {"network", 130},       {"ip6addr", 200},
      {"network6", 200},   {"ipaddrandport", 150}, {"macaddr", 125},
      {"macnetwork", 125}, {"dateandtime", 140},   {"string", 120}};
  auto it = widths.find(kind);
  return it == widths.end() ? 80 : it->second;
}

} // namespace

std::vector<TableColumn> typeColumns(const CType& type) {
  std::vector<TableColumn> columns;
  for (const Slot* slot : type.slots()) {
    if (!holdsValue(*slot) || slot->has(SLOT_HIDE) || slot->has(SLOT_NONPUBLIC))
      continue;
    std::shared_ptr<TableField> field = slotField(*slot);
    uint32_t width = slot->widthValue() != 0 ? slot->widthValue() : defaultWidth(slot->kind());
    columns.push_back({ColumnShape{field->title(), width, !slot->has(SLOT_HIDEBYDEFAULT)}, field});
  }
  return columns;
}

std::shared_ptr<TableField> memberField(std::string title, member field,
                                        Reference<IConvertor> convertor) {
  return std::make_shared<MemberColumn>(std::move(title), field, std::move(convertor));
}

} // namespace kestel
