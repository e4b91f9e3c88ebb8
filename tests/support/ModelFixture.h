// A test fixture with nothing shared: each test gets a fresh descriptor model context and a
// manual-clock reactor with its own timer service, both installed for the test's lifetime and
// removed afterwards even when the test fails, so no state reaches the next test.
#pragma once

#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "gen/ModelContext.h"

#include <gtest/gtest.h>

namespace kestel::test {

class ModelFixture : public ::testing::Test {
protected:
  ModelContext model;
  ModelScope modelScope{model};
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope reactorScope{reactor};
};

} // namespace kestel::test
