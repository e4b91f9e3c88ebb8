// The core's headers before Qt's (emit, slots).
#include "api/container/ObjectMap.h"
#include "app/FieldText.h"
#include "gen/CType.h"
#include "miw/ObjectLayout.h"

#include "gui/CommentEditor.h"

#include "gui/ChangeRoute.h"
#include "gui/Toolkit.h"

#include <QHBoxLayout>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestel::gui {

class CommentEditor::Watch final : public IMapListener {
public:
  explicit Watch(CommentEditor* e) : editor(e) {}
  void mapChanged(const MapEvent& event) override {
    if (!editor)
      return;
    IObject* o = editor->object_.get();
    if (event.kind == MapEventKind::Removed && event.object == o)
      return editor->closeEditor(); // nothing left to comment on
    if (event.object == o || event.kind == MapEventKind::Reset)
      editor->reread();
  }
  CommentEditor* editor;
};

class CommentEditor::Outcome final : public IChangeListener {
public:
  explicit Outcome(CommentEditor* e) : editor(e) {}
  void changeDone(IObject*, ChangeResult result) override {
    if (CommentEditor* e = editor) {
      editor = nullptr;
      e->saved(result == ChangeResult::Succeeded);
    }
  }
  CommentEditor* editor;
};

CommentEditor::CommentEditor(ObjectMap& map, IObject& object, const WindowContext& context,
                             QWidget* parent)
    : QWidget(parent), map_(&map), object_(&object), context_(context) {
  setObjectName(kCommentEditorName);
  if (const CType* type = object.getCType())
    slot_ = commentSlotOf(*type);
  auto* column = new QVBoxLayout(this);
  text_ = new QPlainTextEdit(this);
  text_->setObjectName("comment_text");
  text_->setTabChangesFocus(true);
  text_->setEnabled(slot_ != nullptr);
  column->addWidget(text_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ok_ = new QPushButton(tr("OK"), this);
  ok_->setDefault(true);
  ok_->setEnabled(slot_ != nullptr);
  cancel_ = new QPushButton(tr("Cancel"), this);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  column->addLayout(buttons);
  connect(ok_, &QPushButton::clicked, this, &CommentEditor::save);
  connect(cancel_, &QPushButton::clicked, this, &CommentEditor::closeEditor);
  watch_ = makeRef<Watch>(this);
  map_->addListener(watch_.get());
  setWindowTitle(title());
  reread();
  resize(360, 200);
}

CommentEditor::~CommentEditor() {
  watch_->editor = nullptr;
  map_->removeListener(watch_.get());
  if (outcome_)
    outcome_->editor = nullptr;
}

QString CommentEditor::title() const { return qs("Comment for " + object_->getName()); }

void CommentEditor::reread() {
  if (closed_ || saving_ || !slot_ || text_->document()->isModified())
    return; // what the user typed is kept
  text_->setPlainText(qs(fieldText(*object_, *slot_)));
  text_->document()->setModified(false);
  setWindowTitle(title());
}

void CommentEditor::save() {
  if (saving_ || closed_ || !slot_)
    return;
  if (!text_->document()->isModified())
    return closeEditor();
  const CType& type = *object_->getCType();
  ValuesBeforeRef before = valuesBefore(*object_, type);
  Expected<void> set = setFieldText(*object_, *slot_, ss(text_->toPlainText()));
  if (!set) {
    showMessageBox(this, "Wrong " + slot_->titleText(), set.error().text, nullptr);
    return;
  }
  saving_ = true;
  ok_->setEnabled(false);
  outcome_ = makeRef<Outcome>(this);
  commitChange(context_.changes, *map_, type, *object_, before, outcome_.get());
}

void CommentEditor::saved(bool ok) {
  saving_ = false;
  outcome_ = nullptr;
  ok_->setEnabled(true);
  if (ok)
    closeEditor(); // else the map showed the refusal; the text stays for another try
}

void CommentEditor::closeEditor() {
  if (closed_)
    return;
  closed_ = true;
  emit finished();
  for (QWidget* w = parentWidget(); w; w = w->parentWidget())
    if (auto* frame = qobject_cast<QMdiSubWindow*>(w)) {
      frame->close();
      return;
    }
  close();
}

} // namespace kestel::gui
