// The event loop the core runs on: readiness of descriptors, timers on the reactor's clock, and
// tasks posted from other threads. Everything but post() must be called on the loop's thread;
// callbacks run there too. The GUI implements it over its own loop; PollReactor serves the
// simulator, headless tools and tests (with a manual clock that only moves when told to).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kestel {

// Readiness bits for watch() and for the callback.
enum IoEvent : unsigned int {
  IoRead = 1,
  IoWrite = 2,
  IoError = 4,  // reported whether asked for or not
  IoHangUp = 8, // reported whether asked for or not
};

class Reactor {
public:
  using Task = std::function<void()>;
  using IoCallback = std::function<void(unsigned int events)>;
  using TimerId = uint64_t;

  virtual ~Reactor() = default;

  // Calls `callback` with the ready bits while `fd` is ready for any of `events`; a second watch
  // of the same descriptor replaces the first.
  virtual void watch(int fd, unsigned int events, IoCallback callback) = 0;
  // Stops watching; unknown descriptors are ignored. Safe to call from inside the callback.
  virtual void unwatch(int fd) = 0;

  // Runs `callback` after `ms` milliseconds (again every `ms` when `repeat`). A one-shot timer
  // is erased before its callback runs. Ids are never 0 and never reused.
  virtual TimerId addTimer(uint32_t ms, Task callback, bool repeat) = 0;
  // Removes a timer; unknown or already fired ids are ignored.
  virtual void removeTimer(TimerId id) = 0;

  // Queues `task` to run on the loop's thread. The only call allowed from another thread.
  virtual void post(Task task) = 0;

  // Milliseconds on the reactor's clock.
  virtual int64_t now() const = 0;
};

// The reactor of the innermost ReactorScope (api/net/ReactorScope.h), which the looper's sessions
// and the timer service run on. Asserts when no scope is open: a program or test that uses them
// installs its reactor first.
Reactor& currentReactor();

} // namespace kestel
