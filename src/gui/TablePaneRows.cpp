#include "gui/TablePaneRows.h"

#include "gui/TableRoles.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTreeView>

#include <algorithm>
#include <set>

namespace kestel::gui {
namespace {

// The header of the view's columns, when it has one.
const QHeaderView* columnHeader(const QAbstractItemView& view) {
  if (auto* table = qobject_cast<const QTableView*>(&view))
    return table->horizontalHeader();
  if (auto* tree = qobject_cast<const QTreeView*>(&view))
    return tree->header();
  return nullptr;
}

// Visible model columns in display order.
std::vector<int> visibleColumns(const QAbstractItemView& view) {
  const QAbstractItemModel* model = view.model();
  std::vector<int> columns;
  if (!model)
    return columns;
  const QHeaderView* header = columnHeader(view);
  int count = model->columnCount();
  for (int visual = 0; visual < count; ++visual) {
    int logical = header ? header->logicalIndex(visual) : visual;
    if (logical < 0 || (header && header->isSectionHidden(logical)))
      continue;
    columns.push_back(logical);
  }
  return columns;
}

bool rowHidden(const QAbstractItemView& view, int row) {
  if (auto* table = qobject_cast<const QTableView*>(&view))
    return table->isRowHidden(row);
  if (auto* tree = qobject_cast<const QTreeView*>(&view))
    return tree->isRowHidden(row, QModelIndex());
  return false;
}

// Model rows in display order (a table's rows may have been moved by their header).
std::vector<int> displayOrder(const QAbstractItemView& view, std::vector<int> rows) {
  if (auto* table = qobject_cast<const QTableView*>(&view)) {
    const QHeaderView* vertical = table->verticalHeader();
    std::sort(rows.begin(), rows.end(),
              [&](int a, int b) { return vertical->visualIndex(a) < vertical->visualIndex(b); });
  } else {
    std::sort(rows.begin(), rows.end());
  }
  return rows;
}

std::vector<std::string> rowTexts(const QAbstractItemModel& model, int row,
                                  const std::vector<int>& columns) {
  std::vector<std::string> cells;
  for (int c : columns)
    cells.push_back(model.index(row, c).data(Qt::DisplayRole).toString().toStdString());
  return cells;
}

} // namespace

TableRows visibleRows(const QAbstractItemView& view) {
  TableRows out;
  const QAbstractItemModel* model = view.model();
  if (!model)
    return out;
  std::vector<int> columns = visibleColumns(view);
  for (int c : columns)
    out.headers.push_back(model->headerData(c, Qt::Horizontal).toString().toStdString());
  std::vector<int> rows;
  for (int r = 0, n = model->rowCount(); r < n; ++r)
    if (!rowHidden(view, r))
      rows.push_back(r);
  for (int r : displayOrder(view, std::move(rows)))
    out.rows.push_back(rowTexts(*model, r, columns));
  return out;
}

std::vector<int> selectedRowNumbers(const QAbstractItemView& view) {
  const QItemSelectionModel* selection = view.selectionModel();
  if (!selection || !view.model())
    return {};
  std::set<int> rows;
  for (const QModelIndex& index : selection->selectedIndexes())
    if (!index.parent().isValid() && !rowHidden(view, index.row()))
      rows.insert(index.row());
  return displayOrder(view, std::vector<int>(rows.begin(), rows.end()));
}

std::vector<std::vector<std::string>> selectedRows(const QAbstractItemView& view) {
  std::vector<std::vector<std::string>> out;
  std::vector<int> columns = visibleColumns(view);
  for (int r : selectedRowNumbers(view))
    out.push_back(rowTexts(*view.model(), r, columns));
  return out;
}

uint32_t rowObjectId(const QAbstractItemModel& model, int row) {
  QVariant id = model.index(row, 0).data(ObjectIdRole);
  bool ok = false;
  uint32_t value = id.toUInt(&ok);
  return ok && id.isValid() ? value : 0xFFFFFFFF;
}

} // namespace kestel::gui
