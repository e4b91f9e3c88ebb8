// The dashboard window: the session dashboard's applets in a grid of kDashboardColumns
// columns, each a framed box with its name, its value as text and, for rates, a graph; the
// applet's context menu has "Remove". The window only shows the dashboard: the applets, their
// feeds and their records in the session file belong to the Dashboard, which the session's
// desktop owns (dashboardOf), so closing the window loses nothing and a table pane or an editor
// can add a monitor while it is closed.
#pragma once

// No map header here: this header meets Qt's headers in the moc files, and the maps declare
// emit(), which Qt's keyword of that name breaks.
#include "gui/WindowContext.h"
#include "util/Base.h"
#include "util/Expected.h"

#include <QFrame>
#include <QWidget>

class QGridLayout;
class QLabel;

namespace kestel {
class CType;
class Dashboard;
class MonitorFeed;
class ObjectMap;
class Slot;
} // namespace kestel

namespace kestel::gui {

class Desktop;
class GraphWidget;

inline constexpr const char* kDashboardWindowName = "nimbalux_dashboard";
inline constexpr const char* kDashboardTitle = "Dashboard";

// Two columns of applets; a graph is four text lines high.
inline constexpr int kDashboardColumns = 2;
inline constexpr int kGraphLines = 4;

// One applet on screen.
class MonitorApplet final : public QFrame {
  Q_OBJECT
public:
  MonitorApplet(Dashboard& dashboard, size_t index, QWidget* parent = nullptr);
  ~MonitorApplet() override;
  QString valueText() const;
  GraphWidget* graph() const { return graph_; }
  // After the graphs took their samples.
  void sampled();

protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  void showValue();
  Dashboard& dashboard_;
  size_t index_;
  MonitorFeed* feed_;
  QLabel* value_;
  GraphWidget* graph_ = nullptr;
};

class DashboardWindow final : public QWidget {
  Q_OBJECT
public:
  explicit DashboardWindow(Dashboard& dashboard, QWidget* parent = nullptr);
  ~DashboardWindow() override;
  Dashboard& dashboard() { return dashboard_; }
  QList<MonitorApplet*> applets() const;

private:
  void rebuild();
  Dashboard& dashboard_;
  QWidget* grid_;
  QGridLayout* layout_;
  QLabel* empty_;
};

// The session's dashboard: made on first use (with the applets the settings registry lists
// restored) and destroyed with the desktop.
Dashboard& dashboardOf(Desktop& desktop);

// The dashboard window's content (titled kDashboardTitle), not yet in a frame: the caller puts it
// into one (Desktop::makeWindow) and opens it. It shows the desktop's dashboard; without a
// desktop, a dashboard of its own that lives as long as the window.
QWidget* createDashboardWindow(const WindowContext& context);

// Adds a monitor of `slot` of the object `id` of `map` (whose menu is `type`) to the dashboard of
// the context's desktop: what a table row's or an editor's "Monitor" command calls. Fails
// without a desktop, or as Dashboard::addMonitor does.
Expected<size_t> addMonitor(const WindowContext& context, Reference<ObjectMap> map,
                            const CType& type, uint32_t id, const Slot& slot);

} // namespace kestel::gui
