// The bars a pane puts beside a table widget: the filter bar (one line per filter row: column,
// the operators the column's kind offers, value, remove; a button adds a line) and the find field
// ("F3 - Find Next"). Both only drive the widget; the rows and their tests are the widget's.
#pragma once

#include "gui/TableWidget.h"

#include <QLineEdit>
#include <QWidget>

class QVBoxLayout;

namespace kestel::gui {

class TableFilterBar : public QWidget {
  Q_OBJECT
public:
  explicit TableFilterBar(TableWidget* table, QWidget* parent = nullptr);

  // Adds a line for the first column (shows the bar).
  void addRow();
  // Rebuilds the lines from the table's filter rows; the bar is shown when there is one.
  void showRows();
  // The texts of the lines whose value the column cannot read ("" for good lines).
  const QStringList& errors() const { return errors_; }

private:
  void apply();

  TableWidget* table_;
  QVBoxLayout* lines_;
  QStringList errors_;
  bool building_ = false;
};

class TableFindField : public QLineEdit {
  Q_OBJECT
public:
  explicit TableFindField(TableWidget* table, QWidget* parent = nullptr);

protected:
  void keyPressEvent(QKeyEvent* event) override;

private:
  TableWidget* table_;
};

} // namespace kestel::gui
