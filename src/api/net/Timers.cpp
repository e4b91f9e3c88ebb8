#include "api/net/Timers.h"

#include <memory>

namespace kestel {

namespace {

class TimerEvent final : public ITimerEvent {
public:
  TimerEvent(unsigned int id, void* context) : id_(id), context_(context) {}
  IBase* cast(unsigned int id) override { return id == kTimerEventInterface ? this : nullptr; }
  unsigned int timerId() const override { return id_; }
  void* context() const override { return context_; }

private:
  unsigned int id_;
  void* context_;
};

} // namespace

Reference<Event> createTimerEvent(unsigned int id, void* context) {
  return Reference<Event>(new TimerEvent(id, context));
}

TimerService::~TimerService() {
  for (auto& [key, entry] : entries_)
    reactor_.removeTimer(entry.reactorTimer);
}

uint32_t TimerService::nextKey() {
  do {
    ++counter_;
  } while (counter_ == 0 || entries_.count(counter_));
  return counter_;
}

unsigned int TimerService::addTimer(unsigned int ms, EventListener* listener, void* context,
                                    bool repeat) {
  if (!listener)
    return 0xFFFFFFFF;
  uint32_t key = nextKey();
  Reactor::TimerId timer = reactor_.addTimer(
      ms, [this, key] { fire(key); }, repeat);
  entries_.emplace(key, Entry{Reference<EventListener>(listener), context, repeat, timer});
  return key - 1;
}

void TimerService::fire(uint32_t key) {
  auto it = entries_.find(key);
  if (it == entries_.end())
    return;
  Reference<EventListener> listener = it->second.listener;
  void* context = it->second.context;
  if (!it->second.repeat)
    entries_.erase(it); // the reactor has already dropped its one-shot timer
  Reference<Event> event = createTimerEvent(key - 1, context);
  listener->onEvent(*event);
}

void TimerService::removeTimer(EventListener* listener, void* context) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second.listener.get() != listener || it->second.context != context) {
      ++it;
      continue;
    }
    reactor_.removeTimer(it->second.reactorTimer);
    it = entries_.erase(it);
  }
}

void TimerService::removeTimerByID(unsigned int id) {
  auto it = entries_.find(id + 1);
  if (it == entries_.end())
    return;
  reactor_.removeTimer(it->second.reactorTimer);
  entries_.erase(it);
}

bool TimerService::hasTimer(EventListener* listener, void* context) const {
  for (auto& [key, entry] : entries_) {
    if (entry.listener.get() == listener && entry.context == context)
      return true;
  }
  return false;
}

unsigned int addTimer(unsigned int ms, EventListener* listener, void* context, bool repeat) {
  return timerService().addTimer(ms, listener, context, repeat);
}

void removeTimer(EventListener* listener, void* context) {
  timerService().removeTimer(listener, context);
}

void removeTimerByID(unsigned int id) { timerService().removeTimerByID(id); }

bool hasTimer(EventListener* listener, void* context) {
  return timerService().hasTimer(listener, context);
}

} // namespace kestel
