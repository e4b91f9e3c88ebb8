// The object editor: one router object's fields in a form built from its type's slots
// (miw/ObjectLayout.h: pages, groups, separators, conditions, skin), a toolbar with the
// commands numbered as below, and the container the object belongs to (an object map, or the
// holder of a settings item).
//
//   1 OK        commit when something changed, close when the commit succeeds
//   2 Cancel    close without commit (not in read-only editors)
//   3 Apply     commit when something changed, stay open
//   5 Enable    6 Disable   objects with a disabled flag; usable while disabled / enabled
//   7 Comment   types with a comment: the object's comment window
//   8 Copy      maps that add and copy: a new editor for a copy without id
//   9 Remove    maps that remove: asks the map to remove the object and closes at once
//
// The editor edits a working copy of the object's record: the user's edits never reach the
// object until a commit, and when the router changes the object meanwhile, every field the user
// has not touched is read again while the touched ones keep what was typed. Commits go through
// the session's change list when the context has one (with the values from before the edit),
// else straight to the container; the container shows the router's refusals and the editor
// keeps the user's values. Bad input shows the convertor's texts in a box and nothing is sent.
// Boxes are opened with open(): the answers reach the editor later, never in a nested loop.
#pragma once

#include "miw/ObjectLayout.h"
#include "miw/ValueCell.h"

#include "gui/ChangeRoute.h"
#include "gui/Views.h"
#include "gui/WindowContext.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <set>
#include <vector>

class QAction;
class QFormLayout;
class QToolBar;

namespace kestel {
class ObjectHolder;
class ObjectMap;
} // namespace kestel

namespace kestel::gui {

enum class EditorCommand : int {
  Ok = 1,
  Cancel = 2,
  Apply = 3,
  Enable = 5,
  Disable = 6,
  Comment = 7,
  Copy = 8,
  Remove = 9,
};

// Object names of the editor and its parts (tests and review shots find them by these).
inline constexpr const char* kObjectEditorName = "nimbalux_objedit";

class ObjectEditor final : public QWidget {
  Q_OBJECT
public:
  // The editor of `object` of `map`: an object without id is a new one, added on commit. The
  // object must have a completed descriptor type.
  ObjectEditor(ObjectMap& map, IObject& object, const WindowContext& context, bool readOnly = false,
               QWidget* parent = nullptr);
  // The editor of a holder's object (a settings item): no Copy, Remove, Enable or Disable.
  ObjectEditor(ObjectHolder& holder, const WindowContext& context, bool readOnly = false,
               QWidget* parent = nullptr);
  ~ObjectEditor() override;

  IObject& object() const { return *object_; }
  ObjectMap* map() const;
  bool isReadOnly() const { return readOnly_; }
  // Whether the form holds edits not committed yet.
  bool isModified() const { return !touched_.empty(); }
  bool isCommitting() const { return committing_; }
  // The window title: the type's title and the object's name ("New <type>" for a new object).
  QString title() const;

  // The command's toolbar action (null when the editor does not offer it).
  QAction* action(EditorCommand command) const;
  // Runs a command as its button does.
  void run(EditorCommand command);

  const ObjectLayout& layout() const { return layout_; }
  // The view of field `i` of layout().fields, and whether its row is shown.
  ValueView* view(size_t i) const { return fields_[i].view; }
  bool fieldShown(size_t i) const;
  // The view whose label is `label` (null: none).
  ValueView* viewLabelled(const QString& label) const;

  // For a copy in an ordered map: once added, the object is moved before `nextId` (kNoId:
  // left where the router put it).
  void placeBefore(uint32_t nextId) { placeBefore_ = nextId; }

signals:
  // The editor closed itself (after OK, Cancel, Remove or the object's removal).
  void finished();

private:
  class Container;
  class MapContainer;
  class HolderContainer;
  class Outcome;
  class AnswerTo;
  struct Field {
    ValueView* view = nullptr;
    QWidget* label = nullptr;
    QFormLayout* form = nullptr;
    std::unique_ptr<IValueCell> value, mask;
  };
  enum class After { Nothing, Close, Copy, Enable, Disable };

  void build();
  QWidget* buildPage(const std::vector<LayoutItem>& items);
  void buildItems(const std::vector<LayoutItem>& items, QFormLayout* form);
  void buildToolbar();
  void refreshCommands();
  // The working copy gets the object's values; touched fields keep what the user typed.
  void reread();
  void applyConditions();
  void fieldEdited(size_t i);

  // Commits the form; `after` runs once the router took it (at once when nothing changed).
  void commit(After after);
  void commitDone(bool ok, After after);
  void then(After after);
  // Asks whether to commit the edits first; Yes commits, No discards; then `after`.
  void askCommitFirst(const char* question, After after);
  void discard();
  void copy();
  void setEnabledState(bool enable);
  void remove();
  void objectRemoved();
  void closeEditor();

  std::unique_ptr<Container> container_;
  Reference<IObject> object_;
  Reference<IObject> work_; // the working copy the views edit
  CType* type_ = nullptr;
  WindowContext context_;
  bool readOnly_;
  ObjectLayout layout_;
  std::vector<Field> fields_;
  std::vector<ValueView*> views_; // in field order, for checkViews
  std::set<size_t> touched_;
  QToolBar* toolbar_ = nullptr;
  std::vector<std::pair<EditorCommand, QAction*>> actions_;
  bool committing_ = false;
  bool closing_ = false;
  bool closed_ = false;
  uint32_t placeBefore_ = 0xFFFFFFFF;        // kNoId: none
  std::vector<Reference<Outcome>> outcomes_; // cut loose when the editor goes
};

} // namespace kestel::gui
