// The Qt model of a table: a QAbstractTableModel over a row index (miw/TableIndex.h) of an object
// map. Columns are the table layout's in their defined order (the header shows them in the
// layout's order); display texts come through the columns' convertors, ObjectIdRole gives each
// row's object id. The map's changes reach the views as inserted, removed, moved and changed rows
// or as a layout change with every persistent index kept on its object, never as a model reset,
// so selection, current row and open editors stay on their objects.
#pragma once

#include "miw/TableIndex.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <vector>

namespace kestel::gui {

class TableModel final : public QAbstractTableModel, private ITableRowsListener {
  Q_OBJECT
public:
  // `columns` are the table's own; the four system columns come first in the model.
  TableModel(Reference<MapBase> map, const std::vector<TableColumn>& columns,
             QObject* parent = nullptr);
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
  // Row drags are offered (strict ordering over a map that moves objects).
  void setDraggable(bool on) { draggable_ = on; }

signals:
  // The rows shown or their number changed (for the status line).
  void rowsUpdated();

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

  TableLayout layout_;
  Reference<TableIndex> index_;
  QTimer applyTimer_;
  bool draggable_ = false;
  bool frozen_ = false;
  // Persistent indexes and their objects' ids across a layout change.
  QModelIndexList kept_;
  std::vector<uint32_t> keptIds_;
};

} // namespace kestel::gui
