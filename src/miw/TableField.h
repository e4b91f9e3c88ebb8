// How a table column reads its rows: the value of one field of an object, its text through the
// field's convertor, and the order of two objects by it. Fields of descriptor objects read a
// slot's storage; fields of objects written in code (the loader's lists) read a record member.
// Nothing is copied out of the objects: every read goes to the object's record.
#pragma once

#include "api/object/MemberType.h"
#include "api/object/Object.h"
#include "miw/Convertor.h"
#include "miw/TableColumns.h"

#include <memory>
#include <string>
#include <string_view>

namespace kestel {

class Slot;
class CType;

// What kind of value a column holds; it decides the filter operators the column offers.
enum class ValueKind : uint8_t { Text, Number, Enum, Flag, Address, Other };

class TableField {
public:
  TableField(std::string title, ValueKind kind, Reference<IConvertor> convertor);
  virtual ~TableField() = default;
  TableField(const TableField&) = delete;
  TableField& operator=(const TableField&) = delete;

  const std::string& title() const { return title_; }
  ValueKind kind() const { return kind_; }
  // Null when values are shown in their plain form.
  IConvertor* convertor() const { return convertor_.get(); }

  // The value in `object`; monostate when the object holds none for this field.
  virtual FieldValue value(const IObject& object) const = 0;
  // The text shown: the convertor's, else a plain form (numbers in decimal, lists joined with
  // ","); "" for no value.
  virtual std::string text(const IObject& object) const;
  // Negative, 0 or positive as `a` sorts before, with or after `b`.
  virtual int compare(const IObject& a, const IObject& b) const;
  // Whether the text shown contains `lowered` (given in lower case), ignoring case.
  virtual bool textContains(const IObject& object, std::string_view lowered) const;

private:
  std::string title_;
  ValueKind kind_;
  Reference<IConvertor> convertor_;
};

// The column of a descriptor slot (its title, or its name when it has none): values read through
// the slot's storage in objects of its type, text through the slot's convertor. Objects of
// another type, or whose record is too short for the slot, hold no value.
std::shared_ptr<TableField> slotField(const Slot& slot);

// A column over a record member (std::string or u32) of objects written in code; objects whose
// record does not hold the member have no value.
std::shared_ptr<TableField> memberField(std::string title, member field,
                                        Reference<IConvertor> convertor = {});

// One of a table's own columns: its layout defaults and how it reads rows.
struct TableColumn {
  ColumnShape shape;
  std::shared_ptr<TableField> field;
};

// The columns of a descriptor type: every slot that binds a field, is public and not hidden, in
// slot order; "hidebydefault" slots start hidden, widths come from "width" (when unset, a width
// that fits the kind's usual text: 130 for addresses and networks, 80 for short values).
std::vector<TableColumn> typeColumns(const CType& type);

// The field of the type's comment (its first slot of kind "comment"); null when it has none.
std::shared_ptr<TableField> commentField(const CType& type);

// Whether `text` contains `lowered` (given in lower case), ignoring the case of ASCII letters.
bool containsIgnoringCase(std::string_view text, std::string_view lowered);

} // namespace kestel
