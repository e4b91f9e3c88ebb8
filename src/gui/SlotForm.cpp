#include "gui/SlotForm.h"

#include "gui/Desktop.h"
#include "gui/Toolkit.h"
#include "miw/FormSlots.h"
#include "miw/ValueCell.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QMdiSubWindow>

namespace kestel::gui {

SlotForm::SlotForm(IObject& object, const std::vector<const Slot*>& fields, FormMode mode,
                   QWidget* parent)
    : QWidget(parent), object_(object) {
  auto* layout = new QFormLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  for (const Slot* slot : fields) {
    void* part = slotPart(object, *slot);
    if (!part)
      continue;
    cells_.push_back(std::make_unique<RecordCell>(*slot, part));
    ValueView* view = createValueView(*slot, nullptr, mode == FormMode::Show, false, *cells_.back(),
                                      nullptr, nullptr);
    view->setParent(this);
    // Secrets (passwords, keys) are not shown to whoever looks at the screen.
    if (auto* text = dynamic_cast<TextView*>(view); text && slot->kind() == "secret")
      text->editor()->setEchoMode(QLineEdit::Password);
    view->setObjectName(qs(slot->name()));
    views_.push_back(view);
    names_.push_back(slot->name());
    if (dynamic_cast<HiddenView*>(view))
      continue;
    layout->addRow(view->label() + ":", view);
    connect(view, &ValueView::changed, this, [this] {
      edited_ = true;
      emit changed();
    });
  }
  load();
}

SlotForm::~SlotForm() = default;

void SlotForm::load() {
  for (ValueView* v : views_)
    v->update();
  edited_ = false;
}

bool SlotForm::check(QWidget* boxParent) { return checkViews(views_, boxParent); }

void SlotForm::apply() {
  for (ValueView* v : views_)
    v->apply();
  edited_ = false;
}

ValueView* SlotForm::view(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == name)
      return views_[i];
  return nullptr;
}

QWidget* boxParentOf(QWidget* content) {
  QWidget* top = content->window();
  return top == content ? nullptr : top;
}

void setFrameTitle(QWidget* content, const QString& title) {
  content->setWindowTitle(title);
  if (auto* frame = qobject_cast<QMdiSubWindow*>(content->parentWidget()))
    frame->setWindowTitle(title);
}

void openFrame(QWidget* content, const QString& title, const std::string& kind,
               const WindowContext& context) {
  content->setWindowTitle(title);
  if (!context.desktop)
    return;
  ManagedWindow* frame = context.desktop->makeWindow(content, title);
  context.desktop->manager().openWindow(*frame, kind);
}

void closeFrame(QWidget* content) {
  if (auto* frame = qobject_cast<QMdiSubWindow*>(content->parentWidget())) {
    frame->close();
    return;
  }
  content->setAttribute(Qt::WA_DeleteOnClose);
  content->close();
}

} // namespace kestel::gui
