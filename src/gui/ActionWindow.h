// The action window: the action's parameter fields, its status fields (shown, filled from every
// poll reply) and the buttons "Start", "Stop" and "Close". While the action runs the title reads
// "<name> (Running)", Start is not usable and the focus sits on Stop; when it ends the title is
// the name again and the focus goes back to Start, or the window goes away when it was made to
// close when done (not when the router refused the start: the user's parameters stay). Closing the
// window while the action runs stops it, so the router cancels it. What the window shows for each
// state is decided in miw/RunWindowState.h.
#pragma once

#include "gui/WindowContext.h"
#include "miw/RunWindowState.h"
#include "util/Base.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace kestel {
class CAction;
class CType;
class ObjectAction;
} // namespace kestel

namespace kestel::gui {

class SlotForm;

inline constexpr const char* kActionWindowName = "nimbalux_action";

class ActionWindow final : public QWidget {
  Q_OBJECT
public:
  ActionWindow(CAction& type, Reference<ObjectAction> action, CloseWhenDone closeWhenDone,
               QWidget* parent = nullptr);
  ~ActionWindow() override;

  // Checks and applies the parameter fields, then starts the action; nothing when a field is
  // not valid (its error is shown and the input kept).
  void start();
  void stop();

  ObjectAction& action() const { return *action_; }
  SlotForm* parameters() const { return parameters_; }
  SlotForm* status() const { return status_; }
  QPushButton* startButton() const { return start_; }
  QPushButton* stopButton() const { return stop_; }
  QPushButton* closeButton() const { return close_; }

private:
  class Relay;
  class Accepted;
  // Shows the state of the action; `ended`: a run just ended.
  void showState(bool ended);

  Reference<ObjectAction> action_;
  Reference<Relay> relay_;
  std::string name_;
  CloseWhenDone closeWhenDone_;
  bool accepted_ = false; // the router accepted the last start
  SlotForm* parameters_ = nullptr;
  SlotForm* status_ = nullptr;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* close_;
};

// The window of the action `type` describes (TypeKind::Action), with an action of its own. In a
// session (`context.desktop` set) it opens in a frame of the desktop. Returns the content widget;
// null when `type` is no completed action.
QWidget* createActionWindow(CType& type, const WindowContext& context);

} // namespace kestel::gui
