// Subscriptions over loopback: one client's edits reach the other as notifications (objects,
// death notices, a refresh request after a move), the credit a subscriber grants bounds what is
// pushed until it grants more, the churn's changes leave a crediting subscriber's mirror equal to
// the store, and --drop-subscription forgets subscribers.
#include "MenuTestSupport.h"

namespace kestel::test {
namespace {

const Path kFirewall{21, 4};
const Path kLog{22, 7};

nv::message subscription(uint32_t credit, bool deliverCurrent) {
  nv::message m;
  m.set(STD_FILTER, 5u);
  m.set(SYS_ORIGINATOR, credit);
  if (deliverCurrent)
    m.set(sim::kDeliverCurrent, true);
  return m;
}

class MenuSubscriptionTest : public MenuRouterTest {};

TEST_F(MenuSubscriptionTest, EachClientSeesTheOthersEdits) {
  startRouter();
  auto a = client();
  auto b = client();
  ASSERT_FALSE(isError(a->call(kFirewall, CMD_SUBSCRIBE, subscription(1000, false))));
  ASSERT_FALSE(isError(b->call(kFirewall, CMD_SUBSCRIBE, subscription(1000, false))));
  a->sync();
  b->sync();
  EXPECT_TRUE(b->notifications.empty());

  nv::message rule;
  rule.set(nv::string_id(0x1E), "from a");
  uint32_t id = a->call(kFirewall, CMD_ADDOBJ, rule).get(STD_ID);
  b->sync();
  ASSERT_EQ(1u, b->notifications.size());
  EXPECT_EQ(std::vector<uint32_t>{id}, idsOf(b->notifications[0]));
  EXPECT_EQ("from a", b->mirror[id].get(nv::string_id(0x1E)));
  EXPECT_EQ(7u, b->notifications[0].get(sim::kObjectCount));
  EXPECT_EQ(kFirewall, b->notifications[0].get(SYS_FROM));
  EXPECT_EQ((Path{0, 5}), b->notifications[0].get(SYS_TO));

  nv::message change;
  change.set(STD_ID, id);
  change.set(nv::u32_id(0x12), 25u);
  ASSERT_FALSE(isError(b->call(kFirewall, CMD_SETOBJ, change)));
  a->sync();
  EXPECT_EQ(25u, a->mirror[id].get(nv::u32_id(0x12)));

  nv::message remove;
  remove.set(STD_ID, id);
  ASSERT_FALSE(isError(a->call(kFirewall, CMD_REMOVEOBJ, remove)));
  b->sync();
  const nv::message& death = b->notifications.back();
  ASSERT_EQ(1u, death.count(STD_OBJS));
  EXPECT_EQ(1u, death.get(STD_OBJS)[0].get(sim::kDead));
  EXPECT_EQ(0u, b->mirror.count(id));

  // A notification cannot place an object: after a move the subscriber is asked to refetch.
  nv::message move;
  move.set(STD_ID, catalogue->store("firewall")->idAt(5));
  move.set(STD_NEXTID, catalogue->store("firewall")->idAt(0));
  ASSERT_FALSE(isError(a->call(kFirewall, CMD_MOVEOBJ, move)));
  b->sync();
  EXPECT_FALSE(b->notifications.back().has(STD_OBJS));

  // After unsubscribing nothing more comes.
  b->send(kFirewall, CMD_UNSUBSCRIBE, subscription(1000, false));
  b->sync();
  size_t seen = b->notifications.size();
  ASSERT_FALSE(isError(a->call(kFirewall, CMD_ADDOBJ, rule)));
  b->sync();
  EXPECT_EQ(seen, b->notifications.size());
}

TEST_F(MenuSubscriptionTest, NothingBeyondTheCreditUntilItIsRefilled) {
  sim::CatalogueOptions options;
  options.fill = true;
  options.rows = 5000;
  options.menus.pageSize = 100;
  startRouter(options);
  auto c = client();
  ASSERT_FALSE(isError(c->call(kLog, CMD_SUBSCRIBE, subscription(1000, true))));
  c->sync();
  c->sync();
  EXPECT_EQ(1000u, c->notifiedObjects);
  for (const nv::message& n : c->notifications)
    EXPECT_LE(n.count(STD_OBJS), 100u);

  // A grant of 600 (what the maps send after 600 objects) lets exactly 600 more through.
  nv::message grant;
  grant.set(SYS_ORIGINATOR, 600u);
  c->send(kLog, sim::kCreditCommand, grant);
  c->sync();
  c->sync();
  EXPECT_EQ(1600u, c->notifiedObjects);
  // A grant cannot raise the credit above the first one.
  grant.set(SYS_ORIGINATOR, 100000u);
  c->send(kLog, sim::kCreditCommand, grant);
  c->sync();
  c->sync();
  EXPECT_EQ(2600u, c->notifiedObjects);

  // Granting as the maps do delivers the rest, each object once, in order.
  c->refill = true;
  c->credit = 0;
  grant.set(SYS_ORIGINATOR, 1000u);
  c->send(kLog, sim::kCreditCommand, grant);
  ASSERT_TRUE(runUntil(reactor, [&] { return c->notifiedObjects >= 5000; }));
  c->sync();
  EXPECT_EQ(5000u, c->notifiedObjects);
  EXPECT_EQ(5000u, c->mirror.size());
}

TEST_F(MenuSubscriptionTest, ChurnLeavesACreditingMirrorEqualToTheStore) {
  sim::CatalogueOptions options;
  options.fill = true;
  options.rows = 2000;
  options.table = "routes";
  options.churn = 5000; // 500 per tick: the credit runs out within each tick
  startRouter(options);
  auto c = client();
  c->refill = true;
  ASSERT_FALSE(isError(c->call({21, 2}, CMD_SUBSCRIBE, subscription(1000, true))));
  for (int tick = 0; tick < 20; ++tick) {
    reactor.advance(sim::Churn::kTickMs);
    c->sync();
  }
  // Quiet: no more churn (the timer stops with the catalogue's churn only at the end, so let
  // the deliveries catch up by round trips, each of which lets a refill through).
  sim::MenuStore& routes = *catalogue->store("routes");
  for (int i = 0; i < 50; ++i)
    c->sync();
  ASSERT_EQ(routes.size(), c->mirror.size());
  for (const auto& [id, object] : c->mirror) {
    ASSERT_TRUE(routes.contains(id)) << id;
    EXPECT_EQ(routes.get(id), object) << id;
  }
  EXPECT_GT(c->notifiedObjects, 2000u);
}

TEST_F(MenuSubscriptionTest, DroppedSubscriptionsGoQuiet) {
  sim::CatalogueOptions options;
  options.menus.dropSubscriptionAfter = 3;
  startRouter(options);
  auto a = client();
  auto b = client();
  ASSERT_FALSE(isError(b->call(kFirewall, CMD_SUBSCRIBE, subscription(1000, true))));
  b->sync();
  EXPECT_EQ(3u, b->notifiedObjects); // of the six rules there
  for (int i = 0; i < 5; ++i)
    ASSERT_FALSE(isError(a->call(kFirewall, CMD_ADDOBJ)));
  b->sync();
  EXPECT_EQ(3u, b->notifiedObjects);
  EXPECT_EQ(0u, catalogue->handler("firewall")->subscriptionCount());
}

} // namespace
} // namespace kestel::test
