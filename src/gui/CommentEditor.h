// The comment window of one router object: "Comment for <name>", a multi-line text edit with the
// object's comment (its "comment" slot), OK and Cancel. OK stores the text in the object and
// commits it through the session's change list when the context has one, else through the map;
// the window closes when the router took it and stays open with the text after a refusal (the
// map shows the router's error). When the router changes the object meanwhile the text is read
// again, unless the user has edited it.
#pragma once

#include "api/object/Object.h"
#include "gui/WindowContext.h"

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace kestel {
class ObjectMap;
class Slot;
} // namespace kestel

namespace kestel::gui {

inline constexpr const char* kCommentEditorName = "nimbalux_comment";

class CommentEditor final : public QWidget {
  Q_OBJECT
public:
  CommentEditor(ObjectMap& map, IObject& object, const WindowContext& context,
                QWidget* parent = nullptr);
  ~CommentEditor() override;

  IObject& object() const { return *object_; }
  QString title() const;
  QPlainTextEdit* editor() const { return text_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }
  // OK: stores and commits the text, closes once the router took it.
  void save();
  bool isSaving() const { return saving_; }

signals:
  void finished();

private:
  class Watch;
  class Outcome;
  void reread();
  void saved(bool ok);
  void closeEditor();

  Reference<ObjectMap> map_;
  Reference<IObject> object_;
  const Slot* slot_ = nullptr;
  WindowContext context_;
  QPlainTextEdit* text_;
  QPushButton* ok_;
  QPushButton* cancel_;
  Reference<Watch> watch_;
  Reference<Outcome> outcome_;
  bool saving_ = false;
  bool closed_ = false;
};

} // namespace kestel::gui
