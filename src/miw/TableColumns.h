// The column layout of a table: the four system columns and the table's own columns, their ids,
// widths, visibility and display order, the sort keys and the view flags. It decides what the
// user may change (system columns are never hidden, moved or sorted by); the rows themselves are
// the row index's (TableIndex.h) and the persistence of this state is TableState.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

// The first columns of every table (row number, flags, icon, colour mark).
inline constexpr size_t kSystemColumns = 4;
inline constexpr size_t kMaxSortKeys = 4;

// The id a column's state is saved under: a 16-bit hash of its name that is never 0.
uint16_t columnId(std::string_view name);

struct ColumnShape {
  std::string name;
  uint32_t width = 80;
  bool visible = true;
};

struct SortKey {
  size_t column = 0;
  bool descending = false;
  friend bool operator==(const SortKey&, const SortKey&) = default;
};

// The view flags of a table.
struct TableMode {
  bool strictOrder = false;
  bool detail = false;
  bool categories = false;
  bool inlineComments = false;
  bool inlineChosen = false; // this table overrides the session's inline-comments preference
  friend bool operator==(const TableMode&, const TableMode&) = default;
};

class TableLayout {
public:
  // `columns` holds the system columns first (fewer than four are filled up with unnamed
  // ones). Columns of equal id are logged as "WARNING: column <a> collides with <b>".
  explicit TableLayout(std::vector<ColumnShape> columns);

  size_t count() const { return columns_.size(); }
  static bool isSystem(size_t column) { return column < kSystemColumns; }
  const std::string& name(size_t column) const { return columns_[column].shape.name; }
  uint16_t id(size_t column) const { return columns_[column].id; }
  // The column's id is shared with another column of this table.
  bool collides(size_t column) const { return columns_[column].collides; }
  // The column the name designates; count() when none does.
  size_t find(std::string_view name) const;

  uint32_t width(size_t column) const { return columns_[column].width; }
  uint32_t defaultWidth(size_t column) const { return columns_[column].shape.width; }
  void setWidth(size_t column, uint32_t width) { columns_[column].width = width; }
  bool visible(size_t column) const { return columns_[column].visible; }
  bool defaultVisible(size_t column) const { return columns_[column].shape.visible; }
  // Ignored for system columns.
  void setVisible(size_t column, bool visible);

  // Every column in display order (the system columns first).
  const std::vector<size_t>& order() const { return order_; }
  // The column shown before `column`: the previous one in display order.
  size_t predecessor(size_t column) const;
  // The default predecessor: the column defined before it.
  static size_t defaultPredecessor(size_t column) { return column - 1; }
  // Shows `column` right after `after` (a system column: after the last system column). False,
  // with nothing changed, for system columns, unknown columns or `after` == `column`.
  bool moveAfter(size_t column, size_t after);
  // Takes a whole display order; false (unchanged) unless it is a permutation that keeps the
  // system columns first and in place.
  bool setOrder(const std::vector<size_t>& order);
  void resetOrder();
  // What the column chooser gives: the columns it listed in their new order, each shown or not.
  // The places the listed columns held in the display order are filled in the new order; columns
  // not listed keep their places. False, with nothing changed, when a column is listed twice, is
  // a system column or is unknown.
  struct ColumnChoice {
    size_t column;
    bool visible;
  };
  bool applyChoice(const std::vector<ColumnChoice>& listed);

  const std::vector<SortKey>& sortKeys() const { return sortKeys_; }
  // At most four keys, system columns and repeats dropped.
  void setSortKeys(std::vector<SortKey> keys);
  // A header click: the column becomes the primary key (its direction toggles when it already
  // was), the other keys move down and the fifth is dropped.
  void sortBy(size_t column);

  TableMode mode;

private:
  struct Column {
    ColumnShape shape;
    uint16_t id = 0;
    bool collides = false;
    uint32_t width = 0;
    bool visible = true;
  };
  std::vector<Column> columns_;
  std::vector<size_t> order_;
  std::vector<SortKey> sortKeys_;
};

} // namespace kestel
