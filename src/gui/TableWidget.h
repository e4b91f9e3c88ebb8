// The table widget: a QTableView over a TableModel. It owns the column layout shown by its header
// (order, widths, hidden columns), sorting by header clicks (up to four keys) or strict ordering
// (the router's order; rows are reordered by dragging them, which sends moves through the map),
// the view flags, the filter rows, find ("F3 - Find Next"), the status line, the header's context
// menu (commands 1 to 6; the owner's commands from 4096 on are passed on) and the saving and
// loading of all of it in the window's settings. Rows hold still: the selection, the current
// row and the rows in view stay on their objects whatever the map pushes.
#pragma once

#include "gui/TableModel.h"
#include "miw/Settings.h"

#include <QTableView>

class QMenu;

namespace kestel::gui {

// Header context-menu commands; the column entries are kShowColumnBase + column.
enum TableCommand : int {
  kCmdShowCategories = 1,
  kCmdDetailMode = 2,
  kCmdInlineComments = 3,
  kCmdShowColumns = 4,
  kCmdFind = 5,
  kCmdFindNext = 6,
  kShowColumnBase = 16,
  kOwnerCommandBase = 4096,
};

// What a table offers beyond rows and columns.
struct TableFeatures {
  bool detailMode = false; // the table has a detail mode
  bool comments = false;   // rows have comments that can be shown inline
  bool find = true;        // the table has a find field
  RowIconSource icons;     // the objects' icons (the icon column is shown when set)
  bool marks = false;      // the objects carry colours (the colour-mark column is shown)
  // Where an object's comment is read (null: its packer's member under KEY_COMMENT).
  std::shared_ptr<TableField> comment;
};

class TableWidget : public QTableView {
  Q_OBJECT
public:
  TableWidget(Reference<MapBase> map, const std::vector<TableColumn>& columns,
              TableFeatures features = {}, QWidget* parent = nullptr);
  ~TableWidget() override;

  TableModel& tableModel() const { return *model_; }
  TableLayout& tableLayout() const { return model_->layout(); }

  // --- sorting and ordering
  void setStrictOrder(bool on);
  bool strictOrder() const { return tableLayout().mode.strictOrder; }
  // "press to active sorting mode" while strict ordering is on, else
  // "press to active strict ordering mode".
  QString strictOrderTip() const;
  void setSortKeys(const std::vector<SortKey>& keys);

  // --- filter rows: each row's test comes from its column. Rows naming an operator the column
  // does not offer, or a value it cannot read, are kept but filter nothing; one text per row is
  // returned, the error or "" for a row that filters.
  QStringList setFilterRows(std::vector<FilterRow> rows);
  const std::vector<FilterRow>& filterRows() const { return filters_; }

  // --- find: the next row from the current one whose visible columns contain the text
  void setFindText(const QString& text) { findText_ = text; }
  const QString& findText() const { return findText_; }
  bool findNext();

  // --- the status line ("12 items out of 40 (2 selected)")
  QString statusText() const;

  // The session-wide inline-comments preference (the table may override it).
  void setSessionInlineComments(bool on);
  // Each row shows its object's comment on a line of its own under its cells: tables with
  // comments, by the table's own choice or else the session's preference. The "Comment" column
  // is not shown meanwhile.
  bool inlineCommentsShown() const;

  // --- columns the user shows, hides and orders: the table's own but its comment column
  bool offersColumn(size_t column) const;
  // The "Columns" dialog's choice (see TableLayout::applyChoice); false when it was refused.
  bool chooseColumns(const std::vector<TableLayout::ColumnChoice>& listed);
  // With more columns than this the header menu opens the "Columns" dialog ("Show Columns...")
  // instead of listing them.
  static constexpr size_t kColumnMenuLimit = 20;

  // --- the header's context menu; runCommand carries out its commands; kCmdShowColumns opens
  // the "Columns" dialog
  QMenu* headerMenu(QWidget* parent);
  void runCommand(int command);

  // --- ids of the selected rows, in display order
  std::vector<uint32_t> selectedIds() const;
  // Moves the objects `ids` before the row `row` (after the last row for rowCount()) through the
  // map; false when the map cannot move objects or the table is not in strict ordering.
  bool moveObjects(const std::vector<uint32_t>& ids, int row);

  // --- state in the window's settings (the filter rows in records of `registry`)
  void saveState(StringMap& settings, SettingsRegistry& registry = settingsRegistry());
  void loadState(const StringMap& settings, SettingsRegistry& registry = settingsRegistry());
  // --- a named view: the same state with the filter rows inside it; loading one starts from the
  // table's defaults, so what the view does not name is as the table first showed it
  StringMap saveView() const;
  void loadView(const StringMap& view);

signals:
  void statusChanged(const QString& text);
  // Commands of 4096 and above, for the window that owns the table.
  void ownerCommand(int command);
  void findRequested();
  void viewFlagsChanged();
  // The filter rows were set (by the filter bar, a loaded state or a named view).
  void filtersChanged();

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

private:
  // The header shows the layout: order, widths and hidden columns.
  void showLayout();
  void takeHeaderState();
  void reorder();
  void keepTopRow();
  void restoreTopRow();
  void updateDragging();
  // Shows a layout just read, with its filter rows.
  void takeLoaded(std::vector<FilterRow> rows);
  // Row height and the comment lines follow the view flags.
  void applyViewFlags();
  bool isCommentColumn(size_t column) const;

  TableModel* model_;
  TableFeatures features_;
  std::vector<FilterRow> filters_;
  QString findText_;
  std::vector<uint32_t> shownIds_; // the objects in view across a change, top first
  size_t shownTop_ = 0;            // the row at the top of the view before the change
  bool showing_ = false;           // the header is being set from the layout
  bool sessionInlineComments_ = false;
  int rowHeight_ = 0; // one line of text
};

} // namespace kestel::gui
