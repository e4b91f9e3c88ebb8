// The filter rows of a table: each row picks a column, an operator and a value. The operators a
// column offers follow its value kind; createFilterFor turns one row into a test on objects,
// reading the value the way the column's convertor reads typed text.
#pragma once

#include "miw/TableField.h"
#include "util/Expected.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

// The operator codes, as they are saved.
enum class FilterOp : uint8_t {
  Contains = 0,
  ContainsNot = 1,
  Is = 2,
  IsNot = 3,
  In = 4,
  NotIn = 5,
  Less = 6,
  LessOrEqual = 7,
  Greater = 8,
  GreaterOrEqual = 9,
};
inline constexpr uint32_t kFilterOpCount = 10;

// "contains", "contains not", "is", …, ">=".
const char* filterOpText(FilterOp op);
// The operators a value kind supports, in code order. Texts: contains, is and in (the value is
// one of a comma-separated list) with their negations; numbers: is, in and the comparisons;
// enumerations: is and in; flags: is; addresses: is and in (the address lies in the network).
const std::vector<FilterOp>& filterOperators(ValueKind kind);
bool offersOperator(ValueKind kind, FilterOp op);

// A row's test; true when the object is shown.
using RowTest = std::function<bool(const IObject&)>;

// The test of one filter row. Fails with the editor's text ("Error in <column> - <accepted
// input> expected!") when the value is not one the column's convertor reads, and with
// "<operator> is not offered for <column>" for an operator the column's kind does not offer.
[[nodiscard]] Expected<RowTest> createFilterFor(const std::shared_ptr<TableField>& field,
                                                FilterOp op, std::string_view value);

// One filter row as the table keeps it; `record` is the settings record its state was saved in.
struct FilterRow {
  size_t column = 0;
  FilterOp op = FilterOp::Contains;
  std::string value;
  uint32_t record = 0xFFFFFFFF;
  friend bool operator==(const FilterRow& a, const FilterRow& b) {
    return a.column == b.column && a.op == b.op && a.value == b.value;
  }
};

} // namespace kestel
