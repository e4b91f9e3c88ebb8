// The item roles every table model of the program answers, so panes, export and editors can work
// with any of them.
#pragma once

#include <Qt>

namespace kestel::gui {

// The object's id (uint) on every row; the display text stays in Qt::DisplayRole.
inline constexpr int ObjectIdRole = Qt::UserRole + 1;
// The object's comment (QString, "" without one) on every row of tables that show comments.
inline constexpr int CommentRole = Qt::UserRole + 3;

} // namespace kestel::gui
