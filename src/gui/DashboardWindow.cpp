// The map headers come before Qt's: they declare emit(), which Qt's keyword would break.
#include "app/Dashboard.h"

#include "gui/DashboardWindow.h"

#include "gui/Desktop.h"
#include "gui/GraphWidget.h"
#include "gui/Toolkit.h"

#include <QContextMenuEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QVBoxLayout>

namespace kestel::gui {
namespace {

// Keeps a dashboard as long as its QObject parent lives.
class DashboardHolder final : public QObject {
public:
  DashboardHolder(QObject* parent, SettingsRegistry& settings)
      : QObject(parent), dashboard(settings) {
    setObjectName("kestel_dashboard");
  }
  Dashboard dashboard;
};

} // namespace

MonitorApplet::MonitorApplet(Dashboard& dashboard, size_t index, QWidget* parent)
    : QFrame(parent), dashboard_(dashboard), index_(index),
      feed_(dashboard.applets()[index].feed.get()) {
  setFrameShape(QFrame::StyledPanel);
  const Dashboard::Applet& applet = dashboard.applets()[index];
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 8);
  layout->setSpacing(4);
  auto* name = new QLabel(qs(applet.name), this);
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  value_ = new QLabel(this);
  value_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* top = new QHBoxLayout;
  top->addWidget(name);
  top->addStretch(1);
  layout->addLayout(top);
  if (feed_ && feed_->graph()) {
    top->addWidget(value_);
    graph_ = new GraphWidget(
        *feed_->graph(), [feed = feed_](double v) { return qs(feed->axisText(v)); }, this);
    graph_->setMinimumHeight(fontMetrics().height() * kGraphLines);
    layout->addWidget(graph_, 1);
  } else {
    // Without a graph the value is the applet: larger, under the name.
    QFont large = value_->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    value_->setFont(large);
    value_->setWordWrap(true);
    layout->addWidget(value_, 1, Qt::AlignLeft | Qt::AlignVCenter);
  }
  if (feed_)
    feed_->setOnChange([this] { showValue(); });
  showValue();
}

MonitorApplet::~MonitorApplet() {
  if (feed_)
    feed_->setOnChange({});
}

QString MonitorApplet::valueText() const { return value_->text(); }

void MonitorApplet::showValue() {
  const Dashboard::Applet& applet = dashboard_.applets()[index_];
  value_->setText(qs(feed_ ? feed_->text() : applet.problem));
}

void MonitorApplet::sampled() {
  if (graph_)
    graph_->update();
}

void MonitorApplet::contextMenuEvent(QContextMenuEvent* event) {
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // Removing rebuilds the window, deleting this widget and the menu: it runs once the menu's
  // signal has returned, through the event loop.
  connect(
      menu->addAction("Remove"), &QAction::triggered, parentWidget(),
      [&d = dashboard_, i = index_] { d.remove(i); }, Qt::QueuedConnection);
  menu->popup(event->globalPos());
}

DashboardWindow::DashboardWindow(Dashboard& dashboard, QWidget* parent)
    : QWidget(parent), dashboard_(dashboard) {
  setObjectName(kDashboardWindowName);
  setWindowTitle(kDashboardTitle);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  grid_ = new QWidget(scroll);
  layout_ = new QGridLayout(grid_);
  layout_->setContentsMargins(8, 8, 8, 8);
  layout_->setSpacing(8);
  scroll->setWidget(grid_);
  outer->addWidget(scroll);
  empty_ =
      new QLabel("No monitors yet: choose \"Monitor\" on a value of a table or an editor.", this);
  empty_->setAlignment(Qt::AlignCenter);
  empty_->setWordWrap(true);
  outer->addWidget(empty_);
  resize(560, 360);
  dashboard_.setOnChange([this](Dashboard::Change change) {
    if (change == Dashboard::Change::Applets)
      return rebuild();
    for (MonitorApplet* applet : applets())
      applet->sampled();
  });
  rebuild();
}

DashboardWindow::~DashboardWindow() { dashboard_.setOnChange({}); }

QList<MonitorApplet*> DashboardWindow::applets() const {
  return grid_->findChildren<MonitorApplet*>(Qt::FindDirectChildrenOnly);
}

void DashboardWindow::rebuild() {
  for (MonitorApplet* applet : applets())
    delete applet;
  size_t count = dashboard_.applets().size();
  for (size_t i = 0; i < count; ++i)
    layout_->addWidget(new MonitorApplet(dashboard_, i, grid_), int(i) / kDashboardColumns,
                       int(i) % kDashboardColumns);
  for (int c = 0; c < kDashboardColumns; ++c)
    layout_->setColumnStretch(c, 1);
  layout_->setRowStretch(layout_->rowCount(), 1);
  empty_->setVisible(count == 0);
  grid_->parentWidget()->parentWidget()->setVisible(count != 0);
}

Dashboard& dashboardOf(Desktop& desktop) {
  auto* holder =
      desktop.findChild<DashboardHolder*>("kestel_dashboard", Qt::FindDirectChildrenOnly);
  if (!holder) {
    holder = new DashboardHolder(&desktop, desktop.settings());
    holder->dashboard.restore();
  }
  return holder->dashboard;
}

QWidget* createDashboardWindow(const WindowContext& context) {
  if (context.desktop)
    return new DashboardWindow(dashboardOf(*context.desktop));
  auto* own = new DashboardHolder(nullptr, settingsRegistry());
  auto* window = new DashboardWindow(own->dashboard);
  // The window goes first (its destructor lets go of the dashboard), then the dashboard.
  QObject::connect(window, &QObject::destroyed, own, [own] { delete own; });
  return window;
}

Expected<size_t> addMonitor(const WindowContext& context, Reference<ObjectMap> map,
                            const CType& type, uint32_t id, const Slot& slot) {
  if (!context.desktop)
    return makeError("no session to add the monitor to");
  return dashboardOf(*context.desktop).addMonitor(std::move(map), type, id, slot);
}

} // namespace kestel::gui
