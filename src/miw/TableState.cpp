#include "miw/TableState.h"

#include <algorithm>
#include <map>

namespace kestel {
namespace {

constexpr uint8_t kVisibilityDefault = 2;
constexpr uint8_t kNoSortPosition = 7;
constexpr uint32_t kDefaultWidthCode = 1023;

void putU16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

uint32_t getU16(std::string_view in, size_t at) {
  return static_cast<uint8_t>(in[at]) |
         (static_cast<uint32_t>(static_cast<uint8_t>(in[at + 1])) << 8);
}

int sortPosition(const TableLayout& layout, size_t column) {
  const std::vector<SortKey>& keys = layout.sortKeys();
  for (size_t i = 0; i < keys.size(); ++i)
    if (keys[i].column == column)
      return static_cast<int>(i);
  return -1;
}

// The n-th column (from 0) whose id is `id`; count() when there is none.
size_t columnOfId(const TableLayout& layout, uint32_t id, size_t n = 0) {
  for (size_t c = 0; c < layout.count(); ++c)
    if (layout.id(c) == id && n-- == 0)
      return c;
  return layout.count();
}

StringMap filterRowState(const TableLayout& layout, const FilterRow& row) {
  StringMap state;
  state.set("col", packData(uint32_t(layout.id(row.column))));
  state.set("op", packData(uint32_t(row.op)));
  state.set("value", packData(std::string_view(row.value)));
  return state;
}

// The row a saved state describes; false when it names no column of the table or no operator.
bool readFilterRow(const TableLayout& layout, const StringMap& state, FilterRow& row) {
  uint32_t column = 0, op = 0;
  std::string value;
  if (!unpackData(state.get("col"), column) || !unpackData(state.get("op"), op) ||
      !unpackData(state.get("value"), value) || op >= kFilterOpCount)
    return false;
  size_t c = columnOfId(layout, column);
  if (c == layout.count() || TableLayout::isSystem(c))
    return false;
  row = FilterRow{c, static_cast<FilterOp>(op), std::move(value)};
  return true;
}

void resetLayout(TableLayout& layout) {
  for (size_t c = 0; c < layout.count(); ++c) {
    layout.setWidth(c, layout.defaultWidth(c));
    layout.setVisible(c, layout.defaultVisible(c));
  }
  layout.resetOrder();
  layout.setSortKeys({});
  layout.mode = TableMode{};
}

} // namespace

std::string writeColsRecords(const TableLayout& layout) {
  std::string out;
  for (size_t c = 0; c < layout.count(); ++c) {
    uint8_t visibility = kVisibilityDefault;
    if (!TableLayout::isSystem(c) && layout.visible(c) != layout.defaultVisible(c))
      visibility = layout.visible(c) ? 1 : 0;
    int position = sortPosition(layout, c);
    bool descending = position >= 0 && layout.sortKeys()[size_t(position)].descending;
    uint32_t width = std::min<uint32_t>(layout.width(c), 0xFFFF);
    bool defaultWidth = layout.width(c) == layout.defaultWidth(c);
    if (visibility == kVisibilityDefault && position < 0 && defaultWidth && !layout.collides(c))
      continue;
    uint32_t code = defaultWidth ? kDefaultWidthCode : std::min(width, kWideColumn);
    putU16(out, layout.id(c));
    out.push_back(static_cast<char>(visibility | (position < 0 ? kNoSortPosition : position) << 2 |
                                    (descending ? 0x20 : 0) | (code & 3) << 6));
    out.push_back(static_cast<char>(code >> 2));
    putU16(out, 0); // bytes 4 and 5 are unused
    if (code == kWideColumn) {
      putU16(out, 0);
      putU16(out, width);
      putU16(out, 0);
    }
  }
  return out;
}

void readColsRecords(TableLayout& layout, std::string_view bytes) {
  std::map<uint32_t, size_t> seen; // records read per id: the n-th goes to the n-th column
  std::vector<std::pair<unsigned, SortKey>> keys;
  size_t wide = layout.count(); // the column whose width the next extension record gives
  for (size_t at = 0; bytes.size() - at >= 6; at += 6) {
    uint32_t id = getU16(bytes, at);
    auto flags = static_cast<uint8_t>(bytes[at + 2]);
    uint32_t code = (flags >> 6) | static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 2;
    if (id == 0) {
      if (wide < layout.count())
        layout.setWidth(wide, getU16(bytes, at + 2));
      wide = layout.count();
      continue;
    }
    wide = layout.count();
    size_t c = columnOfId(layout, id, seen[id]++);
    if (c == layout.count())
      continue;
    uint8_t visibility = flags & 3;
    if (visibility < kVisibilityDefault)
      layout.setVisible(c, visibility == 1);
    unsigned position = (flags >> 2) & 7;
    if (position < kMaxSortKeys)
      keys.push_back({position, SortKey{c, (flags & 0x20) != 0}});
    if (code == kWideColumn)
      wide = c;
    else if (code != kDefaultWidthCode)
      layout.setWidth(c, code);
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<SortKey> sorted;
  for (const auto& k : keys)
    sorted.push_back(k.second);
  if (!sorted.empty())
    layout.setSortKeys(std::move(sorted));
}

std::string writeOrderRecords(const TableLayout& layout) {
  std::string out;
  for (size_t c = kSystemColumns; c < layout.count(); ++c) {
    size_t before = layout.predecessor(c);
    // Columns of equal id are always written, so the n-th record of an id is the n-th column.
    if (before == TableLayout::defaultPredecessor(c) && !layout.collides(c))
      continue;
    putU16(out, layout.id(c));
    putU16(out, layout.id(before));
  }
  return out;
}

void readOrderRecords(TableLayout& layout, std::string_view bytes) {
  size_t n = layout.count();
  if (n <= kSystemColumns)
    return;
  // Each column's predecessor: the one a record names, else its default one.
  std::vector<size_t> before(n);
  std::vector<bool> named(n, false);
  std::vector<size_t> recordOrder;
  for (size_t c = kSystemColumns; c < n; ++c)
    before[c] = TableLayout::defaultPredecessor(c);
  std::map<uint32_t, size_t> seen; // records read per id: the n-th goes to the n-th column
  for (size_t at = 0; bytes.size() - at >= 4; at += 4) {
    uint32_t id = getU16(bytes, at);
    size_t c = columnOfId(layout, id, seen[id]++);
    size_t p = columnOfId(layout, getU16(bytes, at + 2));
    if (c >= n || p >= n || TableLayout::isSystem(c) || c == p)
      continue;
    before[c] = TableLayout::isSystem(p) ? kSystemColumns - 1 : p;
    if (!named[c])
      recordOrder.push_back(c);
    named[c] = true;
  }
  // The columns that follow each column: named ones (in record order) before default ones.
  std::vector<std::vector<size_t>> after(n);
  for (size_t c : recordOrder)
    after[before[c]].push_back(c);
  for (size_t c = kSystemColumns; c < n; ++c)
    if (!named[c])
      after[before[c]].push_back(c);
  std::vector<size_t> order;
  std::vector<bool> placed(n, false);
  for (size_t c = 0; c < kSystemColumns; ++c) {
    order.push_back(c);
    placed[c] = true;
  }
  // Depth first from the last system column: each column, then everything chained after it.
  std::vector<size_t> stack(after[kSystemColumns - 1].rbegin(), after[kSystemColumns - 1].rend());
  while (!stack.empty()) {
    size_t c = stack.back();
    stack.pop_back();
    if (placed[c])
      continue;
    placed[c] = true;
    order.push_back(c);
    stack.insert(stack.end(), after[c].rbegin(), after[c].rend());
  }
  for (size_t c = kSystemColumns; c < n; ++c) // cut off by a cycle: in their default order
    if (!placed[c])
      order.push_back(c);
  layout.setOrder(order);
}

std::string writeModeRecord(const TableMode& mode) {
  std::string out(4, '\0');
  out[0] = static_cast<char>((mode.strictOrder ? 1 : 0) | (mode.detail ? 2 : 0) |
                             (mode.categories ? 4 : 0) | (mode.inlineComments ? 8 : 0) |
                             (mode.inlineChosen ? 16 : 0));
  return out;
}

void readModeRecord(TableMode& mode, std::string_view bytes) {
  if (bytes.size() < 4)
    return;
  auto bits = static_cast<uint8_t>(bytes[0]);
  mode.strictOrder = bits & 1;
  mode.detail = bits & 2;
  mode.categories = bits & 4;
  mode.inlineChosen = bits & 16;
  if (mode.inlineChosen)
    mode.inlineComments = bits & 8;
}

void saveTableState(const TableLayout& layout, std::vector<FilterRow>& filters, StringMap& settings,
                    SettingsRegistry& registry) {
  settings.set("cols", writeColsRecords(layout));
  settings.set("order", writeOrderRecords(layout));
  settings.set("mode", writeModeRecord(layout.mode));
  std::string ids;
  for (FilterRow& row : filters) {
    StringMap state = filterRowState(layout, row);
    StringMap* kept =
        row.record == kNoSettingsId ? nullptr : registry.getSettings(row.record, nullptr, 0);
    if (kept)
      *kept = std::move(state);
    else
      row.record = registry.registerSettings(std::move(state), 0);
    ids += packData(row.record);
  }
  // Records of rows saved before and removed since.
  std::optional<std::string> before = settings.get("filters");
  for (size_t at = 0; before && before->size() - at >= 4; at += 4) {
    uint32_t id = 0;
    if (unpackData(before->substr(at, 4), id) &&
        std::none_of(filters.begin(), filters.end(),
                     [&](const FilterRow& r) { return r.record == id; }))
      registry.removeSettings(id);
  }
  settings.set("filters", ids);
}

void loadTableState(TableLayout& layout, std::vector<FilterRow>& filters, const StringMap& settings,
                    SettingsRegistry& registry) {
  if (std::optional<std::string> mode = settings.get("mode"))
    readModeRecord(layout.mode, *mode);
  if (std::optional<std::string> cols = settings.get("cols"))
    readColsRecords(layout, *cols);
  if (std::optional<std::string> order = settings.get("order"))
    readOrderRecords(layout, *order);
  filters.clear();
  std::optional<std::string> ids = settings.get("filters");
  for (size_t at = 0; ids && ids->size() - at >= 4; at += 4) {
    uint32_t id = 0;
    StringMap* state = unpackData(ids->substr(at, 4), id) && id != kNoSettingsId
                           ? registry.getSettings(id, nullptr, 0)
                           : nullptr;
    FilterRow row;
    if (!state || !readFilterRow(layout, *state, row))
      continue;
    row.record = id;
    filters.push_back(std::move(row));
  }
}

StringMap writeTableView(const TableLayout& layout, const std::vector<FilterRow>& filters) {
  StringMap view;
  view.set("cols", writeColsRecords(layout));
  view.set("order", writeOrderRecords(layout));
  view.set("mode", writeModeRecord(layout.mode));
  std::string rows;
  for (const FilterRow& row : filters) {
    Expected<Bytes> packed = packMap(filterRowState(layout, row));
    if (!packed || packed->size() > 0xFFFF)
      continue; // a value too long for the view: the row is left out
    putU16(rows, uint32_t(packed->size()));
    rows.append(reinterpret_cast<const char*>(packed->data()), packed->size());
  }
  view.set("filter rows", std::move(rows));
  return view;
}

void readTableView(TableLayout& layout, std::vector<FilterRow>& filters, const StringMap& view) {
  resetLayout(layout);
  if (std::optional<std::string> mode = view.get("mode"))
    readModeRecord(layout.mode, *mode);
  if (std::optional<std::string> cols = view.get("cols"))
    readColsRecords(layout, *cols);
  if (std::optional<std::string> order = view.get("order"))
    readOrderRecords(layout, *order);
  filters.clear();
  std::string rows = view.get("filter rows").value_or(std::string());
  for (size_t at = 0; rows.size() - at >= 2;) {
    size_t length = getU16(rows, at);
    at += 2;
    if (rows.size() - at < length)
      break; // cut short: the rows before it stay
    std::optional<StringMap> state = unpackMap(asBytes(std::string_view(rows).substr(at, length)));
    at += length;
    FilterRow row;
    if (state && readFilterRow(layout, *state, row))
      filters.push_back(std::move(row));
  }
}

} // namespace kestel
