#include "miw/TableIndex.h"

#include "api/container/ObjectMap.h"

#include <algorithm>
#include <bit>
#include <unordered_set>

namespace kestel {
namespace {

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return out;
}

} // namespace

std::string tableStatusText(size_t shown, size_t total, size_t selected) {
  std::string text = shown == 1 ? "1 item" : std::to_string(shown) + " items";
  if (total != shown)
    text += " out of " + std::to_string(total);
  if (selected != 0)
    text += " (" + std::to_string(selected) + " selected)";
  if (text.size() > 80)
    text.resize(80);
  return text;
}

TableIndex::TableIndex(Reference<MapBase> map, std::vector<std::shared_ptr<TableField>> fields)
    : map_(std::move(map)), fields_(std::move(fields)) {
  map_->addListener(this);
}

TableIndex::~TableIndex() = default;

void TableIndex::close() {
  if (!open_)
    return;
  open_ = false;
  map_->removeListener(this); // may drop the map's count on this index
}

const std::shared_ptr<TableField>& TableIndex::field(size_t column) const {
  static const std::shared_ptr<TableField> none;
  return column < fields_.size() ? fields_[column] : none;
}

size_t TableIndex::rowOf(uint32_t id) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].id == id)
      return i;
  return kNoRow;
}

void TableIndex::setOrdering(const std::vector<SortKey>& keys, bool mapOrder) {
  keys_.clear();
  if (!mapOrder)
    for (const SortKey& k : keys)
      if (field(k.column))
        keys_.push_back(k);
  reread_ = true;
  apply();
}

void TableIndex::setFilters(std::vector<RowTest> tests) {
  // The first filter only takes rows away from rows in order: no need to read and sort again.
  bool narrowing = tests_.empty() && !reread_ && pending_.empty();
  tests_ = std::move(tests);
  if (!narrowing) {
    reread_ = true;
    apply();
    return;
  }
  // In place: the rows that stay are moved down, not copied (no reference counts touched).
  if (listener_)
    listener_->rowsReordering();
  std::erase_if(rows_, [this](const Row& r) { return !passes(*r.object); });
  if (listener_)
    listener_->rowsReordered();
}

bool TableIndex::passes(const IObject& object) const {
  return std::all_of(tests_.begin(), tests_.end(), [&](const RowTest& t) { return t(object); });
}

bool TableIndex::before(const Row& a, const Row& b) const {
  for (const SortKey& k : keys_) {
    int c = fields_[k.column]->compare(*a.object, *b.object);
    if (c != 0)
      return k.descending ? c > 0 : c < 0;
  }
  return a.id < b.id;
}

size_t TableIndex::placeOf(const Row& row) const {
  auto at = std::upper_bound(rows_.begin(), rows_.end(), row,
                             [this](const Row& a, const Row& b) { return before(a, b); });
  return static_cast<size_t>(at - rows_.begin());
}

void TableIndex::mapChanged(const MapEvent& event) {
  if (event.kind != MapEventKind::Reset) {
    waitFor(event.id, event.kind);
    return;
  }
  const std::vector<MapEvent>* events = nullptr;
  auto* objectMap = dynamic_cast<ObjectMap*>(map_.get());
  bool wasIdle = waiting() == 0;
  if (objectMap && objectMap->resetBatch(events)) {
    for (const MapEvent& e : *events)
      waitFor(e.id, e.kind);
    return;
  }
  reread_ = true;
  if (wasIdle && listener_)
    listener_->changesWaiting();
}

void TableIndex::waitFor(uint32_t id, MapEventKind kind) {
  bool wasIdle = waiting() == 0;
  // An added object is new to the map, so not shown yet (a removal before it says otherwise).
  pending_[id] |= uint8_t((kind != MapEventKind::Changed ? kStructural : 0) |
                          (kind != MapEventKind::Added ? kMaybeShown : 0));
  if (wasIdle && listener_)
    listener_->changesWaiting();
}

void TableIndex::apply() {
  if (reread_) {
    reread();
    return;
  }
  if (pending_.empty())
    return;
  bool onlyChanges = std::none_of(pending_.begin(), pending_.end(),
                                  [](const auto& p) { return (p.second & kStructural) != 0; });
  if (pending_.size() > kSingleChanges || (readsInMapOrder() && !onlyChanges)) {
    applyBatch();
    return;
  }
  // One by one only while every row but one stays where it is: the neighbours a changed row is
  // checked against, and the rows a newcomer is placed among by binary search, must be in order.
  std::vector<uint32_t> gone, changed, fresh;
  for (const auto& [id, flags] : pending_) {
    IObject* object = map_->find(id);
    bool shown = object && passes(*object);
    bool has = rowOf(id) != kNoRow;
    if (has)
      (shown ? changed : gone).push_back(id);
    else if (shown)
      fresh.push_back(id);
  }
  if ((changed.size() > 1 && !readsInMapOrder()) || (!fresh.empty() && readsInMapOrder())) {
    applyBatch();
    return;
  }
  applying_.swap(pending_);
  for (uint32_t id : gone)
    removeRow(rowOf(id));
  for (uint32_t id : changed)
    replace(rowOf(id));
  for (uint32_t id : fresh)
    insertRow(Row{Reference<IObject>(map_->find(id)), id});
  applying_.clear();
}

void TableIndex::removeRow(size_t row) {
  if (listener_)
    listener_->rowsRemoving(row, 1);
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
  if (listener_)
    listener_->rowsRemoved();
}

void TableIndex::insertRow(Row fresh) {
  size_t at = placeOf(fresh);
  if (listener_)
    listener_->rowsInserting(at, 1);
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::move(fresh));
  if (listener_)
    listener_->rowsInserted();
}

void TableIndex::replace(size_t row) {
  rows_[row].object = map_->find(rows_[row].id); // a fetch may have brought another object
  bool inPlace =
      readsInMapOrder() || ((row == 0 || !before(rows_[row], rows_[row - 1])) &&
                            (row + 1 == rows_.size() || !before(rows_[row + 1], rows_[row])));
  if (inPlace) {
    if (listener_)
      listener_->rowsChanged(row, row);
    return;
  }
  Row moving = std::move(rows_[row]);
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
  size_t to = placeOf(moving);
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(row), std::move(moving));
  if (listener_)
    listener_->rowMoving(row, to);
  std::rotate(rows_.begin() + static_cast<std::ptrdiff_t>(std::min(row, to)),
              rows_.begin() + static_cast<std::ptrdiff_t>(row < to ? row + 1 : row),
              rows_.begin() + static_cast<std::ptrdiff_t>(std::max(row, to) + 1));
  if (listener_)
    listener_->rowMoved();
}

void TableIndex::applyBatch() {
  if (readsInMapOrder()) {
    reread();
    return;
  }
  applying_.swap(pending_);
  const std::unordered_map<uint32_t, uint8_t>& batch = applying_;
  bool maybeShown = std::any_of(batch.begin(), batch.end(),
                                [](const auto& p) { return (p.second & kMaybeShown) != 0; });
  std::vector<Row> coming;
  for (const auto& [id, flags] : batch)
    if (IObject* object = map_->find(id); object && passes(*object))
      coming.push_back(Row{Reference<IObject>(object), id});
  std::sort(coming.begin(), coming.end(),
            [this](const Row& a, const Row& b) { return before(a, b); });
  if (listener_)
    listener_->rowsReordering();
  // Every touched row leaves; those still shown come back at their place. A batch of objects new
  // to the map (a fetch's pages) has none to take out.
  if (maybeShown) {
    // A bit per id hash screens the rows before the batch's own lookup: most rows are not in it.
    std::vector<bool> screen(kScreenBits);
    for (const auto& [id, flags] : batch)
      screen[id & (kScreenBits - 1)] = true;
    std::erase_if(rows_, [&](const Row& r) {
      return screen[r.id & (kScreenBits - 1)] && batch.count(r.id) != 0;
    });
  }
  if (!coming.empty() && (rows_.empty() || !before(coming.front(), rows_.back()))) {
    std::move(coming.begin(), coming.end(), std::back_inserter(rows_)); // the common append
  } else if (!coming.empty()) {
    auto lower = [this](const Row& r, const Row& c) { return before(r, c); };
    std::vector<Row> merged;
    merged.reserve(rows_.size() + coming.size());
    if (coming.size() * std::bit_width(rows_.size()) < rows_.size()) {
      // Each newcomer's place by binary search (the batch is small beside the rows), then one
      // pass that moves the rows between the places: no other row is compared.
      auto from = rows_.begin();
      for (Row& c : coming) {
        auto at = std::lower_bound(from, rows_.end(), c, lower);
        std::move(from, at, std::back_inserter(merged));
        merged.push_back(std::move(c));
        from = at;
      }
      std::move(from, rows_.end(), std::back_inserter(merged));
    } else {
      std::merge(std::make_move_iterator(rows_.begin()), std::make_move_iterator(rows_.end()),
                 std::make_move_iterator(coming.begin()), std::make_move_iterator(coming.end()),
                 std::back_inserter(merged),
                 [this](const Row& a, const Row& b) { return before(a, b); });
    }
    rows_.swap(merged);
  }
  if (listener_)
    listener_->rowsReordered();
  applying_.clear();
}

void TableIndex::reread() {
  reread_ = false;
  pending_.clear();
  std::vector<Row> rows;
  rows.reserve(map_->size());
  map_->store().forEach([&](uint32_t id, IObject& object) {
    if (passes(object))
      rows.push_back(Row{Reference<IObject>(&object), id});
  });
  if (!keys_.empty()) // without keys the map's order is the display order already
    std::sort(rows.begin(), rows.end(),
              [this](const Row& a, const Row& b) { return before(a, b); });
  if (listener_)
    listener_->rowsReordering();
  rows_.swap(rows);
  if (listener_)
    listener_->rowsReordered();
}

size_t TableIndex::findNext(std::string_view text, size_t from,
                            const std::vector<size_t>& columns) const {
  if (rows_.empty() || text.empty())
    return kNoRow;
  std::string wanted = lowered(text);
  for (size_t n = 0; n < rows_.size(); ++n) {
    size_t row = (from + n) % rows_.size();
    for (size_t c : columns)
      if (const std::shared_ptr<TableField>& f = field(c);
          f && f->textContains(*rows_[row].object, wanted))
        return row;
  }
  return kNoRow;
}

} // namespace kestel
