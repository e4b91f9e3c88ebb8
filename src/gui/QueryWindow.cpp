// The container headers before Qt's: they declare emit(), which Qt's keyword of that name breaks.
#include "api/container/DescriptorContainers.h"
#include "gen/CType.h"
#include "miw/FormSlots.h"

#include "gui/QueryWindow.h"
#include "gui/SlotForm.h"
#include "gui/TableWidgetPane.h"
#include "gui/Toolkit.h"
#include "miw/RunWindowState.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestel::gui {

class QueryWindow::Relay final : public IQueryListener {
public:
  explicit Relay(QueryWindow* owner) : owner_(owner) {}
  void forget() { owner_ = nullptr; }
  void runStateChanged(ObjectQuery&, bool) override {
    if (owner_)
      owner_->showState();
  }

private:
  QueryWindow* owner_;
};

QueryWindow::QueryWindow(CQuery& type, Reference<ObjectQuery> query, QWidget* parent)
    : QWidget(parent), query_(std::move(query)), name_(type.label()) {
  setObjectName(kQueryWindowName);
  auto* column = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  start_ = new QPushButton(tr("Start"), this);
  stop_ = new QPushButton(tr("Stop"), this);
  cancel_ = new QPushButton(tr("Cancel"), this);
  for (QPushButton* b : {start_, stop_, cancel_}) {
    b->setAutoDefault(false);
    bar->addWidget(b);
  }
  bar->addStretch(1);
  column->addLayout(bar);
  if (IObject* r = query_->requestObject()) {
    request_ = new SlotForm(*r, formSlots(type), FormMode::Edit, this);
    column->addWidget(request_);
  }
  if (ObjectMap* rows = query_->results()) {
    results_ = createTablePane(Reference<ObjectMap>(rows), &type.result(), false, false, this);
    column->addWidget(results_, 1);
    // The rows come once the router has given the query its id; until then the map asks for
    // nothing of a run.
    rows->open();
  }
  connect(start_, &QPushButton::clicked, this, &QueryWindow::start);
  connect(stop_, &QPushButton::clicked, this, &QueryWindow::stop);
  connect(cancel_, &QPushButton::clicked, this, [this] { closeFrame(this); });
  relay_ = makeRef<Relay>(this);
  query_->addListener(relay_.get());
  showState();
}

QueryWindow::~QueryWindow() {
  relay_->forget();
  query_->removeListener(relay_.get());
  query_->stop(); // only while running: the router ends the search
}

void QueryWindow::start() {
  if (request_) {
    if (!request_->check(boxParentOf(this)))
      return;
    request_->apply();
  }
  query_->start();
}

void QueryWindow::stop() { query_->stop(); }

void QueryWindow::showState() {
  const RunWindowState state =
      runWindowState(name_, query_->running(), false, false, CloseWhenDone::No);
  start_->setEnabled(state.startEnabled);
  stop_->setEnabled(state.stopEnabled);
  setFrameTitle(this, qs(state.title));
  (state.focus == RunFocus::Stop ? stop_ : start_)->setFocus();
}

QWidget* createQueryWindow(CType& type, const WindowContext& context) {
  if (type.kind() != TypeKind::Query)
    return nullptr;
  auto& queryType = static_cast<CQuery&>(type);
  Reference<ObjectQuery> query = createObjectQuery(queryType);
  if (!query)
    return nullptr;
  auto* window = new QueryWindow(queryType, query);
  openFrame(window, window->windowTitle(), "query:" + queryType.label(), context);
  return window;
}

} // namespace kestel::gui
