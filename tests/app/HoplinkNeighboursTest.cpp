#include "app/HoplinkNeighbours.h"

#include "api/net/PollReactor.h"
#include "api/wire/Vocabulary.h"
#include "util/Bytes.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

nv::message neighbour(uint8_t last, const char* identity) {
  using namespace hoplink_key;
  nv::message r;
  r.set(kAddress, Bytes{2, 0, 0, 0, 0, last});
  r.set(kCost, 10u);
  r.set(kHops, 2u);
  r.set(kPath, "eth0,ether2");
  r.set(kL2Mtu, 1500u);
  r.set(kIdentity, identity);
  r.set(kVersion, "7.15");
  r.set(kBoard, "SIM-1");
  r.set(kActive, true);
  return r;
}

// An agent whose list the test sets; it answers every request at once.
struct Agent {
  std::vector<nv::message> list;
  std::vector<std::string> asked; // "<cmd>@t"
  PollReactor* reactor = nullptr;
  HoplinkNeighbourList* client = nullptr;
  void onRequest(const nv::message& m) {
    asked.push_back(std::to_string(m.get(SYS_CMD)) + "@" + std::to_string(reactor->now()));
    EXPECT_EQ(m.get(SYS_TO), kHoplinkNeighbourHandler);
    nv::message r;
    if (m.get(SYS_CMD) == kHoplinkNeighbourStart) {
      r.set(STD_ID, 42u);
    } else {
      EXPECT_EQ(m.get(STD_ID), 42u);
      r.set(STD_OBJS, list);
    }
    r.set(SYS_TO, m.get(SYS_FROM));
    r.set(SYS_TYPE, TYPE_REPLY);
    r.set(SYS_REQID, m.get(SYS_REQID));
    client->onMessage(r);
  }
};

TEST(HoplinkNeighbours, StartsFetchesEverySecondAndTellsOnlyChanges) {
  PollReactor reactor(PollReactor::Clock::Manual);
  Agent agent;
  agent.reactor = &reactor;
  agent.list = {neighbour(1, "one")};
  HoplinkNeighbourList list(reactor, [&](const nv::message& m) { agent.onRequest(m); });
  agent.client = &list;
  int changes = 0;
  list.start([&] { ++changes; });
  EXPECT_EQ(list.listId(), 42u);
  ASSERT_EQ(list.list().size(), 1u);
  EXPECT_EQ(hoplinkNeighbourTexts(list.list()[0]),
            (std::vector<std::string>{"02:00:00:00:00:01", "10", "2", "eth0,ether2", "1500", "one",
                                      "7.15", "SIM-1", "yes"}));
  reactor.advance(2000);
  EXPECT_EQ(agent.asked,
            (std::vector<std::string>{"1@0", "16646148@0", "16646148@1000", "16646148@2000"}));
  EXPECT_EQ(changes, 1) << "unchanged fetches are not news";
  agent.list.push_back(neighbour(2, "two"));
  reactor.advance(1000);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(list.list().size(), 2u);
  list.stop();
  reactor.advance(5000);
  EXPECT_EQ(agent.asked.size(), 5u);
  EXPECT_EQ(reactor.timerCount(), 0u);
}

TEST(HoplinkNeighbours, AnAgentCannotGrowTheListPastItsCap) {
  PollReactor reactor(PollReactor::Clock::Manual);
  Agent agent;
  agent.reactor = &reactor;
  for (size_t i = 0; i < kMaxHoplinkNeighbours + 50; ++i)
    agent.list.push_back(neighbour(uint8_t(i), "n"));
  HoplinkNeighbourList list(reactor, [&](const nv::message& m) { agent.onRequest(m); });
  agent.client = &list;
  list.start({});
  EXPECT_EQ(list.list().size(), kMaxHoplinkNeighbours);
}

} // namespace
} // namespace kestel
