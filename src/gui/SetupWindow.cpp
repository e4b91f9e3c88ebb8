// The container headers before Qt's: they declare emit(), which Qt's keyword of that name breaks.
#include "api/container/DescriptorContainers.h"
#include "gen/CType.h"

#include "gui/SetupWindow.h"
#include "gui/SlotForm.h"
#include "gui/Toolkit.h"
#include "miw/SetupSteps.h"

#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestel::gui {

class SetupWindow::Relay final : public ISetupListener {
public:
  explicit Relay(SetupWindow* owner) : owner_(owner) {}
  void forget() { owner_ = nullptr; }
  void stepChanged(SetupManager&, bool end, const std::string& text) override {
    if (owner_)
      owner_->answered(end, text);
  }

private:
  SetupWindow* owner_;
};

SetupWindow::SetupWindow(CSetup& type, Reference<SetupManager> setup, QWidget* parent)
    : QWidget(parent), type_(type), setup_(std::move(setup)), name_(type.label()) {
  setObjectName(kSetupWindowName);
  setWindowTitle(qs(name_));
  auto* column = new QVBoxLayout(this);
  description_ = new QLabel(this);
  description_->setObjectName("setup_step");
  QFont bold = description_->font();
  bold.setBold(true);
  description_->setFont(bold);
  description_->setWordWrap(true);
  column->addWidget(description_);
  line_ = new QFrame(this);
  line_->setFrameShape(QFrame::HLine);
  line_->setFrameShadow(QFrame::Sunken);
  column->addWidget(line_);
  pageBox_ = new QVBoxLayout;
  column->addLayout(pageBox_, 1);
  auto* bar = new QHBoxLayout;
  bar->addStretch(1);
  back_ = new QPushButton(tr("Back"), this);
  next_ = new QPushButton(tr("Next"), this);
  cancel_ = new QPushButton(tr("Cancel"), this);
  next_->setDefault(true);
  for (QPushButton* b : {back_, next_, cancel_})
    bar->addWidget(b);
  column->addLayout(bar);
  connect(back_, &QPushButton::clicked, this, &SetupWindow::back);
  connect(next_, &QPushButton::clicked, this, &SetupWindow::next);
  connect(cancel_, &QPushButton::clicked, this, [this] { closeFrame(this); });
  relay_ = makeRef<Relay>(this);
  setup_->addListener(relay_.get());
  setup_->reset(); // reports the first page
}

SetupWindow::~SetupWindow() {
  relay_->forget();
  setup_->removeListener(relay_.get());
}

void SetupWindow::back() {
  if (setup_->waiting() || setup_->step() == 0)
    return;
  setup_->back();
}

void SetupWindow::next() {
  if (setup_->waiting() || !page_ || !page_->check(boxParentOf(this)))
    return;
  const bool changed = page_->edited();
  page_->apply();
  back_->setEnabled(false);
  next_->setEnabled(false);
  sentAt_ = setup_->step();
  setup_->next(!changed);
  // Nothing was sent (no command, no connection): the page stays usable.
  if (!setup_->waiting() && sentAt_ == setup_->step()) {
    sentAt_ = -1;
    enableButtons();
  }
}

void SetupWindow::answered(bool end, const std::string& text) {
  const StepMoved moved = sentAt_ == setup_->step() ? StepMoved::No : StepMoved::Yes;
  sentAt_ = -1;
  const SetupReaction reaction = setupReaction(end, text, moved);
  switch (reaction.answer) {
  case SetupAnswer::Finished:
    showMessageBox(boxParentOf(this), name_, reaction.boxText, nullptr);
    closeFrame(this);
    return;
  case SetupAnswer::Refused:
    // The page and what the user typed stay; the router says what to correct.
    enableButtons();
    showMessageBox(boxParentOf(this), name_, reaction.boxText, nullptr);
    return;
  case SetupAnswer::ShowPage:
    showPage();
    enableButtons();
    return;
  }
}

void SetupWindow::showPage() {
  delete page_;
  page_ = nullptr;
  if (IObject* object = setup_->object()) {
    page_ = new SlotForm(*object, setupPageSlots(type_, setup_->page()), FormMode::Edit, this);
    pageBox_->addWidget(page_);
  }
  const size_t step = static_cast<size_t>(setup_->step());
  description_->setText(qs(setup_->descriptionAt(step)));
  description_->setVisible(!description_->text().isEmpty());
  line_->setVisible(description_->isVisibleTo(this));
  if (page_ && !page_->views().empty())
    page_->views().front()->setFocus();
}

void SetupWindow::enableButtons() {
  back_->setEnabled(setup_->step() > 0);
  next_->setEnabled(true);
}

QWidget* createSetupWindow(CType& type, const WindowContext& context) {
  if (type.kind() != TypeKind::Setup)
    return nullptr;
  auto& setupType = static_cast<CSetup&>(type);
  Reference<SetupManager> setup = createSetupManager(setupType);
  if (!setup)
    return nullptr;
  auto* window = new SetupWindow(setupType, setup);
  openFrame(window, qs(setupType.label()), "setup:" + setupType.label(), context);
  return window;
}

} // namespace kestel::gui
