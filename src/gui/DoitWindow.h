// The one-command window: the command's fields, a button named after the command and "Close",
// and a status line. The button asks the descriptor's confirmation question first (when it gives
// one), sends the command once per press and shows the descriptor's progress text until the
// router answers; a refusal is shown by the command itself (its error text and the router's) and
// the fields keep what the user typed; after a success a command marked to reset its fields goes
// back to their defaults.
#pragma once

#include "gui/WindowContext.h"
#include "util/Base.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace kestel {
class CDoit;
class CType;
class ObjectDoit;
} // namespace kestel

namespace kestel::gui {

class SlotForm;

inline constexpr const char* kDoitWindowName = "nimbalux_doit";

class DoitWindow final : public QWidget {
  Q_OBJECT
public:
  DoitWindow(CDoit& type, Reference<ObjectDoit> doit, QWidget* parent = nullptr);
  ~DoitWindow() override;

  // What the button does: checks and applies the fields, asks the confirmation (when there is
  // one) and sends.
  void run();

  ObjectDoit& doit() const { return *doit_; }
  SlotForm* fields() const { return fields_; }
  QPushButton* runButton() const { return run_; }
  QPushButton* closeButton() const { return close_; }
  QLabel* statusLine() const { return status_; }

  // The router's answer to the command sent last.
  void done(bool succeeded);

private:
  class Relay;
  void send();

  CDoit& type_;
  Reference<ObjectDoit> doit_;
  Reference<Relay> relay_;
  SlotForm* fields_ = nullptr;
  QPushButton* run_;
  QPushButton* close_;
  QLabel* status_;
};

// The window of the command `type` describes (TypeKind::Doit), with a command of its own; in a
// session it opens in a frame of the desktop. Returns the content widget; null when `type` is no
// completed command.
QWidget* createDoitWindow(CType& type, const WindowContext& context);

} // namespace kestel::gui
