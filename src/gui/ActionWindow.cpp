// The container headers before Qt's: they declare emit(), which Qt's keyword of that name breaks.
#include "api/container/DescriptorContainers.h"
#include "gen/CType.h"
#include "miw/FormSlots.h"

#include "gui/ActionWindow.h"
#include "gui/SlotForm.h"
#include "gui/Toolkit.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestel::gui {

class ActionWindow::Relay final : public IActionListener {
public:
  explicit Relay(ActionWindow* owner) : owner_(owner) {}
  void forget() { owner_ = nullptr; }
  ActionWindow* owner() const { return owner_; }
  void runStateChanged(ObjectAction&, bool running) override {
    if (owner_)
      owner_->showState(!running);
  }
  void statusChanged(ObjectAction&, IObject*) override {
    if (owner_ && owner_->status_)
      owner_->status_->load();
  }

private:
  ActionWindow* owner_;
};

// Whether the router accepted a start: only a run it accepted ends, so a refused start leaves a
// window that closes when done open, with the user's parameters.
class ActionWindow::Accepted final : public IChangeListener {
public:
  explicit Accepted(Reference<Relay> relay) : relay_(std::move(relay)) {}
  void changeDone(IObject*, ChangeResult result) override {
    if (ActionWindow* w = relay_->owner())
      w->accepted_ = result == ChangeResult::Succeeded;
  }

private:
  Reference<Relay> relay_;
};

ActionWindow::ActionWindow(CAction& type, Reference<ObjectAction> action,
                           CloseWhenDone closeWhenDone, QWidget* parent)
    : QWidget(parent), action_(std::move(action)), name_(type.label()),
      closeWhenDone_(closeWhenDone) {
  setObjectName(kActionWindowName);
  auto* column = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  start_ = new QPushButton(tr("Start"), this);
  stop_ = new QPushButton(tr("Stop"), this);
  close_ = new QPushButton(tr("Close"), this);
  for (QPushButton* b : {start_, stop_, close_}) {
    b->setAutoDefault(false);
    bar->addWidget(b);
  }
  bar->addStretch(1);
  column->addLayout(bar);
  if (IObject* p = action_->parameters()) {
    parameters_ = new SlotForm(*p, formSlots(type), FormMode::Edit, this);
    column->addWidget(parameters_);
  }
  if (IObject* s = action_->status()) {
    status_ = new SlotForm(*s, formSlots(type.replyType()), FormMode::Show, this);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);
    column->addWidget(status_);
  }
  column->addStretch(1);
  connect(start_, &QPushButton::clicked, this, &ActionWindow::start);
  connect(stop_, &QPushButton::clicked, this, &ActionWindow::stop);
  connect(close_, &QPushButton::clicked, this, [this] { closeFrame(this); });
  relay_ = makeRef<Relay>(this);
  action_->addListener(relay_.get());
  showState(false);
}

ActionWindow::~ActionWindow() {
  relay_->forget();
  action_->removeListener(relay_.get());
  // A window closed while its action runs takes the run with it: the router cancels it.
  if (action_->running())
    action_->stop();
}

void ActionWindow::start() {
  if (action_->running())
    return;
  if (parameters_) {
    if (!parameters_->check(boxParentOf(this)))
      return;
    parameters_->apply();
  }
  accepted_ = false;
  action_->start(makeRef<Accepted>(relay_).get());
}

namespace {

// A stop the user asked for: with a listener the action shows a cancel the router refused.
class StopAsked final : public IChangeListener {
public:
  void changeDone(IObject*, ChangeResult) override {}
};

} // namespace

void ActionWindow::stop() {
  action_->stop(makeRef<StopAsked>().get());
  showState(false); // a stop that waits for the router leaves Stop unusable meanwhile
}

void ActionWindow::showState(bool ended) {
  const RunWindowState state = runWindowState(name_, action_->running(), action_->stopping(),
                                              ended && accepted_, closeWhenDone_);
  start_->setEnabled(state.startEnabled);
  stop_->setEnabled(state.stopEnabled);
  setFrameTitle(this, qs(state.title));
  if (state.close) {
    closeFrame(this);
    return;
  }
  (state.focus == RunFocus::Stop ? stop_ : start_)->setFocus();
}

QWidget* createActionWindow(CType& type, const WindowContext& context) {
  if (type.kind() != TypeKind::Action)
    return nullptr;
  auto& actionType = static_cast<CAction&>(type);
  Reference<ObjectAction> action = createObjectAction(actionType);
  if (!action)
    return nullptr;
  auto* window = new ActionWindow(actionType, action,
                                  actionType.autoClose ? CloseWhenDone::Yes : CloseWhenDone::No);
  openFrame(window, window->windowTitle(), "action:" + actionType.label(), context);
  return window;
}

} // namespace kestel::gui
