// The container headers before Qt's: they declare emit(), which Qt's keyword of that name breaks.
#include "api/container/DescriptorContainers.h"
#include "gen/CType.h"
#include "miw/FormSlots.h"

#include "gui/DoitWindow.h"
#include "gui/SlotForm.h"
#include "gui/Toolkit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestel::gui {

// The answer of the confirmation box; the window may be gone by then.
class DoitWindow::Relay final : public EventListener {
public:
  explicit Relay(DoitWindow* owner) : owner_(owner) {}
  void forget() { owner_ = nullptr; }
  DoitWindow* owner() const { return owner_; }
  void onEvent(Event& event) override {
    Answer answer = Answer::No;
    if (owner_ && answerOf(event, answer) && answer == Answer::Yes)
      owner_->send();
  }

private:
  DoitWindow* owner_;
};

namespace {

// The router's answer to one command, for the window as long as it exists.
template <typename Relay> class Outcome final : public IChangeListener {
public:
  explicit Outcome(Reference<Relay> relay) : relay_(std::move(relay)) {}
  void changeDone(IObject*, ChangeResult result) override {
    if (auto* window = relay_->owner())
      window->done(result == ChangeResult::Succeeded);
  }

private:
  Reference<Relay> relay_;
};

} // namespace

DoitWindow::DoitWindow(CDoit& type, Reference<ObjectDoit> doit, QWidget* parent)
    : QWidget(parent), type_(type), doit_(std::move(doit)) {
  setObjectName(kDoitWindowName);
  auto* column = new QVBoxLayout(this);
  if (IObject* o = doit_->object()) {
    fields_ = new SlotForm(*o, formSlots(type), FormMode::Edit, this);
    if (fields_->empty())
      fields_->hide();
    column->addWidget(fields_);
  }
  status_ = new QLabel(this);
  status_->setWordWrap(true);
  status_->hide(); // until there is something to say
  column->addWidget(status_);
  column->addStretch(1);
  auto* bar = new QHBoxLayout;
  bar->addStretch(1);
  run_ = new QPushButton(qs(type.label()), this);
  close_ = new QPushButton(tr("Close"), this);
  run_->setDefault(true);
  bar->addWidget(run_);
  bar->addWidget(close_);
  column->addLayout(bar);
  connect(run_, &QPushButton::clicked, this, &DoitWindow::run);
  connect(close_, &QPushButton::clicked, this, [this] { closeFrame(this); });
  relay_ = makeRef<Relay>(this);
}

DoitWindow::~DoitWindow() { relay_->forget(); }

void DoitWindow::run() {
  if (fields_) {
    if (!fields_->check(boxParentOf(this)))
      return;
    fields_->apply();
  }
  if (type_.confirm.empty()) {
    send();
    return;
  }
  showQuestionBox(boxParentOf(this), type_.label(), type_.confirm, relay_.get());
}

void DoitWindow::send() {
  run_->setEnabled(false);
  status_->show();
  status_->setText(type_.progress.empty() ? tr("Sending...") : qs(type_.progress + "..."));
  doit_->send(makeRef<Outcome<Relay>>(relay_).get());
}

void DoitWindow::done(bool succeeded) {
  run_->setEnabled(true);
  status_->setText(succeeded ? tr("Done") : tr("Failed"));
  if (!succeeded || !type_.autoReset || !fields_ || !doit_->object())
    return;
  IObject& object = *doit_->object();
  Reference<IObject> fresh = type_.createObject();
  if (fresh && fresh->record().size() == object.record().size()) {
    type_.copyRecord(object.record().data(), fresh->record().data());
    fields_->load();
  }
}

QWidget* createDoitWindow(CType& type, const WindowContext& context) {
  if (type.kind() != TypeKind::Doit)
    return nullptr;
  auto& doitType = static_cast<CDoit&>(type);
  Reference<ObjectDoit> doit = createObjectDoit(doitType);
  if (!doit)
    return nullptr;
  auto* window = new DoitWindow(doitType, doit);
  openFrame(window, qs(doitType.label()), "doit:" + doitType.label(), context);
  return window;
}

} // namespace kestel::gui
