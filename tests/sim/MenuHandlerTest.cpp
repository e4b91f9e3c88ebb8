// The menu handler on its own, with a client double: a subscriber that grants no credit is still
// not pushed more while its connection has a full backlog, and is served a few notifications
// per turn of the loop once it drains.
#include "sim/MenuHandler.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

TEST(MenuHandler, WaitsWhileTheClientsBacklogIsFull) {
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  sim::MenuSpec spec;
  spec.path = {22, 7};
  sim::MenuStore store(spec);
  for (uint32_t n = 0; n < 5000; ++n) {
    nv::message row;
    row.set(nv::u32_id(1), n);
    store.append(row);
  }
  sim::MenuOptions options;
  sim::MenuHandler handler(reactor, store, options);
  size_t backlog = sim::kMaxPeerBacklog + 1;
  size_t objects = 0;
  auto peer = std::make_shared<sim::RouterPeer>(
      [&](const nv::message& m) { objects += m.count(STD_OBJS); }, [&] { return backlog; });
  sim::SimUser user;
  nv::message subscribe;
  subscribe.set(SYS_CMD, CMD_SUBSCRIBE);
  subscribe.set(SYS_FROM, std::vector<uint32_t>{0, 5});
  subscribe.set(sim::kDeliverCurrent, true); // and no SYS_ORIGINATOR: no credit limit
  ASSERT_TRUE(handler.handle({subscribe, user, false, peer, spec.path}));
  for (int i = 0; i < 5; ++i)
    reactor.runOnce(0);
  EXPECT_EQ(0u, objects);

  // Drained: one retry sends a few pages and yields to the loop; the rest follows turn by turn.
  backlog = 0;
  reactor.advance(sim::kBacklogRetryMs);
  EXPECT_EQ(16u * options.pageSize, objects);
  int turns = 0;
  for (; turns < 100 && objects < store.size(); ++turns)
    reactor.runOnce(0);
  EXPECT_EQ(store.size(), objects);
  EXPECT_GT(turns, 1);
}

} // namespace
} // namespace kestel
