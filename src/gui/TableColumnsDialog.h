// The "Columns" dialog of a table: its own columns (not the system ones, not "Comment") in
// display order, each checked while shown; Up and Down move the selected column, OK applies the
// list to the table (TableLayout::applyChoice), Cancel leaves the table as it was.
#pragma once

#include <QDialog>

class QListWidget;

namespace kestel::gui {

class TableWidget;

class TableColumnsDialog final : public QDialog {
  Q_OBJECT
public:
  explicit TableColumnsDialog(TableWidget* table);

  QListWidget* list() const { return list_; }
  // Moves the selected column one place up (-1) or down (+1).
  void moveSelected(int by);
  // Shows the list's columns and order in the table (OK does this).
  void apply();

private:
  TableWidget* table_;
  QListWidget* list_;
};

} // namespace kestel::gui
