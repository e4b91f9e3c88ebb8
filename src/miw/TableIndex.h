// The rows a table shows: the objects of a map that pass the filter rows, in display order (by up
// to four sort keys with the object id as the last tie-breaker, or in the map's own order). It
// holds a counted reference and the id per row, never a copy of the data, and follows the map's
// events incrementally: changes wait until apply(), which places a few changed objects one by one
// (binary search; each becomes an insert, remove, move or change of one row for the view) and a
// large batch in one pass (the rows taken out, the newcomers sorted and merged in, announced as
// one layout change). A reset of the map that lists its batch (object maps do) is such a batch;
// other resets re-read the map. Nothing is ever re-sorted because one object changed.
#pragma once

#include "api/container/GenericMap.h"
#include "miw/TableColumns.h"
#include "miw/TableField.h"
#include "miw/TableFilter.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestel {

// What a view of the rows is told; each "…ing" call comes before the rows change, its pair after.
class ITableRowsListener {
public:
  virtual ~ITableRowsListener() = default;
  virtual void rowsInserting(size_t first, size_t count) = 0;
  virtual void rowsInserted() = 0;
  virtual void rowsRemoving(size_t first, size_t count) = 0;
  virtual void rowsRemoved() = 0;
  // Row `from` becomes row `to` (counted after the move).
  virtual void rowMoving(size_t from, size_t to) = 0;
  virtual void rowMoved() = 0;
  virtual void rowsChanged(size_t first, size_t last) = 0;
  // Any number of rows change place; rows keep their ids (rowOf finds them again).
  virtual void rowsReordering() = 0;
  virtual void rowsReordered() = 0;
  // The first change is waiting; apply() takes it in.
  virtual void changesWaiting() = 0;
};

// "1 item" / "<n> items", then " out of <total>" when the map holds another number of rows and
// " (<n> selected)" when rows are selected; at most 80 characters.
std::string tableStatusText(size_t shown, size_t total, size_t selected);

class TableIndex final : public IMapListener {
public:
  static constexpr size_t kNoRow = static_cast<size_t>(-1);
  // Batches up to this many objects are placed one by one.
  static constexpr size_t kSingleChanges = 16;
  // Bits of the id screen a batch uses to pass over the rows it does not touch.
  static constexpr size_t kScreenBits = size_t(1) << 16;

  // `fields` by column number of the table's layout (null for columns that hold no field, such
  // as the system columns). Listens to the map until close().
  TableIndex(Reference<MapBase> map, std::vector<std::shared_ptr<TableField>> fields);
  ~TableIndex() override;
  void setListener(ITableRowsListener* listener) { listener_ = listener; }
  // Stops following the map (the map holds the index while it follows it).
  void close();

  MapBase& map() const { return *map_; }
  size_t size() const { return rows_.size(); }
  IObject* object(size_t row) const { return rows_[row].object.get(); }
  uint32_t id(size_t row) const { return rows_[row].id; }
  // The row of `id`; kNoRow when it is not shown.
  size_t rowOf(uint32_t id) const;
  const std::shared_ptr<TableField>& field(size_t column) const;

  // Sort keys on columns without a field are dropped; with none, or in `mapOrder`, rows follow
  // the map's order. Both re-read the map (announced as a layout change).
  void setOrdering(const std::vector<SortKey>& keys, bool mapOrder);
  bool inMapOrder() const { return keys_.empty(); }
  // Replaces the filter rows' tests (all must hold) and re-reads the map.
  void setFilters(std::vector<RowTest> tests);

  // Takes in the map's changes since the last call.
  void apply();
  size_t waiting() const { return pending_.size() + (reread_ ? 1 : 0); }
  // While apply() tells its listener of changes: whether the object was among those it takes in
  // (false for all when the map is read again).
  bool applying(uint32_t id) const { return applying_.count(id) != 0; }
  // How many objects apply() takes in now (0 when the map is read again).
  size_t applyingCount() const { return applying_.size(); }

  // The first row from `from` on (wrapping around) where a field of `columns` shows a text that
  // contains `text` (ignoring case); kNoRow when none does.
  size_t findNext(std::string_view text, size_t from, const std::vector<size_t>& columns) const;

  void mapChanged(const MapEvent& event) override;

private:
  struct Row {
    Reference<IObject> object;
    uint32_t id;
  };
  bool passes(const IObject& object) const;
  // Strict weak order of the sort keys with the id as the last key.
  bool before(const Row& a, const Row& b) const;
  // Where `row` goes among the rows (which do not hold it).
  size_t placeOf(const Row& row) const;
  // Ordered maps shown in their own order cannot be placed by comparing: they are re-read.
  bool readsInMapOrder() const { return keys_.empty() && map_->ordered(); }
  void reread();
  void removeRow(size_t row);
  void insertRow(Row fresh);
  // Shows the row's object again where it now belongs.
  void replace(size_t row);
  void applyBatch();
  void waitFor(uint32_t id, MapEventKind kind);

  Reference<MapBase> map_;
  std::vector<std::shared_ptr<TableField>> fields_;
  std::vector<SortKey> keys_;
  std::vector<RowTest> tests_;
  std::vector<Row> rows_;
  // Waiting ids, each with what may have happened to it.
  static constexpr uint8_t kStructural = 1; // it may have come, gone or moved (else it changed)
  static constexpr uint8_t kMaybeShown = 2; // it may be shown now (it was not new to the map)
  std::unordered_map<uint32_t, uint8_t> pending_;
  std::unordered_map<uint32_t, uint8_t> applying_; // the pending ids apply() takes in
  bool reread_ = true;
  bool open_ = true;
  ITableRowsListener* listener_ = nullptr;
};

} // namespace kestel
