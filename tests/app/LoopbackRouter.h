// A fixture with a simulated router in the same process on loopback (login, console, torch), a
// client logged in to it through the connect step and the looper routed through that session;
// one manual-clock reactor drives both sides.
#pragma once

#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/ConnectStep.h"
#include "app/LooperRoute.h"
#include "sim/Console.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"
#include "sim/Torch.h"
#include "support/Constants.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kestel::test {

class LoopbackRouterTest : public ::testing::Test {
protected:
  LoopbackRouterTest() {
    resetLooper();
    login.addUser("admin", "pw");
    login.install(server);
    console.install(login);
    torch.install(login);
    port = *server.listen(0);
    step = makeRef<ConnectStep>(reactor, ConnectRequest{kLoopback, port, "admin", "pw"},
                                [this](const ConnectOutcome& o) { outcome = o; });
    step->start();
    EXPECT_TRUE(drive([this] { return outcome.has_value(); }));
    EXPECT_EQ(outcome->kind, ConnectOutcome::LoggedIn);
    route = std::make_unique<LooperRoute>(*step, [this](const std::string& reason) {
      if (onClosed)
        onClosed(reason);
    });
  }
  ~LoopbackRouterTest() override {
    route.reset();
    step->cancel();
    resetLooper();
  }

  // Turns the reactor, moving the manual clock 1 ms per turn, until `done` or a limit.
  bool drive(const std::function<bool()>& done) {
    auto limit = std::chrono::steady_clock::now() + kRealTimeLimit;
    while (!done() && std::chrono::steady_clock::now() < limit) {
      reactor.runOnce(1);
      reactor.advance(1);
    }
    return done();
  }

  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope scope{reactor};
  sim::SimServer server{reactor};
  sim::RouterLogin login;
  sim::Console console{reactor};
  sim::TorchSource torch{reactor};
  uint16_t port = 0;
  Reference<ConnectStep> step;
  std::optional<ConnectOutcome> outcome;
  std::unique_ptr<LooperRoute> route;
  std::function<void(const std::string&)> onClosed;
};

} // namespace kestel::test
