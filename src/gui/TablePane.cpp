// The map's header first: it declares emit(), which Qt's keyword of that name would break.
#include "miw/TablePaneActions.h"

#include "gui/TablePane.h"

#include "gui/Art.h"
#include "gui/TablePaneRows.h"
#include "gui/TableWidget.h"
#include "miw/CopiedRows.h"
#include "miw/SafeFile.h"
#include "miw/TableExport.h"
#include "miw/TablePaneState.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace kestel::gui {
namespace {

Glyph glyphOf(PaneCommand c) {
  switch (c) {
  case PaneCommand::Add:
    return Glyph::Add;
  case PaneCommand::Remove:
    return Glyph::Remove;
  case PaneCommand::Enable:
    return Glyph::Enable;
  case PaneCommand::Disable:
    return Glyph::Disable;
  case PaneCommand::Comment:
    return Glyph::Comment;
  case PaneCommand::Filter:
    return Glyph::Filter;
  case PaneCommand::Copy:
    return Glyph::Copy;
  case PaneCommand::Paste:
    return Glyph::Paste;
  default:
    return Glyph::Freeze;
  }
}

// A table's or tree's header layout (order, widths, hidden columns, sort indicator) as a view.
class HeaderViewState final : public ITableViewState {
public:
  explicit HeaderViewState(QHeaderView* header) : header_(header) {}
  StringMap saveView() const override {
    StringMap view;
    QByteArray bytes = header_->saveState();
    view.set("header", std::string(bytes.constData(), size_t(bytes.size())));
    return view;
  }
  void loadView(const StringMap& view) override {
    if (auto bytes = view.get("header"))
      header_->restoreState(QByteArray(bytes->data(), qsizetype(bytes->size())));
  }

private:
  QHeaderView* header_;
};

} // namespace

class TablePane::MapListener final : public IMapListener {
public:
  explicit MapListener(TablePane* pane) : pane_(pane) {}
  void mapChanged(const MapEvent& event) override {
    if (pane_ && !event.more)
      pane_->refresh();
  }
  void detach() { pane_ = nullptr; }

private:
  TablePane* pane_;
};

TablePane::TablePane(Reference<ObjectMap> map, const CType* type, bool withCommands, bool bare,
                     QWidget* parent)
    : QWidget(parent), map_(std::move(map)), type_(type), withCommands_(withCommands), bare_(bare),
      viewKind_(map_->getType()) {
  setObjectName(kTablePaneName);
  if (viewKind_.empty()) // maps made in code may have no type text: their path names the kind
    for (uint32_t n : map_->path()) {
      if (n == kNoId)
        break;
      viewKind_ += (viewKind_.empty() ? "path " : ",") + std::to_string(n);
    }
  actions_ = std::make_unique<TablePaneActions>(map_, nullptr, [this] { refresh(); });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  if (withCommands_) {
    toolBar_ = new QToolBar(this);
    toolBar_->setIconSize(QSize(16, 16));
    layout->addWidget(toolBar_);
    buildToolBar();
  }
  stack_ = new QStackedWidget(this);
  mapStatus_ = new QLabel(stack_);
  mapStatus_->setAlignment(Qt::AlignCenter);
  mapStatus_->setWordWrap(true);
  stack_->addWidget(mapStatus_);
  layout->addWidget(stack_, 1);
  if (!bare_) {
    statusBar_ = new QStatusBar(this);
    statusBar_->setSizeGripEnabled(false);
    items_ = new QLabel(statusBar_);
    state_ = new QLabel(statusBar_);
    operation_ = new QLabel(statusBar_);
    statusBar_->addWidget(items_);
    statusBar_->addWidget(state_);
    statusBar_->addWidget(operation_, 1);
    layout->addWidget(statusBar_);
  }
  listener_ = makeRef<MapListener>(this);
  map_->addListener(listener_.get());
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &TablePane::readClipboard);
  readClipboard();
}

void TablePane::readClipboard() {
  const QMimeData* data = QApplication::clipboard()->mimeData();
  pasteReady_ = data && canPaste(*data);
  refresh();
}

TablePane::~TablePane() {
  listener_->detach();
  map_->removeListener(listener_.get());
}

void TablePane::buildToolBar() {
  for (const ToolbarButton& b : toolbarButtons()) {
    QAction* a = toolBar_->addAction(glyphIcon(glyphOf(b.command), palette()), b.label);
    a->setToolTip(b.label);
    a->setCheckable(b.toggle);
    PaneCommand c = b.command;
    connect(a, &QAction::triggered, this, [this, c] { run(c); });
    actionsByCommand_[c] = a;
  }
  // The Add button shows its label beside the icon.
  if (auto* add = qobject_cast<QToolButton*>(toolBar_->widgetForAction(action(PaneCommand::Add))))
    add->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  toolBar_->addSeparator();
  viewsButton_ = new QToolButton(toolBar_);
  viewsButton_->setText("Views");
  viewsButton_->setPopupMode(QToolButton::InstantPopup);
  viewsButton_->setMenu(new QMenu(viewsButton_));
  connect(viewsButton_->menu(), &QMenu::aboutToShow, this, [this] { rebuildViewsMenu(); });
  toolBar_->addWidget(viewsButton_);
}

ObjectMap& TablePane::map() const { return *map_; }

void TablePane::setView(QAbstractItemView* view, ITableViewState* state) {
  if (view_) {
    view_->removeEventFilter(this);
    stack_->removeWidget(view_);
    view_->deleteLater();
  }
  view_ = view;
  headerState_.reset();
  viewState_ = state;
  if (!viewState_) {
    if (auto* table = qobject_cast<QTableView*>(view))
      headerState_ = std::make_unique<HeaderViewState>(table->horizontalHeader());
    else if (auto* tree = qobject_cast<QTreeView*>(view))
      headerState_ = std::make_unique<HeaderViewState>(tree->header());
    viewState_ = headerState_.get();
  }
  stack_->insertWidget(0, view_);
  if (auto* table = qobject_cast<TableWidget*>(view_))
    table->setSessionInlineComments(inlineComments_);
  view_->installEventFilter(this);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QWidget::customContextMenuRequested, this, &TablePane::showContextMenu);
  connect(view_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    actions_->open(rowObjectId(*view_->model(), index.row()));
  });
  if (QItemSelectionModel* selection = view_->selectionModel())
    connect(selection, &QItemSelectionModel::selectionChanged, this, [this] {
      if (selectedCount() != 0)
        pendingSelection_ = kNoId; // the user chose
      refresh();
    });
  if (QAbstractItemModel* model = view_->model()) {
    auto changed = [this] {
      applyPendingSelection();
      refresh();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, changed);
    connect(model, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(model, &QAbstractItemModel::modelReset, this, changed);
    connect(model, &QAbstractItemModel::layoutChanged, this, changed);
  }
  applyPendingSelection();
  refresh();
}

void TablePane::addBar(QWidget* bar) {
  auto* column = static_cast<QVBoxLayout*>(layout());
  column->insertWidget(column->indexOf(stack_), bar);
}

void TablePane::setOpener(IObjectEditorOpener* opener) {
  actions_->setOpener(opener);
  refresh();
}

void TablePane::setAddVariants(std::vector<AddVariant> variants) {
  actions_->setAddVariants(std::move(variants));
  QAction* add = action(PaneCommand::Add);
  if (!add)
    return;
  // Several variants: the Add button opens a menu of them.
  if (QMenu* old = add->menu()) {
    add->setMenu(nullptr);
    old->deleteLater();
  }
  std::vector<std::string> labels = actions_->addVariantLabels();
  if (labels.size() > 1) {
    auto* menu = new QMenu(this);
    for (size_t i = 0; i < labels.size(); ++i)
      connect(menu->addAction(qs(labels[i])), &QAction::triggered, this,
              [this, i] { run(PaneCommand::Add, i); });
    add->setMenu(menu);
  }
  if (auto* b = qobject_cast<QToolButton*>(toolBar_->widgetForAction(add)))
    b->setPopupMode(labels.size() > 1 ? QToolButton::InstantPopup : QToolButton::DelayedPopup);
  refresh();
}

void TablePane::setExtraCommands(std::vector<ExtraCommand> commands) {
  extras_ = std::move(commands);
}

void TablePane::setFilterHook(std::function<void(bool)> hook, std::function<bool()> state) {
  filterHook_ = std::move(hook);
  filterState_ = std::move(state);
  refresh();
}

void TablePane::setFreezeHook(std::function<void(bool)> hook, std::function<bool()> state) {
  freezeHook_ = std::move(hook);
  freezeState_ = std::move(state);
  refresh();
}

void TablePane::addFindField(QWidget* field) {
  if (!toolBar_) {
    addBar(field);
    return;
  }
  auto* spacer = new QWidget(toolBar_);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  toolBar_->addWidget(spacer);
  field->setMaximumWidth(200);
  toolBar_->addWidget(field);
}

void TablePane::setInlineComments(bool on) {
  inlineComments_ = on;
  if (auto* table = qobject_cast<TableWidget*>(view_))
    table->setSessionInlineComments(on);
}

void TablePane::setViewKind(std::string kind) {
  viewKind_ = std::move(kind);
  readClipboard();
}

size_t TablePane::selectedCount() const {
  if (!view_ || !view_->selectionModel())
    return 0;
  // Distinct top-level rows of the selection's ranges, without listing every index.
  std::vector<std::pair<int, int>> spans;
  for (const QItemSelectionRange& r : view_->selectionModel()->selection())
    if (!r.parent().isValid())
      spans.push_back({r.top(), r.bottom()});
  std::sort(spans.begin(), spans.end());
  size_t count = 0;
  int covered = -1;
  for (auto [top, bottom] : spans) {
    top = std::max(top, covered + 1);
    if (bottom >= top)
      count += size_t(bottom - top + 1);
    covered = std::max(covered, bottom);
  }
  return count;
}

PaneFacts TablePane::facts() const {
  PaneFacts f;
  f.withCommands = withCommands_;
  readMapCommands(map_->commands(), f);
  readTypeMembers(type_, f);
  f.canPaste = f.canAdd;
  f.pasteReady = pasteReady_;
  f.canAdd = f.canAdd && actions_->opener();
  f.hasComment = f.hasComment && actions_->opener();
  f.addVariants = actions_->addVariantCount();
  f.canFilter = bool(filterHook_);
  f.canFreeze = bool(freezeHook_);
  f.rows = view_ && view_->model() ? size_t(view_->model()->rowCount()) : 0;
  f.selected = selectedCount();
  f.filterShown = filterState_ ? filterState_() : filterShown_;
  f.frozen = freezeState_ ? freezeState_() : frozen_;
  return f;
}

std::vector<uint32_t> TablePane::selectedIds() const {
  std::vector<uint32_t> ids;
  if (!view_)
    return ids;
  for (int row : selectedRowNumbers(*view_))
    if (uint32_t id = rowObjectId(*view_->model(), row); id != kNoId)
      ids.push_back(id);
  return ids;
}

void TablePane::selectObject(uint32_t id) {
  pendingSelection_ = id;
  applyPendingSelection();
}

void TablePane::applyPendingSelection() {
  if (pendingSelection_ == kNoId || !view_ || !view_->model() || !view_->selectionModel())
    return;
  QAbstractItemModel* model = view_->model();
  for (int row = 0, n = model->rowCount(); row < n; ++row)
    if (rowObjectId(*model, row) == pendingSelection_) {
      pendingSelection_ = kNoId;
      QModelIndex index = model->index(row, 0);
      view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                          QItemSelectionModel::Rows);
      view_->scrollTo(index);
      return;
    }
}

QAction* TablePane::action(PaneCommand command) const {
  auto it = actionsByCommand_.find(command);
  return it == actionsByCommand_.end() ? nullptr : it->second;
}

void TablePane::refresh() {
  PaneFacts f = facts();
  for (auto& [command, a] : actionsByCommand_) {
    a->setVisible(commandOffered(command, f));
    a->setEnabled(commandEnabled(command, f));
    a->setChecked(commandChecked(command, f));
  }
  QString status = qs(map_->statusText());
  mapStatus_->setText(status);
  stack_->setCurrentIndex(status.isEmpty() && view_ ? stack_->indexOf(view_)
                                                    : stack_->indexOf(mapStatus_));
  if (statusBar_) {
    PaneStatusFacts s;
    s.shown = f.rows;
    s.total = map_->size();
    s.selected = f.selected;
    s.fetch = map_->fetchState();
    s.frozen = f.frozen;
    s.operation = actions_->statusText();
    PaneStatusTexts t = paneStatusTexts(s);
    items_->setText(qs(t.items));
    state_->setText(qs(t.state));
    operation_->setText(qs(t.operation));
  }
  Q_EMIT commandsChanged();
}

void TablePane::run(PaneCommand command, size_t variant) {
  if (!commandEnabled(command, facts()))
    return;
  switch (command) {
  case PaneCommand::Add:
    actions_->add(variant);
    break;
  case PaneCommand::Remove:
    actions_->remove(selectedIds());
    break;
  case PaneCommand::Enable:
  case PaneCommand::Disable:
    actions_->setDisabled(selectedIds(), command == PaneCommand::Disable);
    break;
  case PaneCommand::Comment:
    actions_->comment(selectedIds());
    break;
  case PaneCommand::Filter:
    filterShown_ = !facts().filterShown;
    filterHook_(filterShown_);
    break;
  case PaneCommand::Copy:
    copyToClipboard(*this);
    break;
  case PaneCommand::Paste:
    pasteFromClipboard(*this);
    break;
  case PaneCommand::Freeze:
    frozen_ = !facts().frozen;
    freezeHook_(frozen_);
    break;
  case PaneCommand::Refresh:
    actions_->refresh();
    break;
  case PaneCommand::SelectAll:
    view_->selectAll();
    break;
  case PaneCommand::Export:
    askExportPath();
    break;
  default:
    break;
  }
  refresh();
}

bool TablePane::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    PaneKey k{key->key(), (key->modifiers() & Qt::ControlModifier) != 0,
              (key->modifiers() & Qt::KeypadModifier) != 0};
    PaneCommand c = commandForKey(k, facts());
    if (c != PaneCommand::None) {
      run(c);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

QMenu* TablePane::contextMenu() {
  std::vector<std::string> extraLabels;
  for (const ExtraCommand& e : extras_)
    extraLabels.push_back(e.label);
  auto* menu = new QMenu(this);
  for (const MenuEntry& e :
       kestel::contextMenu(facts(), actions_->addVariantLabels(), extraLabels)) {
    if (e.command == PaneCommand::Export || e.extra == 0)
      menu->addSeparator();
    if (!e.submenu.empty()) {
      QMenu* sub = menu->addMenu(qs(e.text.substr(0, e.text.find('\t'))));
      for (size_t i = 0; i < e.submenu.size(); ++i)
        connect(sub->addAction(qs(e.submenu[i])), &QAction::triggered, this,
                [this, i] { run(PaneCommand::Add, i); });
      continue;
    }
    QAction* a = menu->addAction(qs(e.text));
    a->setEnabled(e.enabled);
    if (e.extra != kNoId) {
      size_t i = e.extra;
      connect(a, &QAction::triggered, this, [this, i] {
        if (i < extras_.size() && extras_[i].run)
          extras_[i].run();
      });
    } else {
      PaneCommand c = e.command;
      connect(a, &QAction::triggered, this, [this, c] { run(c); });
    }
  }
  return menu;
}

void TablePane::showContextMenu(const QPoint& at) {
  QMenu* menu = contextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(view_->viewport()->mapToGlobal(at));
}

QString TablePane::statusText() const {
  QStringList parts;
  for (QLabel* l : {items_, state_, operation_})
    if (l && !l->text().isEmpty())
      parts << l->text();
  return parts.join(" | ");
}

QString TablePane::mapStatusShown() const {
  return stack_->currentWidget() == mapStatus_ ? mapStatus_->text() : QString();
}

void TablePane::askExportPath() {
  auto* dialog =
      new QFileDialog(this, "Export", QString(), "CSV files (*.csv);;JSON files (*.json)");
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QFileDialog::fileSelected, this, [this, dialog](const QString& path) {
    bool json = path.endsWith(".json", Qt::CaseInsensitive) ||
                (!path.endsWith(".csv", Qt::CaseInsensitive) &&
                 dialog->selectedNameFilter().startsWith("JSON"));
    exportTo(path, json ? ExportFormat::Json : ExportFormat::Csv);
  });
  dialog->open();
}

bool TablePane::exportTo(const QString& path, ExportFormat format) {
  TableRows rows = view_ ? visibleRows(*view_) : TableRows{};
  std::string text = format == ExportFormat::Csv ? formatCsv(rows) : formatJson(rows);
  auto saved = saveFileAtomically(ss(path), asBytes(text), ".kestel-export-");
  if (!saved.ok()) {
    showMessageBox(this, "Export", "Couldn't export the table: " + saved.error().text, nullptr);
    return false;
  }
  return true;
}

void TablePane::fillData(QMimeData& data) {
  std::string text = view_ ? formatTabSeparated(selectedRows(*view_)) : std::string();
  data.setText(qs(text));
  std::vector<Reference<IObject>> kept;
  std::vector<IObject*> objects;
  for (uint32_t id : selectedIds())
    if (IObject* o = map_->find(id)) {
      kept.emplace_back(o);
      objects.push_back(o);
    }
  std::vector<uint8_t> rows = writeCopiedRows(viewKind_, objects);
  if (!rows.empty())
    data.setData(kCopiedRowsFormat,
                 QByteArray(reinterpret_cast<const char*>(rows.data()), qsizetype(rows.size())));
}

namespace {

Expected<CopiedRows> rowsOf(const QMimeData& data) {
  QByteArray bytes = data.data(kCopiedRowsFormat);
  return readCopiedRows(std::span<const uint8_t>(
      reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())));
}

} // namespace

bool TablePane::canPaste(const QMimeData& data) {
  if (!data.hasFormat(kCopiedRowsFormat) || !isLocalCopy(data))
    return false;
  Expected<CopiedRows> rows = rowsOf(data);
  return rows && rows->kind == viewKind_ && !rows->objects.empty();
}

void TablePane::paste(const QMimeData& data, bool localCopy) {
  Expected<CopiedRows> rows = rowsOf(data);
  if (!localCopy || !rows || rows->kind != viewKind_)
    return;
  actions_->paste(rows->objects);
}

NamedViews TablePane::namedViews() const { return NamedViews(settingsRegistry(), viewKind_); }

Expected<void> TablePane::saveNamedView(const std::string& name) {
  if (!viewState_)
    return makeError("This table has no layout to keep");
  return namedViews().save(name, viewState_->saveView());
}

bool TablePane::recallNamedView(const std::string& name) {
  auto view = namedViews().recall(name);
  if (!view || !viewState_)
    return false;
  viewState_->loadView(*view);
  return true;
}

void TablePane::rebuildViewsMenu() {
  QMenu* menu = viewsButton_->menu();
  menu->clear();
  QAction* save = menu->addAction("Save View...");
  save->setEnabled(viewState_ != nullptr);
  connect(save, &QAction::triggered, this, [this] {
    auto* ask = new QInputDialog(this);
    ask->setWindowTitle("Save View");
    ask->setLabelText("Name:");
    ask->setAttribute(Qt::WA_DeleteOnClose);
    connect(ask, &QInputDialog::textValueSelected, this, [this](const QString& name) {
      auto saved = saveNamedView(ss(name.trimmed()));
      if (!saved.ok())
        showMessageBox(this, "Save View", saved.error().text, nullptr);
    });
    ask->open();
  });
  std::vector<std::string> names = namedViews().names();
  if (names.empty())
    return;
  menu->addSeparator();
  for (const std::string& name : names)
    connect(menu->addAction(qs(name)), &QAction::triggered, this,
            [this, name] { recallNamedView(name); });
  QMenu* remove = menu->addMenu("Remove View");
  for (const std::string& name : names)
    connect(remove->addAction(qs(name)), &QAction::triggered, this,
            [this, name] { namedViews().remove(name); });
}

void TablePane::saveState(StringMap& settings) const {
  uint32_t id = kNoId;
  if (view_ && view_->selectionModel()) {
    QModelIndex current = view_->selectionModel()->currentIndex();
    if (current.isValid() &&
        view_->selectionModel()->isRowSelected(current.row(), current.parent()))
      id = rowObjectId(*view_->model(), current.row());
    else if (std::vector<uint32_t> ids = selectedIds(); !ids.empty())
      id = ids.front();
  }
  saveSelection(id, settings);
}

void TablePane::loadState(const StringMap& settings) {
  uint32_t id = loadSelection(settings);
  if (id != kNoId)
    selectObject(id);
}

} // namespace kestel::gui
