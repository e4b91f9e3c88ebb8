// Subscription, notifications, notify credit, defaults, policies and the refresh timer.
#include "MapTestSupport.h"

#include "gen/ModelContext.h"

namespace kestel::test {
namespace {

using U32s = std::vector<uint32_t>;

class SubscribeTest : public ContainerTest {
protected:
  Reference<ObjectMap> makeMap(ObjectMapOptions o = {}) {
    auto map = makeRef<ObjectMap>(items.factory, Path{24, 1}, std::move(o));
    map->addListener(log.get());
    return map;
  }
  // Opens the map and answers the policy request; returns the subscribe request.
  nv::message openSubscribed(ObjectMap& map) {
    map.open();
    if (countOf(CMD_GETPOLICIES) > 0)
      answer(last(CMD_GETPOLICIES));
    return last(CMD_SUBSCRIBE);
  }
  ItemFactory items;
  Reference<EventLog> log = makeRef<EventLog>();
};

TEST_F(SubscribeTest, SubscribeRequestAsksForTheCurrentObjectsWithCredit) {
  auto map = makeMap();
  nv::message sub = openSubscribed(*map);
  EXPECT_EQ(sub.get(SYS_TO), (U32s{24, 1}));
  EXPECT_EQ(sub.get(SYS_ORIGINATOR), kNotifyCredit);
  EXPECT_EQ(sub.get(STD_FILTER), kDefaultFilterMask);
  EXPECT_TRUE(sub.get(KEY_SUBSCRIBE_CURRENT));
  EXPECT_EQ(countOf(CMD_GETALL), 0u); // the objects come through the subscription
  EXPECT_TRUE(map->isSubscribed());
  EXPECT_TRUE(map->policiesLoaded());

  notify(sub, withObjects({element(1, "a"), element(2, "b")}));
  EXPECT_EQ(map->ids(), (U32s{1, 2}));
  map->unsubscribe();
  nv::message unsub = last(CMD_UNSUBSCRIBE);
  EXPECT_EQ(unsub.get(SYS_ORIGINATOR), kNotifyCredit);
  EXPECT_TRUE(unsub.get(KEY_SUBSCRIBE_CURRENT));
  EXPECT_FALSE(map->isSubscribed());
}

TEST_F(SubscribeTest, RefetchOnOpenFetchesAgainOnEveryLaterOpen) {
  for (bool refetch : {false, true}) {
    SCOPED_TRACE(refetch ? "refetch on open" : "plain");
    posted().clear();
    ObjectMapOptions o;
    o.refetchOnOpen = refetch;
    auto map = makeMap(o);
    nv::message sub = openSubscribed(*map);
    EXPECT_EQ(countOf(CMD_GETALL), 0u); // the first open: the subscription brings the objects
    notify(sub, withObjects({element(1, "a"), element(2, "b")}));
    map->open();
    ASSERT_EQ(countOf(CMD_GETALL), refetch ? 1u : 0u);
    EXPECT_EQ(countOf(CMD_SUBSCRIBE), 1u);
    if (!refetch)
      continue;
    map->open(); // a fetch is running: no second one
    EXPECT_EQ(countOf(CMD_GETALL), 1u);
    answer(last(CMD_GETALL), page(elements(2, 1)));
    EXPECT_EQ(map->ids(), U32s{2}); // 1 is gone on the router
    map->open();
    EXPECT_EQ(countOf(CMD_GETALL), 2u);
  }
}

TEST_F(SubscribeTest, FortyNineNotifiedObjectsGiveFortyNineEventsFiftyGiveOneReset) {
  auto map = makeMap();
  nv::message sub = openSubscribed(*map);
  notify(sub, withObjects(elements(1, 49)));
  EXPECT_EQ(log->seen.size(), 49u);
  EXPECT_EQ(log->count(MapEventKind::Added), 49u);
  EXPECT_TRUE(log->seen.front().more);
  EXPECT_FALSE(log->seen.back().more);
  log->seen.clear();
  notify(sub, withObjects(elements(100, 50)));
  EXPECT_EQ(log->seen, (std::vector<Seen>{{MapEventKind::Reset, kNoId, false}}));
  EXPECT_EQ(map->size(), 99u);
}

TEST_F(SubscribeTest, CreditIsReturnedOnceAfterSixHundredNotifiedObjects) {
  auto map = makeMap();
  nv::message sub = openSubscribed(*map);
  for (uint32_t batch = 0; batch < 5; ++batch)
    notify(sub, withObjects(elements(1 + batch * 100, 100)));
  EXPECT_EQ(countOf(CMD_NOTIFY_CREDIT), 0u);
  EXPECT_EQ(map->notifyCredit(), 500u);
  notify(sub, withObjects(elements(501, 100)));
  auto credits = sentWith(CMD_NOTIFY_CREDIT);
  ASSERT_EQ(credits.size(), 1u);
  EXPECT_EQ(credits[0].get(SYS_ORIGINATOR), 600u);
  EXPECT_EQ(credits[0].get(SYS_TO), (U32s{24, 1}));
  EXPECT_EQ(credits[0].get(SYS_FROM), sub.get(SYS_FROM)); // on the subscription's handler
  EXPECT_EQ(map->notifyCredit(), kNotifyCredit);

  notify(sub, withObjects(elements(1, 5000))); // more than the credit: floor at zero
  EXPECT_EQ(sentWith(CMD_NOTIFY_CREDIT).back().get(SYS_ORIGINATOR), 1000u);
}

TEST_F(SubscribeTest, NotificationsUpdateRemoveAndAskForRefresh) {
  auto map = makeMap();
  nv::message sub = openSubscribed(*map);
  notify(sub, withObjects({element(1, "a", 1), element(2, "b", 2)}));
  log->seen.clear();
  nv::message partial;
  partial.set(STD_ID, 1u);
  partial.set(KEY_VALUE, 7u); // the name is absent and keeps its value
  nv::message death;
  death.set(STD_ID, 2u);
  death.set(nv::u32_id(STD_DEAD), 1u);
  nv::message unknownDeath;
  unknownDeath.set(STD_ID, 99u);
  unknownDeath.set(nv::bool_id(STD_DEAD), true);
  nv::message counted = withObjects({partial, death, unknownDeath});
  counted.set(nv::u32_id(STD_OBJ_COUNT), 1u);
  notify(sub, counted);
  EXPECT_EQ(map->ids(), U32s{1});
  EXPECT_EQ(recOf(map->find(1)).name, "a");
  EXPECT_EQ(recOf(map->find(1)).value, 7u);
  EXPECT_EQ(map->objectCount(), 1u);
  EXPECT_EQ(log->seen, (std::vector<Seen>{{MapEventKind::Changed, 1, true},
                                          {MapEventKind::Removed, 2, false}}));

  size_t fetches = countOf(CMD_GETALL);
  notify(sub, nv::message()); // no objects: the router wants a full refresh
  EXPECT_EQ(countOf(CMD_GETALL), fetches + 1);
}

TEST_F(SubscribeTest, PredicateThatStartsRejectingRemovesTheObject) {
  auto map = makeMap();
  map->addPredicate(std::make_shared<ValueIsNot>(13));
  nv::message sub = openSubscribed(*map);
  notify(sub, withObjects({element(1, "a", 1), element(2, "hidden", 13)}));
  EXPECT_EQ(map->ids(), U32s{1});
  log->seen.clear();
  notify(sub, withObjects({element(1, "a", 13)}));
  EXPECT_EQ(map->size(), 0u);
  EXPECT_EQ(log->seen, (std::vector<Seen>{{MapEventKind::Removed, 1, false}}));
  map->refresh(); // a fetch hides it as well
  answer(last(CMD_GETALL), page({element(1, "a", 13), element(3, "c", 0)}));
  EXPECT_EQ(map->ids(), U32s{3});
}

TEST_F(SubscribeTest, ExtenderMayRejectNotifiedObjectsButNotDeathNotices) {
  struct OddOnly final : IRequestExtender {
    void extend(nv::message& m) const override { m.set(nv::u32_id(0xfe0040), 1u); }
    bool accepts(const nv::message& m) const override { return m.get(STD_ID) % 2 == 1; }
  };
  auto map = makeMap();
  auto ext = makeRef<OddOnly>();
  map->setRequestExtender(ext.get());
  nv::message sub = openSubscribed(*map);
  EXPECT_EQ(sub.get(nv::u32_id(0xfe0040)), 1u);
  notify(sub, withObjects({element(1, "a"), element(2, "b"), element(3, "c")}));
  EXPECT_EQ(map->ids(), (U32s{1, 3}));
}

TEST_F(SubscribeTest, NotificationsAreIgnoredWhileTheMapShowsAnError) {
  auto map = makeMap();
  nv::message sub = openSubscribed(*map);
  map->refresh();
  answerError(last(CMD_GETALL), ERROR_FAILED, "broken");
  notify(sub, withObjects({element(1, "a")}));
  EXPECT_EQ(map->size(), 0u);
  EXPECT_EQ(map->statusText(), "ERROR: broken");
}

TEST_F(SubscribeTest, DefaultsThenPoliciesForAnAddableMap) {
  ObjectMapOptions o;
  o.add = o.remove = true;
  auto map = makeMap(o);
  map->open();
  ASSERT_EQ(countOf(CMD_GETALL), 1u);
  EXPECT_EQ(countOf(CMD_GETPOLICIES), 0u); // only after the defaults
  nv::message req = last(CMD_GETALL);
  EXPECT_EQ(req.get(STD_FILTER), kDefaultsFilter);
  EXPECT_EQ(req.get(nv::u32_id(STD_MAXOBJS), 7u), 0u);
  nv::message defaults = element(kNoId, "new one", 42);
  defaults.remove(STD_ID);
  defaults.set(nv::bool_id(STD_DISABLED), true);
  defaults.set(nv::u32_id(STD_DYNAMIC), 1u);
  defaults.set(nv::bool_id(STD_INACTIVE), true);
  nv::message reply;
  reply.set(KEY_DEFAULTS, defaults);
  answer(req, reply);
  EXPECT_FALSE(map->defaults().has(nv::bool_id(STD_DISABLED)));
  EXPECT_FALSE(map->defaults().has(nv::u32_id(STD_DYNAMIC)));
  EXPECT_FALSE(map->defaults().has(nv::bool_id(STD_INACTIVE)));
  Reference<IObject> fresh = map->createNew();
  ASSERT_TRUE(fresh);
  EXPECT_EQ(recOf(fresh.get()).name, "new one");
  EXPECT_FALSE(fresh->hasID());

  nv::message p1, p2;
  p1.set(STD_ID, 3u);
  p1.set(nv::bool_id(2), true);
  p2.set(STD_ID, 4u);
  answer(last(CMD_GETPOLICIES), withObjects({p1, p2}));
  EXPECT_TRUE(map->policiesLoaded());
  EXPECT_EQ(map->policies(), (std::map<uint32_t, bool>{{3, true}, {4, false}}));
}

TEST_F(SubscribeTest, RefreshTimerDrivesAMapWithoutPolicy) {
  auto map = makeMap();
  map->setRefresh(1000, 0);
  map->open();
  EXPECT_EQ(countOf(CMD_SUBSCRIBE), 0u); // the timer alone keeps it current
  ASSERT_EQ(countOf(CMD_GETALL), 1u);
  clock().advance(5000); // no timer while the fetch runs
  EXPECT_EQ(countOf(CMD_GETALL), 1u);
  answer(last(CMD_GETALL), page(elements(1, 2)));
  clock().advance(999);
  EXPECT_EQ(countOf(CMD_GETALL), 1u);
  clock().advance(1);
  EXPECT_EQ(countOf(CMD_GETALL), 2u);
  answer(last(CMD_GETALL), page(elements(1, 2)));
  clock().advance(1000);
  EXPECT_EQ(countOf(CMD_GETALL), 3u);
}

TEST_F(SubscribeTest, RefreshPolicyJoinsTheMaskAndNeedsTheUsersPolicy) {
  setUserPolicy(0x40);
  auto map = makeMap();
  map->open();
  answer(last(CMD_GETPOLICIES));
  map->setRefresh(500, 0x100);
  ASSERT_EQ(countOf(CMD_GETALL), 1u); // an open map fetches at once
  EXPECT_EQ(last(CMD_GETALL).get(STD_FILTER), kDefaultFilterMask | 0x100);
  answer(last(CMD_GETALL), page(elements(1, 1)));
  clock().advance(2000); // the user lacks 0x100: no timer
  EXPECT_EQ(countOf(CMD_GETALL), 1u);

  setUserPolicy(0x140);
  map->refresh();
  answer(last(CMD_GETALL), page(elements(1, 1)));
  clock().advance(500);
  EXPECT_EQ(countOf(CMD_GETALL), 3u);
}

TEST_F(SubscribeTest, ExplicitFetchSubscribesWithoutCurrentObjectsWhenARefreshPolicyIsSet) {
  ObjectMapOptions o;
  o.explicitFetch = true;
  auto map = makeMap(o);
  map->setRefresh(1000, 0x4);
  map->open();
  nv::message sub = last(CMD_SUBSCRIBE);
  EXPECT_FALSE(sub.has(KEY_SUBSCRIBE_CURRENT));
  EXPECT_EQ(sub.get(STD_FILTER), 0x4u);
  EXPECT_EQ(countOf(CMD_GETPOLICIES), 0u);
  EXPECT_EQ(countOf(CMD_GETALL), 1u); // the explicit fetch
}

TEST_F(SubscribeTest, SetKeyExtendsRequestsOrSetsTheSubHandler) {
  auto map = makeMap();
  map->setKey(kNoId, 17);
  map->setKey(0xfe0050, 3);
  map->refresh();
  nv::message req = last(CMD_GETALL);
  EXPECT_EQ(req.get(SYS_TO), (U32s{24, 1, 17}));
  EXPECT_EQ(req.get(nv::u32_id(0xfe0050)), 3u);
}

TEST_F(SubscribeTest, ChangingTheQuerySubscribesAgain) {
  auto map = makeMap();
  openSubscribed(*map);
  nv::message term;
  term.set(nv::u32_id(STD_QUERY_OP), 1u);
  map->setQuery({term});
  EXPECT_EQ(countOf(CMD_UNSUBSCRIBE), 1u);
  ASSERT_EQ(countOf(CMD_SUBSCRIBE), 2u);
  EXPECT_EQ(last(CMD_SUBSCRIBE).count(STD_QUERY), 1u);
  EXPECT_FALSE(sentWith(CMD_UNSUBSCRIBE)[0].has(STD_QUERY)); // the old terms
}

} // namespace
} // namespace kestel::test
