#include "gui/ChangesWindow.h"

#include "app/ChangeScript.h"
#include "miw/SafeFile.h"

#include "gui/Toolkit.h"

#include <QFileDevice>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kestel::gui {
namespace {

constexpr int kNumberRole = Qt::UserRole + 1;
constexpr int kColumns = 5;

} // namespace

ChangesWindow::ChangesWindow(ChangeLog& log, UndoRedo& history, QWidget* parent,
                             ChangeTimeText time)
    : QWidget(parent), log_(log), history_(history), time_(std::move(time)) {
  setObjectName(kChangesWindowName);
  setWindowTitle(tr("Changes"));
  list_ = new QTreeWidget(this);
  list_->setColumnCount(kColumns);
  QStringList titles;
  for (const char* title : kChangeColumnTitles)
    titles << tr(title);
  list_->setHeaderLabels(titles);
  list_->setRootIsDecorated(true);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(int(ChangeColumn::Fields), QHeaderView::Stretch);

  undo_ = new QPushButton(tr("Undo"), this);
  redo_ = new QPushButton(tr("Redo"), this);
  revert_ = new QPushButton(tr("Revert this change"), this);
  export_ = new QPushButton(tr("Export as script..."), this);
  undo_->setToolTip(tr("Ask the router to undo its last change"));
  redo_->setToolTip(tr("Ask the router to make its last undone change again"));
  revert_->setToolTip(tr("Set the selected change's old values back, as a new change"));
  export_->setToolTip(tr("Save the kestel-cli commands that make these changes on another router"));
  problem_ = new QLabel(this);
  problem_->setWordWrap(true);
  problem_->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(undo_);
  buttons->addWidget(redo_);
  buttons->addSpacing(12);
  buttons->addWidget(revert_);
  buttons->addStretch(1);
  buttons->addWidget(export_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(list_, 1);
  layout->addWidget(problem_);

  connect(undo_, &QPushButton::clicked, this, [this] {
    history_.undo();
    updateButtons();
  });
  connect(redo_, &QPushButton::clicked, this, [this] {
    history_.redo();
    updateButtons();
  });
  connect(revert_, &QPushButton::clicked, this, [this] { revertSelected(); });
  connect(export_, &QPushButton::clicked, this, [this] { askExportPath(); });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { updateButtons(); });
  listening_ = log_.addListener([this](const ChangeRecord&) { refresh(); });
  history_.setAnswered([this] { updateButtons(); });
  refresh();
  resize(760, 360);
}

ChangesWindow::~ChangesWindow() { history_.setAnswered(nullptr); }

void ChangesWindow::refresh() {
  size_t selected = selectedChange();
  list_->clear();
  QTreeWidgetItem* group = nullptr;
  QTreeWidgetItem* current = nullptr;
  for (const ChangeRow& row : changeRows(log_, time_)) {
    QStringList texts;
    for (const std::string& text : row.texts)
      texts << qs(text);
    QTreeWidgetItem* item = nullptr;
    if (row.header) {
      item = group = new QTreeWidgetItem(list_, texts);
      QFont bold = item->font(0);
      bold.setBold(true);
      for (int c = 0; c < kColumns; ++c)
        item->setFont(c, bold);
      item->setFlags(Qt::ItemIsEnabled);
    } else {
      item = row.inGroup && group ? new QTreeWidgetItem(group, texts)
                                  : new QTreeWidgetItem(list_, texts);
      item->setData(0, kNumberRole, qulonglong(row.number));
      if (row.number == selected)
        current = item;
    }
  }
  list_->expandAll();
  for (int c = 0; c < kColumns; ++c)
    if (c != int(ChangeColumn::Fields))
      list_->resizeColumnToContents(c);
  if (current) {
    list_->setCurrentItem(current);
    current->setSelected(true);
  }
  updateButtons();
}

void ChangesWindow::updateButtons() {
  ChangeCommands can = changeCommands(log_, selectedChange(), history_.waiting() > 0);
  undo_->setEnabled(can.undo);
  redo_->setEnabled(can.redo);
  revert_->setEnabled(can.revert);
  export_->setEnabled(can.exportScript);
}

size_t ChangesWindow::selectedChange() const {
  const QList<QTreeWidgetItem*> items = list_->selectedItems();
  return items.isEmpty() ? 0 : size_t(items.front()->data(0, kNumberRole).toULongLong());
}

void ChangesWindow::selectChange(size_t number) {
  for (QTreeWidgetItemIterator it(list_); *it; ++it)
    if (size_t((*it)->data(0, kNumberRole).toULongLong()) == number && number != 0) {
      list_->setCurrentItem(*it);
      (*it)->setSelected(true);
      return;
    }
  list_->clearSelection();
}

void ChangesWindow::revertSelected() {
  size_t number = selectedChange();
  if (number == 0)
    return;
  Expected<size_t> made = log_.revert(number);
  tell(made.ok() ? std::string()
                 : "Couldn't revert change #" + std::to_string(number) + ": " + made.error().text);
}

void ChangesWindow::askExportPath() {
  auto* dialog =
      new QFileDialog(this, tr("Export as Script"), "changes.sh", tr("Shell scripts (*.sh)"));
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setDefaultSuffix("sh");
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QFileDialog::fileSelected, this,
          [this](const QString& path) { exportTo(path); });
  dialog->open();
}

bool ChangesWindow::exportTo(const QString& path) {
  std::string script = changeScript(log_);
  auto saved = saveFileAtomically(ss(path), asBytes(script), ".kestel-script-");
  if (!saved.ok()) {
    tell("Couldn't export the changes: " + saved.error().text);
    return false;
  }
  // A script: the owner may run it.
  QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
  tell({});
  return true;
}

QString ChangesWindow::problem() const {
  return problem_->isVisible() ? problem_->text() : QString();
}

void ChangesWindow::tell(const std::string& text) {
  problem_->setText(qs(text));
  problem_->setVisible(!text.empty());
}

} // namespace kestel::gui
