// The session window's desktop: a QMdiArea whose child windows the window manager
// (miw/WindowManager.h) owns and places, and the launcher's "Windows" menu listing them. Content
// widgets are wrapped in ManagedWindow frames; a frame reports itself to the manager when it is
// closed or destroyed, so the manager can remember its kind's placement.
#pragma once

#include "miw/WindowManager.h"

#include <QAction>
#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

#include <functional>
#include <map>

class QAction;
class QMenu;

namespace kestel::gui {

class Desktop;

class ManagedWindow final : public QMdiSubWindow, public IManagedWindow {
  Q_OBJECT
public:
  ManagedWindow(Desktop& desktop, QWidget* content, const QString& title);
  ~ManagedWindow() override;

  Rect bounds() const override;
  void setBounds(const Rect& bounds) override;
  Size preferredSize() const override;
  Size smallestSize() const override;
  bool isMaximised() const override { return isMaximized(); }
  void setMaximised(bool on) override;
  std::string title() const override;
  void showAndFocus() override;
  IPersistent* persistent() const override;
  void destroy() override;
  // The desktop is going: the frame reports nothing from now on.
  void detach() { desktop_ = nullptr; }

protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void gone();
  Desktop* desktop_; // cleared by the desktop's destructor
  QRect normal_;     // the bounds outside the maximised state
  bool reported_ = false;
};

class Desktop final : public QMdiArea, public IDesktop {
  Q_OBJECT
public:
  // `windowsMenu` is the launcher's "Windows" group (may be null); `icons` gives icons by number.
  Desktop(QWidget* parent, QMenu* windowsMenu, std::function<QIcon(unsigned)> icons,
          SettingsRegistry& settings = settingsRegistry());
  ~Desktop() override;

  WindowManager& manager() { return manager_; }
  // Where the desktop's windows keep their records: the session's registry.
  SettingsRegistry& settings() const { return settings_; }
  // A frame around `content` (which it takes), not yet opened.
  ManagedWindow* makeWindow(QWidget* content, const QString& title);
  void windowGone(ManagedWindow* window);

  Rect clientRect() const override;
  int captionHeight() const override;
  void addWindow(IManagedWindow& window) override;
  std::vector<IManagedWindow*> windowsTopFirst() const override;
  void setDesktopVisible(bool visible) override;
  void windowActivated(IManagedWindow& window) override;
  uint32_t addLauncherEntry(IManagedWindow& window, unsigned groupIcon) override;
  void removeLauncherEntry(uint32_t entry) override;
  void refreshLauncher() override;

protected:
  // A desktop that shrinks (the main window's bars settling, the user resizing it) moves its
  // windows back inside.
  void resizeEvent(QResizeEvent* event) override;
  // The desktop's background follows the palette (light or dark).
  void changeEvent(QEvent* event) override;

private:
  QPointer<QMenu> windowsMenu_;
  std::function<QIcon(unsigned)> icons_;
  std::map<uint32_t, QPointer<QAction>> entries_; // the menu owns the actions
  uint32_t nextEntry_ = 0;
  SettingsRegistry& settings_;
  WindowManager manager_;
};

} // namespace kestel::gui
