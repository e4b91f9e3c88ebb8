#include "gui/LauncherSearchBox.h"

#include "gui/Toolkit.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace kestel::gui {
namespace {

const char* kindText(SearchHit::Kind kind) {
  switch (kind) {
  case SearchHit::Kind::Launcher:
    return "Menu";
  case SearchHit::Kind::Field:
    return "Field";
  case SearchHit::Kind::Value:
    return "Value";
  }
  return "";
}

} // namespace

LauncherSearchBox::LauncherSearchBox(std::unique_ptr<LauncherSearch> search, Activated activated,
                                     QWidget* parent)
    : QWidget(parent), search_(std::move(search)), activated_(std::move(activated)) {
  edit_ = new QLineEdit(this);
  edit_->setPlaceholderText(tr("Search menus, fields and values"));
  edit_->setClearButtonEnabled(true);
  edit_->installEventFilter(this);
  results_ = new QListWidget(this);
  results_->setUniformItemSizes(true);
  results_->setFocusPolicy(Qt::NoFocus); // the keys stay in the line edit
  results_->hide();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(edit_);
  layout->addWidget(results_, 1);
  connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) { find(text); });
  connect(results_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { activate(results_->row(item)); });
}

LauncherSearchBox::~LauncherSearchBox() = default;

void LauncherSearchBox::tablesChanged() {
  search_->tablesChanged();
  if (!edit_->text().isEmpty())
    find(edit_->text());
}

void LauncherSearchBox::find(const QString& text) {
  hits_ = search_->search(ss(text));
  results_->clear();
  for (const SearchHit& hit : hits_) {
    auto* item = new QListWidgetItem(qs(hit.label), results_);
    // The full line (a narrow launcher clips it) and what kind of hit it is.
    item->setToolTip(qs(hit.label) + " (" + tr(kindText(hit.kind)) + ")");
  }
  results_->setVisible(!hits_.empty());
  if (!hits_.empty())
    results_->setCurrentRow(0);
}

void LauncherSearchBox::activate(int row) {
  if (row < 0 || size_t(row) >= hits_.size())
    return;
  SearchHit hit = hits_[size_t(row)]; // the callback may clear the box
  if (activated_)
    activated_(hit);
}

bool LauncherSearchBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_ || event->type() != QEvent::KeyPress)
    return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  int count = results_->count(), row = results_->currentRow();
  switch (key->key()) {
  case Qt::Key_Down:
    if (count > 0)
      results_->setCurrentRow(std::min(row + 1, count - 1));
    return true;
  case Qt::Key_Up:
    if (count > 0)
      results_->setCurrentRow(std::max(row - 1, 0));
    return true;
  case Qt::Key_PageDown:
  case Qt::Key_PageUp: {
    QCoreApplication::sendEvent(results_, event);
    return true;
  }
  case Qt::Key_Return:
  case Qt::Key_Enter:
    activate(row);
    return true;
  case Qt::Key_Escape:
    if (edit_->text().isEmpty())
      return false;
    edit_->clear();
    return true;
  default:
    return QWidget::eventFilter(watched, event);
  }
}

} // namespace kestel::gui
