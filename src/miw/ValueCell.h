// The place a value view edits: a cell that gives and takes one FieldValue. The view never knows
// whether the value lives in an object record (RecordCell, through the slot's storage), in an
// element of a list (ElementCell) or in a plain variable (LocalCell, for demonstrations and
// tests). The list helpers are what the multi-value view's add and remove buttons do.
#pragma once

#include "api/object/Object.h"
#include "miw/ConvertorValue.h"

#include <cstddef>

namespace kestel {

class Slot;

class IValueCell {
public:
  virtual ~IValueCell() = default;
  virtual FieldValue get() const = 0;
  // False (cell unchanged) when the value is not of the kind the cell stores.
  virtual bool set(const FieldValue& value) = 0;
};

class LocalCell final : public IValueCell {
public:
  explicit LocalCell(FieldValue value = {}) : value_(std::move(value)) {}
  FieldValue get() const override { return value_; }
  bool set(const FieldValue& value) override {
    value_ = value;
    return true;
  }

private:
  FieldValue value_;
};

// The first field of a slot's part in an object record (with the second field for the address
// pairs of networks and address-and-port, the mask list of network lists and the masks of bit-set
// lists and MAC networks, the high end of number ranges), for the stores a view edits: u32 (the
// boolean kinds as bool), u64, text, raw, addr6, the u32, text, addr6 and raw lists, and the nested
// message of the message and object kinds. The multi-value containers ("multi", "multituple") read
// and write their inner slots as tuple rows: a multi-value inner slot is a column of elements, any
// other inner slot a single value that allows exactly one row. The record must outlive the cell;
// other stores read as monostate and refuse every value; a refused value leaves the record
// untouched.
class RecordCell final : public IValueCell {
public:
  RecordCell(const Slot& slot, void* part) : slot_(slot), part_(static_cast<std::byte*>(part)) {}
  FieldValue get() const override;
  bool set(const FieldValue& value) override;

private:
  const Slot& slot_;
  std::byte* part_;
};

// The slot's part of `object`'s record, where a RecordCell for the slot points; null when the
// object's type has no such slot or its record is too short to hold the part.
std::byte* slotPart(const IObject& object, const Slot& slot);

// Element `index` of the list in `list`.
class ElementCell final : public IValueCell {
public:
  ElementCell(IValueCell& list, size_t index) : list_(list), index_(index) {}
  FieldValue get() const override;
  bool set(const FieldValue& value) override;

private:
  IValueCell& list_;
  size_t index_;
};

// List helpers over the list values; every other value is a list of none and refuses changes.
size_t listSize(const FieldValue& list);
FieldValue listElement(const FieldValue& list, size_t index);
// Inserts a zero or empty element at `index` (at most the size); false for non-lists.
bool insertListElement(FieldValue& list, size_t index);
bool removeListElement(FieldValue& list, size_t index);
bool setListElement(FieldValue& list, size_t index, const FieldValue& element);

} // namespace kestel
