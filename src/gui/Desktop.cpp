#include "gui/Desktop.h"

#include "gui/Toolkit.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>

#include <algorithm>

namespace kestel::gui {

ManagedWindow::ManagedWindow(Desktop& desktop, QWidget* content, const QString& title)
    : QMdiSubWindow(nullptr), desktop_(&desktop) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(kPaneName);
  setWidget(content);
  setWindowTitle(title);
  if (!content->windowIcon().isNull())
    setWindowIcon(content->windowIcon());
}

ManagedWindow::~ManagedWindow() { gone(); }

void ManagedWindow::gone() {
  if (reported_)
    return;
  reported_ = true;
  if (desktop_)
    desktop_->windowGone(this);
}

Rect ManagedWindow::bounds() const {
  QRect r = isMaximized() && normal_.isValid() ? normal_ : geometry();
  return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void ManagedWindow::setBounds(const Rect& b) {
  setGeometry(b.left, b.top, b.width(), b.height());
  normal_ = geometry();
}

Size ManagedWindow::preferredSize() const {
  QSize s = sizeHint().expandedTo(minimumSizeHint());
  return {s.width(), s.height()};
}

Size ManagedWindow::smallestSize() const {
  QSize s = minimumSizeHint().expandedTo(minimumSize());
  return {s.width(), s.height()};
}

void ManagedWindow::setMaximised(bool on) {
  if (on)
    showMaximized();
  else
    showNormal();
}

std::string ManagedWindow::title() const { return ss(windowTitle()); }

void ManagedWindow::showAndFocus() {
  if (!isMaximized())
    show();
  raise();
  update();
  if (mdiArea())
    mdiArea()->setActiveSubWindow(this);
  if (widget())
    widget()->setFocus();
}

IPersistent* ManagedWindow::persistent() const {
  return widget() ? getPersistent(widget()) : nullptr;
}

void ManagedWindow::destroy() { close(); }

void ManagedWindow::closeEvent(QCloseEvent* event) {
  QMdiSubWindow::closeEvent(event);
  if (event->isAccepted())
    gone();
}

void ManagedWindow::moveEvent(QMoveEvent* event) {
  QMdiSubWindow::moveEvent(event);
  if (!isMaximized() && !isMinimized())
    normal_ = geometry();
}

void ManagedWindow::resizeEvent(QResizeEvent* event) {
  QMdiSubWindow::resizeEvent(event);
  if (!isMaximized() && !isMinimized())
    normal_ = geometry();
}

Desktop::Desktop(QWidget* parent, QMenu* windowsMenu, std::function<QIcon(unsigned)> icons,
                 SettingsRegistry& settings)
    : QMdiArea(parent), windowsMenu_(windowsMenu), icons_(std::move(icons)), settings_(settings),
      manager_(settings, *this) {
  setObjectName(kPaneName);
  setBackground(palette().brush(QPalette::Dark));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

Desktop::~Desktop() {
  // The desktop goes with the session window: windows closing now keep their placements, and
  // frames deleted with it no longer report to it.
  manager_.shutdown();
  for (ManagedWindow* w : findChildren<ManagedWindow*>())
    w->detach();
}

ManagedWindow* Desktop::makeWindow(QWidget* content, const QString& title) {
  return new ManagedWindow(*this, content, title);
}

void Desktop::windowGone(ManagedWindow* window) { manager_.windowDestroyed(window); }

Rect Desktop::clientRect() const {
  // The area without scroll bars: windows that fit into it need none.
  const QSize s = maximumViewportSize();
  return {0, 0, s.width(), s.height()};
}

void Desktop::changeEvent(QEvent* event) {
  QMdiArea::changeEvent(event);
  if (event->type() == QEvent::PaletteChange)
    setBackground(palette().brush(QPalette::Dark));
}

void Desktop::resizeEvent(QResizeEvent* event) {
  QMdiArea::resizeEvent(event);
  manager_.fitWindows();
}

int Desktop::captionHeight() const {
  return style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
}

void Desktop::addWindow(IManagedWindow& window) {
  auto* frame = static_cast<ManagedWindow*>(&window);
  if (frame->mdiArea() != this)
    addSubWindow(frame);
  frame->hide();
}

std::vector<IManagedWindow*> Desktop::windowsTopFirst() const {
  std::vector<IManagedWindow*> out;
  const QList<QMdiSubWindow*> bottomUp = subWindowList(QMdiArea::StackingOrder);
  for (auto it = bottomUp.rbegin(); it != bottomUp.rend(); ++it)
    if (auto* w = qobject_cast<ManagedWindow*>(*it))
      out.push_back(w);
  return out;
}

void Desktop::setDesktopVisible(bool visible) { viewport()->setUpdatesEnabled(visible); }

void Desktop::windowActivated(IManagedWindow& window) {
  setActiveSubWindow(static_cast<ManagedWindow*>(&window));
}

uint32_t Desktop::addLauncherEntry(IManagedWindow& window, unsigned groupIcon) {
  if (!windowsMenu_)
    return 0;
  // The group's icon, unless the group is a menu of a menu bar: a bar shows an icon instead of
  // the title, and "Windows" must stay readable there.
  const QList<QObject*> holders = windowsMenu_->menuAction()->associatedObjects();
  const bool inBar = std::any_of(holders.begin(), holders.end(),
                                 [](QObject* o) { return qobject_cast<QMenuBar*>(o) != nullptr; });
  if (!inBar && windowsMenu_->icon().isNull() && icons_)
    windowsMenu_->setIcon(icons_(groupIcon));
  auto* frame = static_cast<ManagedWindow*>(&window);
  QAction* action = windowsMenu_->addAction(frame->windowIcon(), frame->windowTitle());
  QPointer<ManagedWindow> target(frame);
  connect(action, &QAction::triggered, this, [this, target] {
    if (target)
      manager_.raise(*target);
  });
  entries_[++nextEntry_] = action;
  return nextEntry_;
}

void Desktop::removeLauncherEntry(uint32_t entry) {
  auto it = entries_.find(entry);
  if (it == entries_.end())
    return;
  if (windowsMenu_ && it->second)
    windowsMenu_->removeAction(it->second);
  if (it->second)
    it->second->deleteLater();
  entries_.erase(it);
}

void Desktop::refreshLauncher() {
  if (windowsMenu_)
    windowsMenu_->update();
}

} // namespace kestel::gui
