// The map's header first: it declares emit(), which Qt's keyword of that name would break.
#include "miw/TablePaneState.h"

#include "gui/TableWindow.h"

#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kestel::gui {

TableWindow::TableWindow(const std::string& title, SettingsRegistry& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
  setObjectName(kTableWindowName);
  setWindowTitle(qs(title));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  tabs_ = new QTabWidget(this);
  tabs_->setDocumentMode(true);
  tabs_->tabBar()->hide();
  layout->addWidget(tabs_);
}

void TableWindow::addPane(TablePane* pane, const std::string& title) {
  pane->setInlineComments(inlineComments_);
  tabs_->addTab(pane, qs(title));
  records_.push_back(kNoSettingsId);
  tabs_->tabBar()->setVisible(tabs_->count() > 1);
}

void TableWindow::setInlineComments(bool on) {
  inlineComments_ = on;
  for (int i = 0; i < paneCount(); ++i)
    pane(i)->setInlineComments(on);
}

int TableWindow::paneCount() const { return tabs_->count(); }

TablePane* TableWindow::pane(int index) const {
  return qobject_cast<TablePane*>(tabs_->widget(index));
}

TablePane* TableWindow::activePane() const { return pane(tabs_->currentIndex()); }

void TableWindow::setActivePane(int index) { tabs_->setCurrentIndex(index); }

void TableWindow::saveState(StringMap& settings, uint32_t flags) {
  TableWindowState state;
  for (int i = 0; i < paneCount(); ++i) {
    uint32_t& id = records_[size_t(i)];
    StringMap* record = settings_.getSettings(id, &id, flags);
    if (!record)
      continue;
    pane(i)->saveState(*record);
    state.panes.push_back(id);
    if (i == tabs_->currentIndex())
      state.active = id;
  }
  saveWindowState(state, settings);
}

void TableWindow::loadState(const StringMap& settings) {
  TableWindowState state = loadWindowState(settings);
  for (size_t i = 0; i < state.panes.size() && int(i) < paneCount(); ++i) {
    const StringMap* record =
        settings_.getSettings(state.panes[i], nullptr, settings_.flagsOf(state.panes[i]));
    if (!record)
      continue;
    records_[i] = state.panes[i];
    pane(int(i))->loadState(*record);
    if (state.panes[i] == state.active)
      setActivePane(int(i));
  }
}

} // namespace kestel::gui
