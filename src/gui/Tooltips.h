// Tooltips as the toolkit shows them: resting the mouse (no button held) on a window for 1000 ms
// shows the tip of that window or, when it has none, of its nearest parent that has one; the tip
// sits 16 pixels below and 3 to the right of the cursor, or 4 below and 1 to the left over a
// text (I-beam cursor). A key, a button or a move to another position removes it; a move event
// that does not change the position keeps it. The delay runs on the toolkit's timer service, so
// tests drive it with the manual clock. Qt's own tooltip events are taken over while installed.
#pragma once

#include "util/Event.h"

#include <QLabel>
#include <QObject>
#include <QPointer>

namespace kestel::gui {

inline constexpr unsigned int kTooltipDelayMs = 1000;

// Where the tip's top-left corner goes for a cursor at `cursor` (global coordinates).
QPoint tooltipPosition(QPoint cursor, bool textCursor);

// The tip window itself: a label in the palette's tooltip colours.
QLabel* createTooltip(const QString& text);

class TooltipController final : public QObject {
  Q_OBJECT
public:
  // Installs itself as an application event filter; removes itself when destroyed.
  explicit TooltipController(QObject* parent = nullptr);
  ~TooltipController() override;

  // The tip shown now, or null.
  QLabel* currentTip() const { return tip_; }
  // Called by the delay timer: shows the tip when the cursor still rests where it started.
  void delayElapsed();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  class Listener;
  void hide();
  void restart(QWidget* under, QPoint global);

  Reference<EventListener> listener_;
  QPointer<QWidget> under_;
  QPoint position_;
  bool timing_ = false;
  QPointer<QLabel> tip_;
};

} // namespace kestel::gui
