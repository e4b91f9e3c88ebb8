// The current reactor as a scope: nested scopes restore the enclosing one, each scope's timer
// service goes with it (its timers leave the reactor), and using either with no scope open is a
// programming error that stops the process.
#include "api/net/ReactorScope.h"

#include "NetTestSupport.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

TEST(ReactorScope, NestedScopesRestoreTheEnclosingOne) {
  PollReactor outer(PollReactor::Clock::Manual);
  PollReactor inner(PollReactor::Clock::Manual);
  auto listener = makeRef<test::RecordingListener>();
  ReactorScope outerScope(outer);
  addTimer(10, listener.get(), nullptr, false);
  {
    ReactorScope innerScope(inner);
    EXPECT_EQ(&currentReactor(), &inner);
    EXPECT_EQ(timerService().size(), 0u) << "a scope starts with a timer service of its own";
    addTimer(10, listener.get(), nullptr, true);
    EXPECT_EQ(inner.timerCount(), 1u);
  }
  EXPECT_EQ(inner.timerCount(), 0u) << "the scope's timers leave the reactor with it";
  EXPECT_EQ(&currentReactor(), &outer);
  EXPECT_EQ(timerService().size(), 1u);
  outer.advance(10);
  EXPECT_EQ(listener->timers.size(), 1u);
}

using ReactorScopeDeathTest = ::testing::Test;

TEST_F(ReactorScopeDeathTest, NoScopeIsAProgrammingError) {
  EXPECT_DEATH(currentReactor(), "ASSERT in api/net/reactor-scope");
  EXPECT_DEATH(timerService(), "ASSERT in api/net/reactor-scope");
}

} // namespace
} // namespace kestel
