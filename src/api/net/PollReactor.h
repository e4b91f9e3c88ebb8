// A Reactor over poll(2) with a wake-up pipe for tasks posted from other threads. Its clock is
// either the system's monotonic clock or a manual one that moves only through advance(), so
// tests drive time-outs of any length without waiting. It does not own the watched descriptors.
#pragma once

#include "api/net/Reactor.h"

#include <map>
#include <mutex>
#include <poll.h>
#include <vector>

namespace kestel {

class PollReactor final : public Reactor {
public:
  enum class Clock { System, Manual };

  // Aborts (assertion) when the wake-up pipe cannot be made: nothing can run without it.
  explicit PollReactor(Clock clock = Clock::System);
  ~PollReactor() override;
  PollReactor(const PollReactor&) = delete;
  PollReactor& operator=(const PollReactor&) = delete;

  void watch(int fd, unsigned int events, IoCallback callback) override;
  void unwatch(int fd) override;
  TimerId addTimer(uint32_t ms, Task callback, bool repeat) override;
  void removeTimer(TimerId id) override;
  void post(Task task) override;
  int64_t now() const override;

  // One turn: runs posted tasks and due timers, then waits at most `waitMs` real milliseconds
  // (-1: no limit) for a descriptor, a posted task or, on the system clock, the next timer, and
  // dispatches what became ready. Returns false when poll itself fails.
  bool runOnce(int waitMs);
  // Turns until stop() is called (from any thread or a callback).
  void run();
  void stop();

  // Manual clock only: moves time forward by `ms`, firing every timer that falls due on the way
  // in due order, each seeing now() at its own due time.
  void advance(int64_t ms);

  // Number of live timers; for tests that check nothing was left behind.
  size_t timerCount() const { return timerDue_.size(); }

private:
  struct Watch {
    unsigned int events;
    uint64_t serial;
    std::shared_ptr<IoCallback> callback;
  };
  struct Timer {
    uint32_t ms;
    bool repeat;
    std::shared_ptr<Task> callback;
  };
  using TimerKey = std::pair<int64_t, TimerId>; // due time, id: fires in due order, then id order

  void runPosted();
  void runDueTimers(int64_t until);
  void fireTimer(std::map<TimerKey, Timer>::iterator it);
  int pollTimeout(int waitMs) const;
  void dispatch(const std::vector<::pollfd>& fds, const std::vector<uint64_t>& serials);
  void drainWakePipe();

  const Clock clock_;
  int64_t manualNow_ = 0;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;

  std::map<int, Watch> watches_;
  uint64_t nextSerial_ = 1;

  std::map<TimerKey, Timer> timers_;
  std::map<TimerId, int64_t> timerDue_;
  TimerId nextTimer_ = 1;

  std::mutex postedMutex_;
  std::vector<Task> posted_;
  bool stopRequested_ = false; // guarded by postedMutex_
};

} // namespace kestel
