// The core's Reactor over Qt's event loop, so that connections, sessions and the toolkit's timer
// service run on the GUI thread with Qt's loop as the only loop. Descriptors are watched with one
// QSocketNotifier per direction, toggled rather than recreated; when a notifier fires, a zero-wait
// poll(2) of the descriptor gives the exact ready bits (including hang-up and error, which Qt
// folds into "readable"). Timers are precise QTimers; post() queues the task on the loop and is
// the only call allowed from another thread. now() is a monotonic clock in milliseconds.
#pragma once

#include "api/net/Reactor.h"

#include <QElapsedTimer>
#include <QObject>

#include <map>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace kestel::gui {

class QtReactor final : public QObject, public Reactor {
  Q_OBJECT
public:
  explicit QtReactor(QObject* parent = nullptr);
  ~QtReactor() override;

  void watch(int fd, unsigned int events, IoCallback callback) override;
  void unwatch(int fd) override;
  TimerId addTimer(uint32_t ms, Task callback, bool repeat) override;
  void removeTimer(TimerId id) override;
  void post(Task task) override;
  int64_t now() const override;

  size_t watchCount() const { return watches_.size(); }
  size_t timerCount() const { return timers_.size(); }

private:
  struct Watch {
    unsigned int events = 0;
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
    std::shared_ptr<IoCallback> callback;
  };
  void activated(int fd);
  void fired(TimerId id);

  std::map<int, Watch> watches_;
  std::map<TimerId, QTimer*> timers_;
  TimerId nextTimer_ = 1;
  QElapsedTimer clock_;
};

} // namespace kestel::gui
