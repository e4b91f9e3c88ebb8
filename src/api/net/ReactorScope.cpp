#include "api/net/ReactorScope.h"

#include "util/Assert.h"

namespace kestel {

namespace {

ReactorScope* gScope = nullptr; // the innermost open scope

ReactorScope& scope() {
  KESTEL_ASSERT(gScope != nullptr, "api/net/reactor-scope"); // no scope is open
  return *gScope;
}

} // namespace

ReactorScope::ReactorScope(Reactor& reactor)
    : reactor_(reactor), timers_(reactor), previous_(gScope) {
  gScope = this;
}

ReactorScope::~ReactorScope() {
  KESTEL_ASSERT(gScope == this, "api/net/reactor-scope"); // ended out of order
  gScope = previous_;
}

Reactor& currentReactor() { return scope().reactor(); }

TimerService& timerService() { return scope().timers(); }

} // namespace kestel
