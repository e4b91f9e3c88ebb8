// Table state in a window's settings: the four values cut from the input (their lengths in the
// first four bytes) are read into a table, and into one with two columns of equal id. Whatever
// they hold, the table ends with a complete column order, at most four sort keys and filter rows
// of real columns, and what it then saves reads back to the same state.
#include "miw/TableState.h"
#include "util/Assert.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using namespace kestel;

// With `colliding`, "AG" and "BA" have the same id: an "order" record naming it as the column
// before another cannot say which of the two it means, so only the rest must come back then.
TableLayout fresh(bool colliding) {
  return TableLayout(
      {{"#"}, {""}, {""}, {""}, {"AG"}, {"Name"}, {colliding ? "BA" : "B"}, {"Comment"}, {"X"}});
}

bool sameState(const TableLayout& a, const TableLayout& b, bool colliding) {
  for (size_t c = 0; c < a.count(); ++c)
    if (a.width(c) != b.width(c) || a.visible(c) != b.visible(c))
      return false;
  return (colliding || a.order() == b.order()) && a.sortKeys() == b.sortKeys() && a.mode == b.mode;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4)
    return 0;
  std::string in(reinterpret_cast<const char*>(data) + 4, size - 4);
  const char* keys[] = {"cols", "order", "mode", "filters"};
  StringMap settings;
  size_t at = 0;
  for (size_t i = 0; i < 4; ++i) {
    std::string value = in.substr(std::min(at, in.size()), data[i]);
    at += value.size();
    settings.set(keys[i], value);
  }
  SettingsRegistry registry;
  StringMap row;
  row.set("col", packData(uint32_t(columnId("Name"))));
  row.set("op", packData(uint32_t(in.size() % 12)));
  row.set("value", packData(std::string_view(in).substr(0, 8)));
  registry.registerSettings(row, 0);

  for (bool colliding : {false, true}) {
    TableLayout layout = fresh(colliding);
    std::vector<FilterRow> filters;
    loadTableState(layout, filters, settings, registry);
    KESTEL_ASSERT(layout.order().size() == layout.count(), "fuzz/table_state");
    KESTEL_ASSERT(layout.sortKeys().size() <= kMaxSortKeys, "fuzz/table_state");
    for (const FilterRow& f : filters)
      KESTEL_ASSERT(f.column < layout.count() && uint32_t(f.op) < kFilterOpCount,
                    "fuzz/table_state");

    StringMap saved;
    saveTableState(layout, filters, saved, registry);
    TableLayout again = fresh(colliding);
    std::vector<FilterRow> filtersAgain;
    loadTableState(again, filtersAgain, saved, registry);
    KESTEL_ASSERT(sameState(layout, again, colliding), "fuzz/table_state");
    KESTEL_ASSERT(filtersAgain == filters, "fuzz/table_state");
  }
  return 0;
}
