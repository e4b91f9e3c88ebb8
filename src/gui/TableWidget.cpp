#include "gui/TableWidget.h"

#include "api/container/ObjectMap.h"
#include "gui/TableColumnsDialog.h"
#include "gui/TableRoles.h"
#include "miw/TableState.h"

#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace kestel::gui {

TableWidget::TableWidget(Reference<MapBase> map, const std::vector<TableColumn>& columns,
                         TableFeatures features, QWidget* parent)
    : QTableView(parent),
      model_(new TableModel(std::move(map), columns, this, features.icons, features.marks)),
      features_(std::move(features)) {
  model_->setCommentField(features_.comment);
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setWordWrap(false);
  verticalHeader()->hide();
  rowHeight_ = fontMetrics().height() + 4;
  verticalHeader()->setDefaultSectionSize(rowHeight_);
  QHeaderView* header = horizontalHeader();
  header->setSectionsMovable(true);
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setStretchLastSection(true);
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu* menu = headerMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(horizontalHeader()->mapToGlobal(at));
  });
  connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
    if (strictOrder() || TableLayout::isSystem(size_t(section)))
      return;
    tableLayout().sortBy(size_t(section));
    reorder();
  });
  connect(header, &QHeaderView::sectionMoved, this, [this] { takeHeaderState(); });
  connect(header, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
    if (!showing_ && !isColumnHidden(section) && size > 0)
      tableLayout().setWidth(size_t(section), uint32_t(size));
  });
  // Rows hold still: the object at the top of the view stays there through every change.
  for (auto before :
       {&QAbstractItemModel::rowsAboutToBeInserted, &QAbstractItemModel::rowsAboutToBeRemoved})
    connect(model_, before, this, [this] { keepTopRow(); });
  connect(model_, &QAbstractItemModel::rowsAboutToBeMoved, this, [this] { keepTopRow(); });
  connect(model_, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] { keepTopRow(); });
  for (auto after : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(model_, after, this, [this] { restoreTopRow(); });
  connect(model_, &QAbstractItemModel::rowsMoved, this, [this] { restoreTopRow(); });
  connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { restoreTopRow(); });
  connect(model_, &TableModel::rowsUpdated, this, [this] { emit statusChanged(statusText()); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { emit statusChanged(statusText()); });
  showLayout();
  reorder();
  updateDragging();
}

TableWidget::~TableWidget() = default;

void TableWidget::setStrictOrder(bool on) {
  tableLayout().mode.strictOrder = on;
  reorder();
  updateDragging();
}

QString TableWidget::strictOrderTip() const {
  return strictOrder() ? QStringLiteral("press to active sorting mode")
                       : QStringLiteral("press to active strict ordering mode");
}

void TableWidget::setSortKeys(const std::vector<SortKey>& keys) {
  tableLayout().setSortKeys(keys);
  reorder();
}

void TableWidget::reorder() {
  const TableLayout& layout = tableLayout();
  model_->rows().setOrdering(layout.sortKeys(), layout.mode.strictOrder);
  QHeaderView* header = horizontalHeader();
  bool sorted = !layout.mode.strictOrder && !layout.sortKeys().empty();
  header->setSortIndicatorShown(sorted);
  if (sorted)
    header->setSortIndicator(int(layout.sortKeys()[0].column), layout.sortKeys()[0].descending
                                                                   ? Qt::DescendingOrder
                                                                   : Qt::AscendingOrder);
}

void TableWidget::updateDragging() {
  auto* map = dynamic_cast<ObjectMap*>(&model_->rows().map());
  bool movable = strictOrder() && map && map->ordered() && map->commands().exists(Op::Move);
  model_->setDraggable(movable);
  setDragEnabled(movable);
  setDragDropMode(movable ? QAbstractItemView::InternalMove : QAbstractItemView::NoDragDrop);
  setDefaultDropAction(Qt::MoveAction);
  setDropIndicatorShown(movable);
}

QStringList TableWidget::setFilterRows(std::vector<FilterRow> rows) {
  QStringList errors;
  std::vector<RowTest> tests;
  for (const FilterRow& row : rows) {
    Expected<RowTest> test = createFilterFor(model_->rows().field(row.column), row.op, row.value);
    errors.push_back(test ? QString() : QString::fromStdString(test.error().text));
    if (test)
      tests.push_back(std::move(*test));
  }
  filters_ = std::move(rows);
  model_->rows().setFilters(std::move(tests));
  emit filtersChanged();
  return errors;
}

bool TableWidget::findNext() {
  std::vector<size_t> columns;
  for (int visual = 0; visual < model_->columnCount(); ++visual) {
    int logical = horizontalHeader()->logicalIndex(visual);
    if (!TableLayout::isSystem(size_t(logical)) && !isColumnHidden(logical))
      columns.push_back(size_t(logical));
  }
  size_t from = currentIndex().isValid() ? size_t(currentIndex().row()) + 1 : 0;
  size_t row = model_->rows().findNext(findText_.toStdString(), from, columns);
  if (row == TableIndex::kNoRow)
    return false;
  QModelIndex at = model_->index(int(row), columns.empty() ? 0 : int(columns[0]));
  selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect |
                                            QItemSelectionModel::Rows);
  scrollTo(at);
  return true;
}

QString TableWidget::statusText() const {
  size_t selected = selectionModel() ? size_t(selectionModel()->selectedRows().size()) : 0;
  return QString::fromStdString(
      tableStatusText(model_->rows().size(), model_->rows().map().size(), selected));
}

QMenu* TableWidget::headerMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  const TableMode& mode = tableLayout().mode;
  auto add = [&](QMenu* to, const QString& text, int command, bool checked) {
    QAction* a = to->addAction(text, this, [this, command] { runCommand(command); });
    a->setData(command);
    a->setCheckable(true);
    a->setChecked(checked);
    return a;
  };
  add(menu, QStringLiteral("Show Categories"), kCmdShowCategories, mode.categories);
  if (features_.detailMode)
    add(menu, QStringLiteral("Detail Mode"), kCmdDetailMode, mode.detail);
  if (features_.comments) {
    bool shown = mode.inlineChosen ? mode.inlineComments : sessionInlineComments_;
    add(menu,
        sessionInlineComments_ ? QStringLiteral("Don't Inline Comments")
                               : QStringLiteral("Inline Comments"),
        kCmdInlineComments, shown != sessionInlineComments_);
  }
  size_t offered = 0;
  for (size_t c = 0; c < tableLayout().count(); ++c)
    offered += offersColumn(c) ? 1 : 0;
  if (offered > kColumnMenuLimit) {
    menu->addAction(QStringLiteral("Show Columns..."), this,
                    [this] { runCommand(kCmdShowColumns); })
        ->setData(int(kCmdShowColumns));
  } else {
    QMenu* columns = menu->addMenu(QStringLiteral("Show Columns"));
    columns->menuAction()->setData(int(kCmdShowColumns));
    for (size_t c = 0; c < tableLayout().count(); ++c)
      if (offersColumn(c))
        add(columns, QString::fromStdString(tableLayout().name(c)), kShowColumnBase + int(c),
            !isColumnHidden(int(c)));
  }
  if (features_.find) {
    menu->addAction(QStringLiteral("Find\tCtrl+F"), this, [this] { runCommand(kCmdFind); })
        ->setData(int(kCmdFind));
    menu->addAction(QStringLiteral("Find Next\tCtrl+G"), this, [this] { runCommand(kCmdFindNext); })
        ->setData(int(kCmdFindNext));
  }
  return menu;
}

void TableWidget::runCommand(int command) {
  TableMode& mode = tableLayout().mode;
  if (command >= kOwnerCommandBase) {
    emit ownerCommand(command);
    return;
  }
  if (command >= kShowColumnBase) {
    size_t c = size_t(command - kShowColumnBase);
    if (c < tableLayout().count() && !TableLayout::isSystem(c)) {
      tableLayout().setVisible(c, isColumnHidden(int(c)));
      showLayout();
    }
    return;
  }
  switch (command) {
  case kCmdShowCategories:
    mode.categories = !mode.categories;
    break;
  case kCmdDetailMode:
    mode.detail = !mode.detail;
    break;
  case kCmdInlineComments: {
    bool shown = mode.inlineChosen ? mode.inlineComments : sessionInlineComments_;
    mode.inlineChosen = shown == sessionInlineComments_; // back to the preference, or away
    mode.inlineComments = mode.inlineChosen && !sessionInlineComments_;
    break;
  }
  case kCmdShowColumns: {
    auto* dialog = new TableColumnsDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return;
  }
  case kCmdFind:
    emit findRequested();
    return;
  case kCmdFindNext:
    findNext();
    return;
  default:
    return;
  }
  applyViewFlags();
  emit viewFlagsChanged();
}

bool TableWidget::isCommentColumn(size_t column) const {
  const std::string& name = tableLayout().name(column);
  return name == "Comment" || (features_.comment && name == features_.comment->title());
}

bool TableWidget::offersColumn(size_t column) const {
  return column < tableLayout().count() && !TableLayout::isSystem(column) &&
         !isCommentColumn(column);
}

bool TableWidget::chooseColumns(const std::vector<TableLayout::ColumnChoice>& listed) {
  if (!tableLayout().applyChoice(listed))
    return false;
  showLayout();
  return true;
}

void TableWidget::setSessionInlineComments(bool on) {
  sessionInlineComments_ = on;
  applyViewFlags();
}

bool TableWidget::inlineCommentsShown() const {
  const TableMode& mode = tableLayout().mode;
  return features_.comments && (mode.inlineChosen ? mode.inlineComments : sessionInlineComments_);
}

void TableWidget::applyViewFlags() {
  bool comments = inlineCommentsShown();
  verticalHeader()->setDefaultSectionSize(comments ? 2 * rowHeight_ : rowHeight_);
  model_->setTopAligned(comments);
  showLayout();
  viewport()->update();
}

void TableWidget::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  if (!inlineCommentsShown() || model_->rowCount() == 0)
    return;
  // The comment line runs under the row's cells from the first column of the table's own.
  int left = 0;
  for (int visual = 0; visual < model_->columnCount(); ++visual)
    if (int c = horizontalHeader()->logicalIndex(visual);
        !TableLayout::isSystem(size_t(c)) && !isColumnHidden(c)) {
      left = columnViewportPosition(c);
      break;
    }
  QPainter painter(viewport());
  QFont font = painter.font();
  font.setItalic(true);
  painter.setFont(font);
  QFontMetrics metrics(font);
  int top = rowAt(0), bottom = rowAt(viewport()->height() - 1);
  if (bottom < 0)
    bottom = model_->rowCount() - 1;
  for (int row = std::max(top, 0); row <= bottom; ++row) {
    QString comment = model_->index(row, 0).data(CommentRole).toString();
    if (comment.isEmpty())
      continue;
    bool selected = selectionModel()->isRowSelected(row, QModelIndex());
    painter.setPen(
        palette().color(selected ? QPalette::HighlightedText : QPalette::PlaceholderText));
    QRect line(left + 4, rowViewportPosition(row) + rowHeight(row) / 2,
               viewport()->width() - left - 8, rowHeight(row) / 2);
    comment.replace('\n', ' ');
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(comment, Qt::ElideRight, line.width()));
  }
}

std::vector<uint32_t> TableWidget::selectedIds() const {
  std::vector<int> rows;
  for (const QModelIndex& i : selectionModel()->selectedRows())
    rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  std::vector<uint32_t> ids;
  for (int r : rows)
    ids.push_back(model_->rows().id(size_t(r)));
  return ids;
}

bool TableWidget::moveObjects(const std::vector<uint32_t>& ids, int row) {
  auto* map = dynamic_cast<ObjectMap*>(&model_->rows().map());
  if (!map || !map->ordered() || !strictOrder())
    return false;
  const TableIndex& rows = model_->rows();
  // The objects go before the first row from `row` on that does not move with them.
  uint32_t next = kNoId;
  for (size_t r = size_t(std::max(row, 0)); r < rows.size(); ++r)
    if (std::find(ids.begin(), ids.end(), rows.id(r)) == ids.end()) {
      next = rows.id(r);
      break;
    }
  for (uint32_t id : ids)
    if (IObject* object = map->find(id))
      map->move(object, next);
  return true;
}

void TableWidget::dropEvent(QDropEvent* event) {
  if (event->source() != this || !strictOrder()) {
    event->ignore();
    return;
  }
  QModelIndex at = indexAt(event->position().toPoint());
  int row = at.isValid() ? at.row() : model_->rowCount();
  if (at.isValid() && dropIndicatorPosition() == QAbstractItemView::BelowItem)
    ++row;
  moveObjects(selectedIds(), row);
  // The map moves the rows; the view must not remove the dragged ones itself.
  event->setDropAction(Qt::IgnoreAction);
  event->accept();
}

void TableWidget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F3 ||
      (event->key() == Qt::Key_G && event->modifiers() == Qt::ControlModifier)) {
    findNext();
    return;
  }
  if (event->key() == Qt::Key_F && event->modifiers() == Qt::ControlModifier && features_.find) {
    emit findRequested();
    return;
  }
  QTableView::keyPressEvent(event);
}

void TableWidget::keepTopRow() {
  shownIds_.clear();
  int top = rowAt(0);
  shownTop_ = size_t(std::max(top, 0));
  if (top < 0)
    return;
  int bottom = rowAt(viewport()->height() - 1);
  if (bottom < 0)
    bottom = model_->rowCount() - 1;
  for (int row = top; row <= bottom; ++row)
    shownIds_.push_back(model_->rows().id(size_t(row)));
}

void TableWidget::restoreTopRow() {
  if (shownIds_.empty())
    return;
  // The first object in view that this change left alone stays where it was in the view (an
  // object that changed and sorts elsewhere now does not drag the view along).
  const TableIndex& rows = model_->rows();
  std::unordered_map<uint32_t, size_t> offsetOf;
  for (size_t i = 0; i < shownIds_.size(); ++i)
    if (!rows.applying(shownIds_[i]))
      offsetOf.emplace(shownIds_[i], i);
  shownIds_.clear();
  size_t bestOffset = std::numeric_limits<size_t>::max();
  long top = 0;
  auto search = [&](size_t from, size_t to) {
    for (size_t row = from; row < to && bestOffset != 0; ++row)
      if (auto at = offsetOf.find(rows.id(row)); at != offsetOf.end() && at->second < bestOffset) {
        bestOffset = at->second;
        top = long(row) - long(at->second);
      }
  };
  // An object the change left alone moved by at most the number of rows it took in or out, so
  // it is looked for near where it was first; a change that re-read the map may have moved it
  // anywhere.
  size_t reach = rows.applyingCount() + 1;
  if (rows.applyingCount() != 0)
    search(shownTop_ > reach ? shownTop_ - reach : 0,
           std::min(rows.size(), shownTop_ + offsetOf.size() + reach + 1));
  if (bestOffset == std::numeric_limits<size_t>::max())
    search(0, rows.size());
  if (bestOffset == std::numeric_limits<size_t>::max())
    return; // everything in view changed or went: the view stays at its row
  updateGeometries();
  verticalScrollBar()->setValue(int(std::max(top, 0L)));
}

void TableWidget::showLayout() {
  showing_ = true;
  const TableLayout& layout = tableLayout();
  QHeaderView* header = horizontalHeader();
  bool comments = inlineCommentsShown(); // the comment shows on its own line instead
  for (size_t c = 0; c < layout.count(); ++c) {
    setColumnHidden(int(c),
                    !layout.visible(c) || layout.width(c) == 0 || (comments && isCommentColumn(c)));
    if (layout.width(c) != 0)
      setColumnWidth(int(c), int(layout.width(c)));
  }
  const std::vector<size_t>& order = layout.order();
  for (size_t visual = 0; visual < order.size(); ++visual)
    header->moveSection(header->visualIndex(int(order[visual])), int(visual));
  showing_ = false;
}

void TableWidget::takeHeaderState() {
  if (showing_)
    return;
  std::vector<size_t> order;
  for (int visual = 0; visual < model_->columnCount(); ++visual)
    order.push_back(size_t(horizontalHeader()->logicalIndex(visual)));
  if (!tableLayout().setOrder(order)) // system columns stay in front
    showLayout();
}

void TableWidget::saveState(StringMap& settings, SettingsRegistry& registry) {
  saveTableState(tableLayout(), filters_, settings, registry);
}

void TableWidget::loadState(const StringMap& settings, SettingsRegistry& registry) {
  std::vector<FilterRow> rows;
  loadTableState(tableLayout(), rows, settings, registry);
  takeLoaded(std::move(rows));
}

StringMap TableWidget::saveView() const { return writeTableView(tableLayout(), filters_); }

void TableWidget::loadView(const StringMap& view) {
  std::vector<FilterRow> rows;
  readTableView(tableLayout(), rows, view);
  takeLoaded(std::move(rows));
}

void TableWidget::takeLoaded(std::vector<FilterRow> rows) {
  applyViewFlags();
  updateDragging();
  setFilterRows(std::move(rows));
  reorder();
}

} // namespace kestel::gui

// Compiled here, after the core headers (see TableModel.cpp).
#include "moc_TableWidget.cpp"
