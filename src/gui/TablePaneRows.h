// The rows of any item view as the user sees them: the visible columns in their display order
// with their header titles, the rows not hidden in display order, every cell's display text.
// Works with every QAbstractItemModel (only the top-level rows), so export and copy need
// nothing from the model beyond Qt::DisplayRole and, for the objects, ObjectIdRole.
#pragma once

#include "miw/TableExport.h"

#include <QAbstractItemView>

#include <cstdint>
#include <vector>

namespace kestel::gui {

// Every visible row, with the headers.
TableRows visibleRows(const QAbstractItemView& view);
// The rows with a selected cell, in display order (cells of the visible columns).
std::vector<std::vector<std::string>> selectedRows(const QAbstractItemView& view);
// The model rows with a selected cell, in display order.
std::vector<int> selectedRowNumbers(const QAbstractItemView& view);
// The ObjectIdRole of the row (0xFFFFFFFF when the model gives none).
uint32_t rowObjectId(const QAbstractItemModel& model, int row);

} // namespace kestel::gui
