// The Qt model of a table: a QAbstractTableModel over a row index (miw/TableIndex.h) of an object
// map. Columns are the table layout's in their defined order (the header shows them in the
// layout's order); display texts come through the columns' convertors, ObjectIdRole gives each
// row's object id. The map's changes reach the views as inserted, removed, moved and changed rows
// or as a layout change with every persistent index kept on its object, never as a model reset,
// so selection, current row and open editors stay on their objects.
#pragma once

#include "miw/TableIndex.h"

#include <QColor>
#include <QPalette>

#include <optional>

#include <QAbstractTableModel>
#include <QIcon>
#include <QTimer>

#include <functional>
#include <vector>

namespace kestel::gui {

// The icon an object shows in the icon column (a null QIcon: none).
using RowIconSource = std::function<QIcon(const IObject&)>;

// The colour an object's colour mark is drawn in: an RGB value, or a system colour by its index
// (5 window, 8 window text, 13 highlight, 14 highlighted text, 15 button face, 16 button shadow,
// 17 grey text, 18 button text; others as window text) taken from `palette`. None for the default
// (window text), which marks nothing.
std::optional<QColor> markColour(const ObjectColor& colour, const QPalette& palette);

class TableModel final : public QAbstractTableModel, private ITableRowsListener {
  Q_OBJECT
public:
  // `columns` are the table's own; the four system columns come first in the model: the row
  // number, the flags ("X" for a disabled object), the icon (shown when `icons` is given) and the
  // colour mark (shown with `marks`).
  TableModel(Reference<MapBase> map, const std::vector<TableColumn>& columns,
             QObject* parent = nullptr, RowIconSource icons = {}, bool marks = false);
  ~TableModel() override;

  TableIndex& rows() { return *index_; }
  const TableIndex& rows() const { return *index_; }
  // The layout the columns were made with (the widget keeps it current).
  TableLayout& layout() { return layout_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

  // Takes in the map's waiting changes now (they are otherwise taken in by a short timer: at once
  // while the table is empty, else every 100 ms, so a burst costs one pass). Nothing while frozen.
  void applyWaiting();
  // While frozen the rows shown stay as they are and the map's changes wait; thawing takes them in.
  // Changes the user makes (sort keys, filters) still re-read the map.
  void setFrozen(bool frozen);
  bool frozen() const { return frozen_; }
  // Where CommentRole reads an object's comment (null: the packer's member under KEY_COMMENT).
  void setCommentField(std::shared_ptr<TableField> field) { comment_ = std::move(field); }
  // Texts sit at the top of their cells (the widget draws inline comments below them).
  void setTopAligned(bool on);
  // Row drags are offered (strict ordering over a map that moves objects).
  void setDraggable(bool on) { draggable_ = on; }

signals:
  // The rows shown or their number changed (for the status line).
  void rowsUpdated();
  void frozenChanged(bool frozen);

private:
  void rowsInserting(size_t first, size_t count) override;
  void rowsInserted() override;
  void rowsRemoving(size_t first, size_t count) override;
  void rowsRemoved() override;
  void rowMoving(size_t from, size_t to) override;
  void rowMoved() override;
  void rowsChanged(size_t first, size_t last) override;
  void rowsReordering() override;
  void rowsReordered() override;
  void changesWaiting() override;

  QString systemText(size_t row, int column) const;
  QVariant systemData(size_t row, int column, int role) const;

  RowIconSource icons_;
  std::shared_ptr<TableField> comment_;
  TableLayout layout_;
  Reference<TableIndex> index_;
  QTimer applyTimer_;
  bool draggable_ = false;
  bool frozen_ = false;
  bool topAligned_ = false;
  // Persistent indexes and their objects' ids across a layout change.
  QModelIndexList kept_;
  std::vector<uint32_t> keptIds_;
};

} // namespace kestel::gui
