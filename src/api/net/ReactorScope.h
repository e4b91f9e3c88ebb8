// The current reactor as a scope: a program, test or benchmark opens a ReactorScope over its
// reactor, and for the scope's lifetime currentReactor() is that reactor and timerService() a
// timer service of the scope's own over it. Nothing falls back to a reactor of its own making.
#pragma once

#include "api/net/Reactor.h"
#include "api/net/Timers.h"

namespace kestel {

class ReactorScope {
public:
  // Installs `reactor` (which the caller keeps alive while the scope lasts) with a fresh timer
  // service.
  explicit ReactorScope(Reactor& reactor);
  // Removes the scope's timers from the reactor and restores the enclosing scope; scopes must end
  // in reverse order (asserted).
  ~ReactorScope();
  ReactorScope(const ReactorScope&) = delete;
  ReactorScope& operator=(const ReactorScope&) = delete;

  Reactor& reactor() { return reactor_; }
  TimerService& timers() { return timers_; }

private:
  Reactor& reactor_;
  TimerService timers_;
  ReactorScope* previous_;
};

} // namespace kestel
