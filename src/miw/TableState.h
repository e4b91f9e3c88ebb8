// The saved state of a table in its window's settings: "cols" (6-byte records of the columns
// that differ from their defaults, with a width extension record for widths of 1022 and more),
// "order" (4-byte records: a moved column's id and the id of the column now before it), "mode"
// (the view flags in the first of four bytes) and "filters" (the u32 ids of the settings records
// holding one filter row each). Reading never fails: a record it cannot use is skipped and leaves
// the defaults, whatever length or content the stored values have.
//
// The order is rebuilt by following the chains of predecessors from the last system column, not
// by applying the records one after the other (which scatters a block of columns moved
// together), so any saved order comes back exactly; records that contradict each other or form
// cycles still give a complete order.
#pragma once

#include "miw/Settings.h"
#include "miw/TableColumns.h"
#include "miw/TableFilter.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestel {

// The widths up from this one are written as code 1022 and an extension record.
inline constexpr uint32_t kWideColumn = 1022;

std::string writeColsRecords(const TableLayout& layout);
void readColsRecords(TableLayout& layout, std::string_view bytes);
std::string writeOrderRecords(const TableLayout& layout);
void readOrderRecords(TableLayout& layout, std::string_view bytes);
std::string writeModeRecord(const TableMode& mode);
// Leaves `mode` alone unless `bytes` holds at least 4 bytes.
void readModeRecord(TableMode& mode, std::string_view bytes);

// Writes the four values into `settings`. Each filter row's state ("col" column id, "op" code,
// "value" text) goes into its own record of `registry`, reusing the row's record when it has one
// (`record` is updated); records of rows that were saved before but are gone are removed.
void saveTableState(const TableLayout& layout, std::vector<FilterRow>& filters, StringMap& settings,
                    SettingsRegistry& registry);
// Reads what `settings` holds back into `layout` and `filters` (replaced by the rows that could be
// read: records that are missing, name no column of the table or an unknown operator are skipped).
void loadTableState(TableLayout& layout, std::vector<FilterRow>& filters, const StringMap& settings,
                    SettingsRegistry& registry);

// A named view: the same "cols", "order" and "mode" values, with the filter rows carried inside
// ("filter rows": per row a u16 little-endian length and the row's state in StringMap's packed
// form) rather than in records of their own, so the view can be recalled in any window.
StringMap writeTableView(const TableLayout& layout, const std::vector<FilterRow>& filters);
// Puts `layout` back to its defaults, then reads the view as loadTableState reads a window's
// state; filter rows that are cut short, name no column of the table or an unknown operator are
// skipped.
void readTableView(TableLayout& layout, std::vector<FilterRow>& filters, const StringMap& view);

} // namespace kestel
