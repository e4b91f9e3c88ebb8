#include "gui/TableModel.h"

#include "api/object/Packer.h"
#include "gui/TableRoles.h"

#include <QGuiApplication>

#include <unordered_map>

namespace kestel::gui {
namespace {

std::vector<ColumnShape> shapesOf(const std::vector<TableColumn>& columns, bool icons, bool marks) {
  // The system columns: row number, flags, icon and colour mark (width 0: not shown).
  std::vector<ColumnShape> shapes{
      {"#", 48, true}, {"", 20, true}, {"", icons ? 20u : 0u, true}, {"", marks ? 6u : 0u, true}};
  for (const TableColumn& c : columns)
    shapes.push_back(c.shape);
  return shapes;
}

std::vector<std::shared_ptr<TableField>> fieldsOf(const std::vector<TableColumn>& columns) {
  std::vector<std::shared_ptr<TableField>> fields(kSystemColumns);
  for (const TableColumn& c : columns)
    fields.push_back(c.field);
  return fields;
}

constexpr int kApplyDelayMs = 100;

} // namespace

std::optional<QColor> markColour(const ObjectColor& colour, const QPalette& palette) {
  if (colour == ObjectColor{})
    return std::nullopt;
  if (colour.kind == ObjectColor::Kind::Rgb) // 0x00BBGGRR
    return QColor(int(colour.value & 0xFF), int((colour.value >> 8) & 0xFF),
                  int((colour.value >> 16) & 0xFF));
  switch (colour.value) {
  case 5:
    return palette.color(QPalette::Base);
  case 13:
    return palette.color(QPalette::Highlight);
  case 14:
    return palette.color(QPalette::HighlightedText);
  case 15:
    return palette.color(QPalette::Button);
  case 16:
    return palette.color(QPalette::Dark);
  case 17:
    return palette.color(QPalette::Disabled, QPalette::Text);
  case 18:
    return palette.color(QPalette::ButtonText);
  default:
    return palette.color(QPalette::WindowText);
  }
}

TableModel::TableModel(Reference<MapBase> map, const std::vector<TableColumn>& columns,
                       QObject* parent, RowIconSource icons, bool marks)
    : QAbstractTableModel(parent), icons_(std::move(icons)),
      layout_(shapesOf(columns, bool(icons_), marks)),
      index_(makeRef<TableIndex>(std::move(map), fieldsOf(columns))) {
  index_->setListener(this);
  applyTimer_.setSingleShot(true);
  connect(&applyTimer_, &QTimer::timeout, this, &TableModel::applyWaiting);
  index_->apply();
}

TableModel::~TableModel() {
  index_->setListener(nullptr);
  index_->close();
}

int TableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(index_->size());
}

int TableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(layout_.count());
}

QString TableModel::systemText(size_t row, int column) const {
  if (column == 0)
    return QString::number(row + 1);
  bool disabled = false;
  IObject* object = index_->object(row);
  if (column == 1 && object->getPacker() &&
      object->getPacker()->getValue(KEY_DISABLED, object, disabled) && disabled)
    return QStringLiteral("X");
  return {};
}

QVariant TableModel::systemData(size_t row, int column, int role) const {
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
    return systemText(row, column);
  const IObject& object = *index_->object(row);
  if (column == 2 && role == Qt::DecorationRole && icons_)
    if (QIcon icon = icons_(object); !icon.isNull())
      return icon;
  if (column == 3 && role == Qt::BackgroundRole)
    if (std::optional<QColor> mark = markColour(object.getColor(), QGuiApplication::palette()))
      return *mark;
  return {};
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || size_t(index.row()) >= index_->size())
    return {};
  size_t row = size_t(index.row());
  if (role == ObjectIdRole)
    return QVariant::fromValue(uint(index_->id(row)));
  if (role == CommentRole) {
    const IObject& object = *index_->object(row);
    if (comment_)
      return QString::fromStdString(comment_->text(object));
    std::string comment;
    if (IPacker* packer = object.getPacker())
      packer->getValue(KEY_COMMENT, &object, comment);
    return QString::fromStdString(comment);
  }
  if (role == Qt::TextAlignmentRole && topAligned_)
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignTop));
  if (TableLayout::isSystem(size_t(index.column())))
    return systemData(row, index.column(), role);
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
    return {};
  const std::shared_ptr<TableField>& field = index_->field(size_t(index.column()));
  return field ? QString::fromStdString(field->text(*index_->object(row))) : QVariant();
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
      size_t(section) >= layout_.count())
    return {};
  return QString::fromStdString(layout_.name(size_t(section)));
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (draggable_)
    f |= index.isValid() ? Qt::ItemIsDragEnabled : Qt::ItemIsDropEnabled;
  return f;
}

void TableModel::setTopAligned(bool on) {
  if (on == topAligned_)
    return;
  topAligned_ = on;
  if (rowCount() > 0)
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1),
                     {Qt::TextAlignmentRole});
}

void TableModel::applyWaiting() {
  applyTimer_.stop();
  if (!frozen_)
    index_->apply();
}

void TableModel::setFrozen(bool frozen) {
  bool changed = frozen != frozen_;
  frozen_ = frozen;
  applyWaiting();
  if (changed)
    emit frozenChanged(frozen_);
}

void TableModel::changesWaiting() {
  if (!frozen_)
    applyTimer_.start(index_->size() == 0 ? 0 : kApplyDelayMs);
}

void TableModel::rowsInserting(size_t first, size_t count) {
  beginInsertRows(QModelIndex(), int(first), int(first + count - 1));
}

void TableModel::rowsInserted() {
  endInsertRows();
  emit rowsUpdated();
}

void TableModel::rowsRemoving(size_t first, size_t count) {
  beginRemoveRows(QModelIndex(), int(first), int(first + count - 1));
}

void TableModel::rowsRemoved() {
  endRemoveRows();
  emit rowsUpdated();
}

void TableModel::rowMoving(size_t from, size_t to) {
  // Qt names the row the moved one goes before, counted before the move.
  int destination = int(to > from ? to + 1 : to);
  beginMoveRows(QModelIndex(), int(from), int(from), QModelIndex(), destination);
}

void TableModel::rowMoved() {
  endMoveRows();
  emit rowsUpdated();
}

void TableModel::rowsChanged(size_t first, size_t last) {
  emit dataChanged(index(int(first), 0), index(int(last), columnCount() - 1));
}

void TableModel::rowsReordering() {
  emit layoutAboutToBeChanged();
  kept_ = persistentIndexList();
  keptIds_.clear();
  for (const QModelIndex& i : kept_)
    keptIds_.push_back(index_->id(size_t(i.row())));
}

void TableModel::rowsReordered() {
  // One pass over the rows finds every kept object's new row.
  std::unordered_map<uint32_t, int> rowOf;
  for (uint32_t id : keptIds_)
    rowOf.emplace(id, -1);
  for (size_t row = 0; row < index_->size() && !rowOf.empty(); ++row)
    if (auto at = rowOf.find(index_->id(row)); at != rowOf.end())
      at->second = int(row);
  QModelIndexList now;
  for (size_t i = 0; i < size_t(kept_.size()); ++i) {
    int row = rowOf[keptIds_[i]];
    now.push_back(row < 0 ? QModelIndex() : index(row, kept_[int(i)].column()));
  }
  changePersistentIndexList(kept_, now);
  kept_.clear();
  keptIds_.clear();
  emit QAbstractItemModel::layoutChanged();
  emit rowsUpdated();
}

} // namespace kestel::gui

// Compiled here, after the core headers, rather than among the other moc files where Qt's
// keyword macros would already be defined when the map headers are read.
#include "moc_TableModel.cpp"
