// The toolkit's timer service: timers owned by (listener, context) pairs that deliver a timer
// event to the listener. Request time-outs, connect time-outs, keep-alive probes and rescans use
// it. Ids come from a counter that starts at 1 and skips 0; callers see the counter value minus
// one, so an id handed out is never 0xFFFFFFFF ("none"). A one-shot entry is erased before its
// listener runs; every entry keeps its listener alive with a counted reference.
#pragma once

#include "api/net/Reactor.h"
#include "util/Event.h"

#include <cstdint>
#include <map>

namespace kestel {

// The event a timer delivers (cast(kTimerEventInterface) on the event).
class ITimerEvent : public Event {
public:
  virtual unsigned int timerId() const = 0; // as addTimer returned it
  virtual void* context() const = 0;
};

Reference<Event> createTimerEvent(unsigned int id, void* context);

class TimerService {
public:
  // `counterStart` is where the id counter starts counting from (tests start near the wrap).
  explicit TimerService(Reactor& reactor, uint32_t counterStart = 0)
      : reactor_(reactor), counter_(counterStart) {}
  ~TimerService(); // removes every timer from the reactor
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;

  // Starts a timer of `ms` milliseconds; returns its id. A null listener gets no timer and
  // 0xFFFFFFFF.
  unsigned int addTimer(unsigned int ms, EventListener* listener, void* context, bool repeat);
  // Removes every timer of this listener and context; none is fine.
  void removeTimer(EventListener* listener, void* context);
  // Removes the timer with this id; unknown ids are ignored.
  void removeTimerByID(unsigned int id);
  bool hasTimer(EventListener* listener, void* context) const;

  size_t size() const { return entries_.size(); }

private:
  struct Entry {
    Reference<EventListener> listener;
    void* context;
    bool repeat;
    Reactor::TimerId reactorTimer;
  };
  uint32_t nextKey();
  void fire(uint32_t key);

  Reactor& reactor_;
  uint32_t counter_;
  std::map<uint32_t, Entry> entries_; // by counter value (caller's id + 1)
};

// The service of the innermost ReactorScope, over its reactor; asserts when no scope is open.
TimerService& timerService();

// The toolkit's free functions over timerService().
unsigned int addTimer(unsigned int ms, EventListener* listener, void* context, bool repeat);
void removeTimer(EventListener* listener, void* context);
void removeTimerByID(unsigned int id);
bool hasTimer(EventListener* listener, void* context);

} // namespace kestel
