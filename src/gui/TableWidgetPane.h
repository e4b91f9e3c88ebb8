// The usual table pane over an object map: a TableWidget showing the columns of the map's
// descriptor type. The pane's Filter command shows and hides the widget's filter bar (hiding it
// drops its rows, so no filter works that the user cannot see), Freeze keeps the rows as they are
// until it is released (both buttons show the widget's own state), named views carry the widget's
// columns, sort, view flags and filter rows, the find field sits at the end of the toolbar, and
// types with a "comment" slot get inline comments read through it.
#pragma once

#include "gui/TablePane.h"

namespace kestel::gui {

// `type` gives the columns (none without one) and the pane's commands, as TablePane's does.
TablePane* createTablePane(Reference<ObjectMap> map, const CType* type, bool withCommands = true,
                           bool bare = false, QWidget* parent = nullptr);

} // namespace kestel::gui
