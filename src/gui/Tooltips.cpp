#include "gui/Tooltips.h"

#include "api/net/Timers.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace kestel::gui {

class TooltipController::Listener final : public EventListener {
public:
  explicit Listener(TooltipController* owner) : owner_(owner) {}
  void onEvent(Event& event) override {
    if (owner_ && event.cast(kTimerEventInterface))
      owner_->delayElapsed();
  }
  void detach() { owner_ = nullptr; }

private:
  TooltipController* owner_;
};

QPoint tooltipPosition(QPoint cursor, bool textCursor) {
  return textCursor ? cursor + QPoint(-1, 4) : cursor + QPoint(3, 16);
}

QLabel* createTooltip(const QString& text) {
  auto* tip = new QLabel(text, nullptr, Qt::ToolTip);
  tip->setForegroundRole(QPalette::ToolTipText);
  tip->setBackgroundRole(QPalette::ToolTipBase);
  tip->setAutoFillBackground(true);
  tip->setFrameStyle(QFrame::Box | QFrame::Plain);
  tip->setMargin(2);
  tip->setAttribute(Qt::WA_DeleteOnClose);
  tip->adjustSize();
  return tip;
}

TooltipController::TooltipController(QObject* parent)
    : QObject(parent), listener_(new Listener(this)) {
  qApp->installEventFilter(this);
}

TooltipController::~TooltipController() {
  qApp->removeEventFilter(this);
  removeTimer(listener_.get(), this);
  static_cast<Listener*>(listener_.get())->detach();
  hide();
}

void TooltipController::hide() {
  if (tip_)
    tip_->close();
  tip_ = nullptr;
}

void TooltipController::restart(QWidget* under, QPoint global) {
  removeTimer(listener_.get(), this);
  under_ = under;
  position_ = global;
  timing_ = under != nullptr;
  if (timing_)
    addTimer(kTooltipDelayMs, listener_.get(), this, false);
}

void TooltipController::delayElapsed() {
  if (!timing_ || !under_)
    return;
  timing_ = false;
  for (QWidget* w = under_; w; w = w->parentWidget()) {
    if (w->toolTip().isEmpty())
      continue;
    hide();
    tip_ = createTooltip(w->toolTip());
    const bool text = under_->cursor().shape() == Qt::IBeamCursor;
    tip_->move(tooltipPosition(position_, text));
    tip_->show();
    return;
  }
}

bool TooltipController::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
  case QEvent::ToolTip:
    return true; // the controller decides when tips appear
  case QEvent::MouseMove: {
    // Every move reaches the window first (widgets see it only with mouse tracking on).
    if (!watched->isWindowType())
      break;
    auto* e = static_cast<QMouseEvent*>(event);
    if (e->buttons() != Qt::NoButton) {
      hide();
      restart(nullptr, {});
      break;
    }
    const QPoint global = e->globalPosition().toPoint();
    if (global == position_ && (tip_ || timing_))
      break; // no real move: the tip stays
    hide();
    restart(QApplication::widgetAt(global), global);
    break;
  }
  case QEvent::KeyPress:
  case QEvent::MouseButtonPress:
  case QEvent::MouseButtonDblClick:
  case QEvent::Wheel:
    hide();
    restart(nullptr, {});
    break;
  default:
    break;
  }
  return false;
}

} // namespace kestel::gui
