// The map's header first (through the widget's): it declares emit(), which Qt's keyword breaks.
#include "gui/TableWidget.h"

#include "gui/TableColumnsDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestel::gui {

TableColumnsDialog::TableColumnsDialog(TableWidget* table)
    : QDialog(table), table_(table), list_(new QListWidget(this)) {
  setWindowTitle(QStringLiteral("Columns"));
  const TableLayout& layout = table->tableLayout();
  for (size_t c : layout.order()) {
    if (!table->offersColumn(c))
      continue;
    auto* item = new QListWidgetItem(QString::fromStdString(layout.name(c)), list_);
    item->setData(Qt::UserRole, int(c));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(table->isColumnHidden(int(c)) ? Qt::Unchecked : Qt::Checked);
  }
  list_->setCurrentRow(0);
  auto* up = new QPushButton(QStringLiteral("Up"), this);
  auto* down = new QPushButton(QStringLiteral("Down"), this);
  connect(up, &QPushButton::clicked, this, [this] { moveSelected(-1); });
  connect(down, &QPushButton::clicked, this, [this] { moveSelected(1); });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* side = new QVBoxLayout;
  side->addWidget(up);
  side->addWidget(down);
  side->addStretch(1);
  auto* body = new QHBoxLayout;
  body->addWidget(list_, 1);
  body->addLayout(side);
  auto* outer = new QVBoxLayout(this);
  outer->addLayout(body, 1);
  outer->addWidget(buttons);
}

void TableColumnsDialog::moveSelected(int by) {
  int row = list_->currentRow();
  int to = row + by;
  if (row < 0 || to < 0 || to >= list_->count())
    return;
  QListWidgetItem* item = list_->takeItem(row);
  list_->insertItem(to, item);
  list_->setCurrentRow(to);
}

void TableColumnsDialog::apply() {
  std::vector<TableLayout::ColumnChoice> listed;
  for (int i = 0; i < list_->count(); ++i) {
    QListWidgetItem* item = list_->item(i);
    listed.push_back({size_t(item->data(Qt::UserRole).toInt()), item->checkState() == Qt::Checked});
  }
  table_->chooseColumns(listed);
}

} // namespace kestel::gui

// Compiled here, after the core headers (see TableModel.cpp).
#include "moc_TableColumnsDialog.cpp"
