#include "gui/TableBars.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QToolButton>

namespace kestel::gui {
namespace {

// The columns a filter line can name: the table's own, in the layout's order.
std::vector<size_t> filterColumns(const TableWidget& table) {
  std::vector<size_t> out;
  for (size_t c : table.tableLayout().order())
    if (!TableLayout::isSystem(c) && table.tableModel().rows().field(c))
      out.push_back(c);
  return out;
}

} // namespace

TableFilterBar::TableFilterBar(TableWidget* table, QWidget* parent)
    : QWidget(parent), table_(table), lines_(new QVBoxLayout) {
  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addLayout(lines_, 1);
  auto* add = new QToolButton(this);
  add->setText(QStringLiteral("+"));
  add->setAutoRaise(true);
  outer->addWidget(add, 0, Qt::AlignTop);
  connect(add, &QToolButton::clicked, this, &TableFilterBar::addRow);
  showRows();
}

void TableFilterBar::addRow() {
  std::vector<size_t> columns = filterColumns(*table_);
  if (columns.empty())
    return;
  std::vector<FilterRow> rows = table_->filterRows();
  ValueKind kind = table_->tableModel().rows().field(columns[0])->kind();
  rows.push_back(FilterRow{columns[0], filterOperators(kind)[0], {}});
  errors_ = table_->setFilterRows(std::move(rows));
  showRows();
}

void TableFilterBar::showRows() {
  building_ = true;
  while (QLayoutItem* item = lines_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  std::vector<size_t> columns = filterColumns(*table_);
  const std::vector<FilterRow>& rows = table_->filterRows();
  for (size_t i = 0; i < rows.size(); ++i) {
    auto* line = new QWidget(this);
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* column = new QComboBox(line);
    for (size_t c : columns) {
      column->addItem(QString::fromStdString(table_->tableLayout().name(c)), int(c));
      if (c == rows[i].column)
        column->setCurrentIndex(column->count() - 1);
    }
    auto* op = new QComboBox(line);
    ValueKind kind = table_->tableModel().rows().field(rows[i].column)->kind();
    for (FilterOp o : filterOperators(kind)) {
      op->addItem(QString::fromLatin1(filterOpText(o)), int(o));
      if (o == rows[i].op)
        op->setCurrentIndex(op->count() - 1);
    }
    auto* value = new QLineEdit(QString::fromStdString(rows[i].value), line);
    auto* remove = new QToolButton(line);
    remove->setText(QStringLiteral("-"));
    remove->setAutoRaise(true);
    layout->addWidget(column);
    layout->addWidget(op);
    layout->addWidget(value, 1);
    layout->addWidget(remove);
    lines_->addWidget(line);
    connect(column, &QComboBox::currentIndexChanged, this, [this] { apply(); });
    connect(op, &QComboBox::currentIndexChanged, this, [this] { apply(); });
    connect(value, &QLineEdit::textChanged, this, [this] { apply(); });
    connect(remove, &QToolButton::clicked, this, [this, i] {
      std::vector<FilterRow> rows = table_->filterRows();
      rows.erase(rows.begin() + std::ptrdiff_t(i));
      errors_ = table_->setFilterRows(std::move(rows));
      showRows();
    });
  }
  setVisible(!rows.empty());
  building_ = false;
}

void TableFilterBar::apply() {
  if (building_)
    return;
  std::vector<FilterRow> rows = table_->filterRows();
  bool columnChanged = false;
  for (int i = 0; i < lines_->count() && size_t(i) < rows.size(); ++i) {
    QWidget* line = lines_->itemAt(i)->widget();
    auto combos = line->findChildren<QComboBox*>(QString(), Qt::FindDirectChildrenOnly);
    auto* value = line->findChild<QLineEdit*>(QString(), Qt::FindDirectChildrenOnly);
    size_t column = size_t(combos[0]->currentData().toInt());
    columnChanged = columnChanged || column != rows[size_t(i)].column;
    ValueKind kind = table_->tableModel().rows().field(column)->kind();
    auto op = FilterOp(combos[1]->currentData().toInt());
    if (column != rows[size_t(i)].column && !offersOperator(kind, op))
      op = filterOperators(kind)[0]; // the new column's kind does not offer the old operator
    rows[size_t(i)] = FilterRow{column, op, value->text().toStdString(), rows[size_t(i)].record};
  }
  errors_ = table_->setFilterRows(std::move(rows));
  for (int i = 0; i < lines_->count(); ++i) {
    auto* value = lines_->itemAt(i)->widget()->findChild<QLineEdit*>();
    value->setToolTip(i < errors_.size() ? errors_[i] : QString());
  }
  if (columnChanged)
    showRows(); // the operators follow the column's kind
}

TableFindField::TableFindField(TableWidget* table, QWidget* parent)
    : QLineEdit(parent), table_(table) {
  setPlaceholderText(QStringLiteral("F3 - Find Next"));
  connect(this, &QLineEdit::textChanged, this,
          [this](const QString& text) { table_->setFindText(text); });
  connect(this, &QLineEdit::returnPressed, this, [this] { table_->findNext(); });
  connect(table_, &TableWidget::findRequested, this, [this] {
    setFocus();
    selectAll();
  });
}

void TableFindField::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F3) {
    table_->findNext();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

} // namespace kestel::gui

// Compiled here, after the core headers (see TableModel.cpp).
#include "moc_TableBars.cpp"
