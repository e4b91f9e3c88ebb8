#include "miw/TableColumns.h"

#include "util/Log.h"

#include <algorithm>

namespace kestel {

uint16_t columnId(std::string_view name) {
  uint32_t h = 0;
  for (char c : name)
    h = (h * 2) ^ static_cast<uint8_t>(c);
  uint16_t low = static_cast<uint16_t>(h & 0xFFFF);
  uint16_t high = static_cast<uint16_t>(h >> 16);
  return low == high ? 1 : static_cast<uint16_t>(low ^ high);
}

TableLayout::TableLayout(std::vector<ColumnShape> columns) {
  while (columns.size() < kSystemColumns)
    columns.push_back(ColumnShape{});
  columns_.reserve(columns.size());
  for (ColumnShape& shape : columns) {
    Column c;
    c.id = columnId(shape.name);
    c.width = shape.width;
    c.visible = shape.visible;
    c.shape = std::move(shape);
    columns_.push_back(std::move(c));
  }
  for (size_t i = 0; i < columns_.size(); ++i)
    for (size_t j = i + 1; j < columns_.size(); ++j)
      if (columns_[i].id == columns_[j].id) {
        logf("WARNING: column ", columns_[j].shape.name, " collides with ", columns_[i].shape.name);
        columns_[i].collides = columns_[j].collides = true;
      }
  resetOrder();
}

size_t TableLayout::find(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].shape.name == name)
      return i;
  return columns_.size();
}

void TableLayout::setVisible(size_t column, bool visible) {
  if (!isSystem(column) && column < columns_.size())
    columns_[column].visible = visible;
}

size_t TableLayout::predecessor(size_t column) const {
  auto at = std::find(order_.begin(), order_.end(), column);
  return at == order_.begin() || at == order_.end() ? column : *(at - 1);
}

bool TableLayout::moveAfter(size_t column, size_t after) {
  if (isSystem(column) || column >= count() || after >= count() || after == column)
    return false;
  if (isSystem(after))
    after = kSystemColumns - 1;
  order_.erase(std::find(order_.begin(), order_.end(), column));
  order_.insert(std::find(order_.begin(), order_.end(), after) + 1, column);
  return true;
}

bool TableLayout::setOrder(const std::vector<size_t>& order) {
  if (order.size() != count())
    return false;
  std::vector<bool> seen(count(), false);
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i] >= count() || seen[order[i]] || (i < kSystemColumns && order[i] != i))
      return false;
    seen[order[i]] = true;
  }
  order_ = order;
  return true;
}

void TableLayout::resetOrder() {
  order_.resize(columns_.size());
  for (size_t i = 0; i < order_.size(); ++i)
    order_[i] = i;
}

bool TableLayout::applyChoice(const std::vector<ColumnChoice>& listed) {
  std::vector<bool> isListed(count(), false);
  for (const ColumnChoice& c : listed) {
    if (isSystem(c.column) || c.column >= count() || isListed[c.column])
      return false;
    isListed[c.column] = true;
  }
  size_t next = 0;
  for (size_t& slot : order_)
    if (isListed[slot])
      slot = listed[next++].column;
  for (const ColumnChoice& c : listed)
    columns_[c.column].visible = c.visible;
  return true;
}

void TableLayout::setSortKeys(std::vector<SortKey> keys) {
  sortKeys_.clear();
  for (const SortKey& k : keys) {
    if (sortKeys_.size() == kMaxSortKeys)
      break;
    bool repeat = std::any_of(sortKeys_.begin(), sortKeys_.end(),
                              [&](const SortKey& s) { return s.column == k.column; });
    if (!isSystem(k.column) && k.column < count() && !repeat)
      sortKeys_.push_back(k);
  }
}

void TableLayout::sortBy(size_t column) {
  if (isSystem(column) || column >= count())
    return;
  SortKey primary{column, false};
  if (!sortKeys_.empty() && sortKeys_[0].column == column)
    primary.descending = !sortKeys_[0].descending;
  std::vector<SortKey> keys{primary};
  for (const SortKey& k : sortKeys_)
    if (k.column != column)
      keys.push_back(k);
  setSortKeys(std::move(keys));
}

} // namespace kestel
