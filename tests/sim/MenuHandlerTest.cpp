// The menu handler on its own, with a client double: a subscriber that grants no credit is still
// not pushed more while its connection has a full backlog, and is served a few notifications
// per turn of the loop once it drains; changes coming faster than the credit lets through do not
// keep the current objects from being delivered.
#include "sim/MenuHandler.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"

#include <gtest/gtest.h>

#include <set>

namespace kestel {
namespace {

TEST(MenuHandler, WaitsWhileTheClientsBacklogIsFull) {
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  sim::MenuShape shape;
  shape.path = {22, 7};
  sim::MenuStore store(shape);
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
  ASSERT_TRUE(handler.handle({subscribe, user, false, peer, shape.path}));
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

// Changes arrive faster than whole notifications go out: the current objects still reach the
// subscriber, each notification carrying some of them beside the changes.
TEST(MenuHandler, ChangesDoNotKeepTheCurrentObjectsWaiting) {
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  sim::MenuShape shape;
  shape.path = {22, 7};
  sim::MenuStore store(shape);
  for (uint32_t n = 0; n < 2000; ++n) {
    nv::message row;
    row.set(nv::u32_id(1), n);
    store.append(row);
  }
  sim::MenuOptions options;
  sim::MenuHandler handler(reactor, store, options);
  std::set<uint32_t> delivered;
  uint32_t received = 0;
  auto peer = std::make_shared<sim::RouterPeer>(
      [&](const nv::message& m) {
        received += uint32_t(m.count(STD_OBJS));
        m.forEach(STD_OBJS, [&](const nv::message& o) { delivered.insert(o.get(STD_ID)); });
      },
      [] { return size_t(0); });
  sim::SimUser user;
  nv::message subscribe;
  subscribe.set(SYS_CMD, CMD_SUBSCRIBE);
  subscribe.set(SYS_FROM, std::vector<uint32_t>{0, 5});
  subscribe.set(SYS_ORIGINATOR, 300u);
  subscribe.set(sim::kDeliverCurrent, true);
  ASSERT_TRUE(handler.handle({subscribe, user, false, peer, shape.path}));
  // Between two grants more objects change than the credit lets through.
  uint32_t changed = 0;
  for (int turn = 0; turn < 300 && delivered.size() < store.size(); ++turn) {
    for (uint32_t n = 0; n < 400; ++n, ++changed) {
      nv::message row;
      row.set(nv::u32_id(1), changed);
      ASSERT_TRUE(store.change(store.idAt(changed % 1500), row).ok());
    }
    reactor.runOnce(0);
    nv::message grant;
    grant.set(SYS_CMD, sim::kCreditCommand);
    grant.set(SYS_FROM, std::vector<uint32_t>{0, 5});
    grant.set(SYS_ORIGINATOR, received);
    received = 0;
    handler.handle({grant, user, false, peer, shape.path});
    reactor.runOnce(0);
  }
  EXPECT_EQ(store.size(), delivered.size());
}

} // namespace
} // namespace kestel
