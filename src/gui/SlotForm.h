// The fields of one router object as a form of value views: one row per slot, each view editing
// the slot's storage in the object's record (RecordCell). The form loads the views from the
// object (update), checks them (the first failing editor is focused and its error shown) and
// writes them back (apply); until then the object keeps its values, so text the user typed stays
// in the editors whatever the router answers. Secret fields do not show what is typed. The object
// must outlive the form.
#pragma once

#include "gui/Views.h"
#include "gui/WindowContext.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QFormLayout;

namespace kestel {
class CType;
class IObject;
class RecordCell;
} // namespace kestel

namespace kestel::gui {

// Whether the form's views edit or only show their values.
enum class FormMode { Edit, Show };

class SlotForm final : public QWidget {
  Q_OBJECT
public:
  // Rows for `fields` (slots of the object's type that hold a value, miw/FormSlots.h; others are
  // skipped).
  SlotForm(IObject& object, const std::vector<const Slot*>& fields, FormMode mode,
           QWidget* parent = nullptr);
  ~SlotForm() override;

  // Loads every view from the object; the form counts as unedited afterwards.
  void load();
  // Checks every view; on the first failure focuses it, shows the error box (parented to
  // `boxParent`) and returns false.
  bool check(QWidget* boxParent);
  // Writes every view into the object (after check()); the form counts as unedited afterwards.
  void apply();
  // Whether the user changed a view since the last load() or apply().
  bool edited() const { return edited_; }
  bool empty() const { return views_.empty(); }
  // The view of the slot named `name`; null when the form has none.
  ValueView* view(const std::string& name) const;
  const std::vector<ValueView*>& views() const { return views_; }

signals:
  void changed();

private:
  IObject& object_;
  std::vector<std::unique_ptr<RecordCell>> cells_;
  std::vector<ValueView*> views_;
  std::vector<std::string> names_;
  bool edited_ = false;
};

// Where a window's boxes go: its top-level window when it lies inside one (a desktop frame),
// otherwise nowhere (the box stands alone and outlives the window).
QWidget* boxParentOf(QWidget* content);
// Sets the title of `content` and of the desktop frame around it, when there is one.
void setFrameTitle(QWidget* content, const QString& title);
// In a session (`context.desktop` set): puts `content` into a frame of the desktop and opens it as
// a window of `kind` (the kind the window manager remembers placements by); otherwise nothing.
void openFrame(QWidget* content, const QString& title, const std::string& kind,
               const WindowContext& context);
// Closes the desktop frame around `content`, or `content` itself when it stands alone; either is
// deleted once the event loop runs.
void closeFrame(QWidget* content);

} // namespace kestel::gui
