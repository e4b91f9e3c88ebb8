// Opens object editors and comment windows for the windows of a session: one editor and one
// comment window per object (opening it again brings the open one forward), in frames of the
// session's desktop, or as windows of their own when the context has no desktop. The windows it
// opens get the same context with this opener as theirs, so a Copy or a Comment from an editor
// comes back here.
#pragma once

// Not a moc'ed class (no signals or slots of its own), so it may include the core's map headers.
#include "api/container/DescriptorContainers.h"
#include "api/container/ObjectMap.h"
#include "gen/CType.h"
#include "miw/TablePaneActions.h"

#include "gui/WindowContext.h"

#include <QObject>
#include <QPointer>

#include <map>

class QWidget;

namespace kestel {
class CType;
}

namespace kestel::gui {

class CommentEditor;
class ObjectEditor;

class ObjectEditorOpener final : public QObject, public IObjectEditorOpener {
public:
  // `context.editors` is replaced by this opener for the windows it opens.
  explicit ObjectEditorOpener(const WindowContext& context, QObject* parent = nullptr);
  ~ObjectEditorOpener() override;

  void openObjectEditor(ObjectMap& map, IObject& object, bool isNew) override;
  void openCommentEditor(ObjectMap& map, IObject& object) override;
  // The editor of a copy not added yet; once added it is moved before `nextId` (kNoId: left
  // where the router put it).
  void openCopy(ObjectMap& map, IObject& copy, uint32_t nextId);

  // The open windows of an object (null: none).
  ObjectEditor* editorOf(const IObject& object) const;
  CommentEditor* commentEditorOf(const IObject& object) const;
  size_t openEditors() const { return editors_.size(); }
  size_t openCommentEditors() const { return comments_.size(); }
  const WindowContext& context() const { return context_; }

private:
  ObjectEditor* open(ObjectMap& map, IObject& object);
  // Puts `content` into a desktop frame (or shows it on its own) and brings it forward.
  void show(QWidget* content, const QString& title, const char* kind);
  static void raise(QWidget* content);

  WindowContext context_;
  // Keyed by the object; each entry leaves when its window is destroyed.
  std::map<const IObject*, QPointer<ObjectEditor>> editors_;
  std::map<const IObject*, QPointer<CommentEditor>> comments_;
};

// The window of a settings item (a single router object read and written through its holder):
// an object editor over a new holder of the item, read at once. The session window registers it
// for items.
QWidget* createItemWindow(CType& type, const WindowContext& context);

} // namespace kestel::gui
