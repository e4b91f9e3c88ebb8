#include "gui/ObjectEditorOpener.h"

#include "gui/CommentEditor.h"
#include "gui/Desktop.h"
#include "gui/ObjectEditor.h"

#include <QMdiSubWindow>

namespace kestel::gui {

ObjectEditorOpener::ObjectEditorOpener(const WindowContext& context, QObject* parent)
    : QObject(parent), context_(context) {
  context_.editors = this;
}

namespace {

// Deletes the window showing `content`: its desktop frame, or the content itself.
void deleteWindow(QWidget* content) {
  for (QWidget* w = content->parentWidget(); w; w = w->parentWidget())
    if (auto* frame = qobject_cast<QMdiSubWindow*>(w)) {
      delete frame;
      return;
    }
  delete content;
}

} // namespace

ObjectEditorOpener::~ObjectEditorOpener() {
  // The windows still open name this opener in their context: they go with it.
  std::vector<QPointer<QWidget>> open;
  for (auto& [object, editor] : editors_)
    open.emplace_back(editor.data());
  for (auto& [object, comment] : comments_)
    open.emplace_back(comment.data());
  editors_.clear();
  comments_.clear();
  for (QPointer<QWidget>& w : open)
    if (w) {
      disconnect(w, nullptr, this, nullptr);
      deleteWindow(w);
    }
}

ObjectEditor* ObjectEditorOpener::editorOf(const IObject& object) const {
  auto it = editors_.find(&object);
  return it == editors_.end() ? nullptr : it->second.data();
}

CommentEditor* ObjectEditorOpener::commentEditorOf(const IObject& object) const {
  auto it = comments_.find(&object);
  return it == comments_.end() ? nullptr : it->second.data();
}

void ObjectEditorOpener::openObjectEditor(ObjectMap& map, IObject& object, bool) {
  open(map, object);
}

void ObjectEditorOpener::openCopy(ObjectMap& map, IObject& copy, uint32_t nextId) {
  if (ObjectEditor* editor = open(map, copy))
    editor->placeBefore(nextId);
}

ObjectEditor* ObjectEditorOpener::open(ObjectMap& map, IObject& object) {
  if (ObjectEditor* open = editorOf(object)) {
    raise(open);
    return open;
  }
  if (!object.getCType())
    return nullptr; // nothing says what its fields are
  auto* editor = new ObjectEditor(map, object, context_);
  const IObject* key = &object;
  editors_[key] = editor;
  connect(editor, &QObject::destroyed, this, [this, key] { editors_.erase(key); });
  show(editor, editor->title(), "objedit");
  return editor;
}

void ObjectEditorOpener::openCommentEditor(ObjectMap& map, IObject& object) {
  if (CommentEditor* open = commentEditorOf(object))
    return raise(open);
  auto* comment = new CommentEditor(map, object, context_);
  const IObject* key = &object;
  comments_[key] = comment;
  connect(comment, &QObject::destroyed, this, [this, key] { comments_.erase(key); });
  show(comment, comment->title(), "comment");
}

void ObjectEditorOpener::show(QWidget* content, const QString& title, const char* kind) {
  if (context_.desktop) {
    ManagedWindow* frame = context_.desktop->makeWindow(content, title);
    context_.desktop->manager().openWindow(*frame, kind);
    return;
  }
  content->setAttribute(Qt::WA_DeleteOnClose);
  content->setWindowTitle(title);
  content->show();
}

void ObjectEditorOpener::raise(QWidget* content) {
  for (QWidget* w = content->parentWidget(); w; w = w->parentWidget())
    if (auto* frame = qobject_cast<ManagedWindow*>(w)) {
      frame->showAndFocus();
      return;
    }
  content->show();
  content->raise();
  content->activateWindow();
}

QWidget* createItemWindow(CType& type, const WindowContext& context) {
  if (type.kind() != TypeKind::Item || !type.completed())
    return nullptr;
  Reference<ObjectHolder> holder = createObjectHolder(static_cast<CItem&>(type));
  if (!holder || !holder->object())
    return nullptr;
  holder->refresh();
  return new ObjectEditor(*holder, context);
}

} // namespace kestel::gui
