// The setup wizard: the current page's fields, a line with the step's description, and the
// buttons "Back", "Next" and "Cancel". Next checks and applies the page (nothing happens while a
// field is not valid) and asks the setup manager for the next step, through the history when the
// user changed nothing; the buttons wait for the answer. A refused page stays with what the user
// typed and the router's reason in a box; the end shows the router's closing text, or "Setup has
// completed successfully", and closes the window. What each answer means is decided in
// miw/SetupSteps.h.
#pragma once

#include "gui/WindowContext.h"
#include "util/Base.h"

#include <QWidget>

#include <string>

class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace kestel {
class CSetup;
class CType;
class SetupManager;
} // namespace kestel

namespace kestel::gui {

class SlotForm;

inline constexpr const char* kSetupWindowName = "nimbalux_setup";

class SetupWindow final : public QWidget {
  Q_OBJECT
public:
  SetupWindow(CSetup& type, Reference<SetupManager> setup, QWidget* parent = nullptr);
  ~SetupWindow() override;

  void back();
  void next();

  SetupManager& setup() const { return *setup_; }
  SlotForm* page() const { return page_; }
  QLabel* description() const { return description_; }
  QPushButton* backButton() const { return back_; }
  QPushButton* nextButton() const { return next_; }
  QPushButton* cancelButton() const { return cancel_; }

private:
  class Relay;
  void answered(bool end, const std::string& text);
  void showPage();
  void enableButtons();

  CSetup& type_;
  Reference<SetupManager> setup_;
  Reference<Relay> relay_;
  std::string name_;
  int sentAt_ = -1; // the step whose page went to the router; -1 while none is out
  QVBoxLayout* pageBox_;
  SlotForm* page_ = nullptr;
  QLabel* description_;
  QFrame* line_; // under the description, shown with it
  QPushButton* back_;
  QPushButton* next_;
  QPushButton* cancel_;
};

// The wizard `type` describes (TypeKind::Setup), with a setup manager of its own, at its first
// page; in a session it opens in a frame of the desktop. Returns the content widget; null when
// `type` is no completed setup type.
QWidget* createSetupWindow(CType& type, const WindowContext& context);

} // namespace kestel::gui
