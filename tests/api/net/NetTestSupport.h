// Shared helpers for the net tests: a manual-clock reactor installed as the current one, a
// listener that records events, and a bounded loop that turns the reactor until a condition holds.
#pragma once

#include "api/net/Events.h"
#include "api/net/IConnection.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/net/Timers.h"
#include "support/Constants.h"
#include "util/Bytes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kestel::test {

// Turns the reactor (real descriptors, manual timers) until `done` holds; false after
// kRealTimeLimit of real time, which only happens when the code under test is broken.
inline bool runUntil(PollReactor& reactor, const std::function<bool()>& done) {
  auto limit = std::chrono::steady_clock::now() + kRealTimeLimit;
  while (!done() && std::chrono::steady_clock::now() < limit)
    reactor.runOnce(10);
  return done();
}

// Installs a manual-clock reactor, with a timer service of its own, for the test.
class ReactorTest : public ::testing::Test {
protected:
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope scope{reactor};
};

// Collects everything a channel receives, and the channel byte of every chunk.
struct Collector final : IChannelReceiver {
  void receive(uint8_t raw, const uint8_t* data, size_t length) override {
    rawChannels.push_back(raw);
    bytes.insert(bytes.end(), data, data + length);
  }
  std::vector<uint8_t> rawChannels;
  Bytes bytes;
};

// Records every event it gets, decoded for the kinds the tests care about.
class RecordingListener final : public EventListener {
public:
  void onEvent(Event& event) override {
    if (auto* c = static_cast<IConnectionEvent*>(event.cast(kConnectionEventInterface)))
      connection.emplace_back(c->state(), c->reason());
    if (auto* t = static_cast<ITimerEvent*>(event.cast(kTimerEventInterface)))
      timers.push_back(t->timerId());
    if (const nv::message* m = messageOf(event))
      messages.push_back(*m);
    if (onAny)
      onAny(event);
  }
  std::vector<std::pair<IConnectionEvent::State, std::string>> connection;
  std::vector<unsigned int> timers;
  std::vector<nv::message> messages;
  std::function<void(Event&)> onAny;
};

} // namespace kestel::test
