// The live containers made from the sample router's descriptors, against the simulator's menus
// served in-process over loopback through the secure session, on the test's manual clock: fetch,
// subscribe and edit round trips on an ordered and an unordered table, another client's edits
// seen both ways, the ping action, the traffic query and the setup wizard run to their end, the
// fault switches' error paths, and a seeded model-based test whose random interleavings of edits
// end with the client's mirror equal to what a fresh fetch by another client reads.
#include "api/container/DescriptorContainers.h"
#include "api/container/MapFactories.h"
#include "api/net/Looper.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "miw/SlotConvertors.h"
#include "sim/MenuTestSupport.h"
#include "support/Constants.h"

#include <gtest/gtest.h>

#include <random>

namespace kestel::test {
namespace {

struct Boxes final : MessageBoxSink {
  void showMessageBox(const std::string&, const std::string& text) override {
    texts.push_back(text);
  }
  std::vector<std::string> texts;
};

struct NoHooks final : IHandlerHooks {
  void onRequest(IHandler*, const nv::message&) override {}
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}
};

class Outcome final : public IChangeListener {
public:
  void changeDone(IObject*, ChangeResult r) override { results.push_back(r); }
  std::vector<ChangeResult> results;
};

class LiveMenusTest : public ::testing::Test {
protected:
  LiveMenusTest() {
    resetLooper();
    installSlotConvertors();
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"}) {
      auto loaded = loadDescriptors(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name);
      EXPECT_TRUE(loaded.ok()) << name;
    }
    EXPECT_TRUE(completeAllTypes().ok());
  }
  ~LiveMenusTest() override {
    handler = nullptr;
    resetLooper();
  }

  // Starts the router and opens the looper's session to it as admin.
  void start(sim::CatalogueOptions options = {}) {
    options_ = options;
    router = std::make_unique<MenuRouter>(reactor, std::move(options));
    connection = createConnection(reactor);
    setRouterConnection(connection.get());
    getLooper()->setSessionFactory(createProxy);
    connection->connect(kLoopback, router->server.port());
    static_cast<SecureSession*>(getLooper()->session())->start("admin", "pw", nullptr);
    handler = createHandler(&hooks);
  }

  CType& menu(const char* name) {
    auto found = findMenu(name);
    EXPECT_TRUE(found.ok()) << name;
    return *found->type;
  }
  Reference<ObjectMap> openMap(const char* name) {
    auto map = createContainer(static_cast<CMap&>(menu(name)));
    map->open();
    map->refresh();
    settle(*map);
    return map;
  }

  // A round trip through the looper: whatever the router sent before answering it is in.
  bool roundTrip() {
    auto replies = makeRef<RecordingListener>();
    handler->request(CMD_NOOP, Path{1}, nv::message(), replies.get(), 10000);
    return runUntil(reactor, [&] { return !replies->messages.empty(); });
  }
  // Turns until a round trip brings nothing new: no fetch running, no add waiting, no event
  // (bounded). The router answers in order, so the replies of everything sent before are in.
  void settle(ObjectMap& map) {
    auto busy = [&] {
      return map.fetchState() == FetchState::Running || map.fetchState() == FetchState::Paging ||
             map.pendingAdds() != 0;
    };
    for (int round = 0; round < 1000; ++round) {
      size_t before = changes;
      ASSERT_TRUE(roundTrip());
      if (!busy() && changes == before)
        return;
    }
    FAIL() << "the map did not settle";
  }

  // The store's objects as a second client reads them with a fresh fetch, in the router's order.
  std::vector<nv::message> freshFetch(const Path& path) {
    bool slowPages = options_.menus.slowPagesMs != 0;
    auto other = std::make_unique<MenuClient>(reactor, router->server.port(), "admin");
    std::vector<nv::message> objects;
    nv::message request;
    for (int page = 0; page < 100000; ++page) {
      uint32_t asked = other->request(path, CMD_GETALL, request);
      // Slow pages are answered on the manual clock (which also turns the churn: only tests
      // without it let the clock move here).
      for (int wait = 0; slowPages && wait < 100 && !other->replies.count(asked); ++wait) {
        reactor.runOnce(10);
        reactor.advance(50);
      }
      nv::message reply = other->await(asked);
      reply.forEach(STD_OBJS, [&](const nv::message& o) { objects.push_back(o); });
      if (reply.get(nv::u32_id(STD_GETALLID), kNoId) == kNoId)
        break;
      request = nv::message();
      request.set(nv::u32_id(STD_GETALLID), reply.get(nv::u32_id(STD_GETALLID)));
      request.set(sim::kCookie, reply.get(sim::kCookie));
    }
    return objects;
  }

  // Every field of every object as the windows show it, in display order.
  static std::vector<std::string> texts(const CType& type,
                                        const std::vector<Reference<IObject>>& objects) {
    std::vector<std::string> out;
    for (const auto& o : objects) {
      std::string line = std::to_string(o->getID());
      for (const Slot* s : valueSlots(type))
        line += "|" + fieldText(*o, *s);
      out.push_back(line);
    }
    return out;
  }
  // The mirror equals the router's store: same ids in the same order (ordered maps; by id
  // otherwise), every field the same.
  void expectMirrorEqualsStore(ObjectMap& map, const char* name) {
    CMap& type = static_cast<CMap&>(menu(name));
    std::vector<Reference<IObject>> mirror, store;
    map.store().forEach([&](uint32_t, IObject& o) { mirror.emplace_back(&o); });
    auto factory = createTypeFactory(type);
    std::vector<nv::message> fetched = freshFetch(type.pathIds());
    if (!map.ordered())
      std::sort(fetched.begin(), fetched.end(), [](const nv::message& a, const nv::message& b) {
        return a.get(STD_ID) < b.get(STD_ID);
      });
    for (const nv::message& m : fetched) {
      Reference<IObject> o = factory->create(m);
      o->getPacker()->unpack(m, o.get());
      o->setID(m.get(STD_ID));
      store.push_back(o);
    }
    EXPECT_EQ(texts(type, store), texts(type, mirror));
  }

  class Counter final : public IMapListener {
  public:
    explicit Counter(size_t& n) : n_(n) {}
    void mapChanged(const MapEvent&) override { ++n_; }

  private:
    size_t& n_;
  };
  void runInterleavings(bool withMoves);
  void count(ObjectMap& map) {
    counter = makeRef<Counter>(changes);
    map.addListener(counter.get());
  }

  ModelContext model;
  ModelScope modelScope{model};
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope reactorScope{reactor};
  Boxes boxes;
  MessageBoxScope boxScope{boxes};
  sim::CatalogueOptions options_;
  std::unique_ptr<MenuRouter> router;
  Reference<Connection> connection;
  NoHooks hooks;
  Reference<IHandler> handler;
  size_t changes = 0;
  Reference<Counter> counter;
};

IObject* byText(ObjectMap& map, const Slot& slot, const std::string& text) {
  IObject* found = nullptr;
  map.store().forEach([&](uint32_t, IObject& o) {
    if (!found && fieldText(o, slot) == text)
      found = &o;
  });
  return found;
}

// Fetch, subscribe and edit on the ordered firewall rules and the unordered DHCP leases.
TEST_F(LiveMenusTest, RoundTripsOnAnOrderedAndAnUnorderedTable) {
  start();
  for (const char* name : {"IP/Firewall", "DHCP Server"}) {
    SCOPED_TRACE(name);
    CType& type = menu(name);
    auto map = openMap(name);
    count(*map);
    EXPECT_TRUE(map->isSubscribed());
    EXPECT_EQ(map->ordered(), std::string(name) == "IP/Firewall");
    expectMirrorEqualsStore(*map, name);

    const Slot* comment =
        findField(type, std::string(name) == "IP/Firewall" ? "comment" : "hostname");
    ASSERT_TRUE(comment);
    auto done = makeRef<Outcome>();
    IObject* first = map->find(map->ids().front());
    ASSERT_TRUE(setFieldText(*first, *comment, "changed here").ok());
    map->commit(first, done.get());
    Reference<IObject> fresh = map->createNew();
    ASSERT_TRUE(setFieldText(*fresh, *comment, "added here").ok());
    map->commit(fresh.get(), done.get());
    settle(*map);
    EXPECT_EQ(done->results,
              (std::vector<ChangeResult>{ChangeResult::Succeeded, ChangeResult::Succeeded}));
    ASSERT_TRUE(byText(*map, *comment, "added here"));
    EXPECT_EQ(fresh->getID(), byText(*map, *comment, "added here")->getID());
    expectMirrorEqualsStore(*map, name);
    if (map->commands().exists(Op::Move)) {
      map->move(fresh.get(), map->ids().front(), done.get());
      settle(*map);
      EXPECT_EQ(fresh->getID(), map->ids().front());
    }
    if (map->commands().exists(Op::Remove)) {
      map->remove(map->find(fresh->getID()), done.get());
      settle(*map);
      EXPECT_FALSE(map->find(fresh->getID()));
    }
    for (ChangeResult r : done->results)
      EXPECT_EQ(ChangeResult::Succeeded, r);
    expectMirrorEqualsStore(*map, name);
    EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front();
  }
}

// Another client's edits reach the map through the subscription, and the map's edits reach the
// other client's.
TEST_F(LiveMenusTest, TwoClientsSeeEachOthersEdits) {
  start();
  auto map = openMap("IP/Firewall");
  count(*map);
  auto other = std::make_unique<MenuClient>(reactor, router->server.port(), "admin");
  nv::message subscribe;
  subscribe.set(SYS_ORIGINATOR, 1000u);
  other->call({21, 4}, CMD_SUBSCRIBE, subscribe);

  nv::message rule;
  rule.set(nv::string_id(0x1E), "from the other client");
  uint32_t added = other->call({21, 4}, CMD_ADDOBJ, rule).get(STD_ID);
  nv::message change;
  change.set(STD_ID, 2u);
  change.set(nv::u32_id(0x12), 443u);
  other->call({21, 4}, CMD_SETOBJ, change);
  nv::message gone;
  gone.set(STD_ID, 6u);
  other->call({21, 4}, CMD_REMOVEOBJ, gone);
  settle(*map);
  const CType& type = menu("IP/Firewall");
  ASSERT_TRUE(map->find(added));
  EXPECT_EQ("from the other client", fieldText(*map->find(added), *findField(type, "comment")));
  EXPECT_EQ("443", fieldText(*map->find(2), *findField(type, "port")));
  EXPECT_FALSE(map->find(6));
  expectMirrorEqualsStore(*map, "IP/Firewall");

  ASSERT_TRUE(setFieldText(*map->find(3), *findField(type, "comment"), "from the map").ok());
  map->commit(map->find(3));
  settle(*map);
  other->sync();
  ASSERT_EQ(1u, other->mirror.count(3));
  EXPECT_EQ("from the map", other->mirror[3].get(nv::string_id(0x1E)));
}

TEST_F(LiveMenusTest, PingRunsToItsEnd) {
  start();
  auto action = createObjectAction(static_cast<CAction&>(menu("Ping")));
  CAction& type = static_cast<CAction&>(menu("Ping"));
  ASSERT_TRUE(setFieldText(*action->parameters(), *findField(type, "to"), "192.0.2.1").ok());
  ASSERT_TRUE(setFieldText(*action->parameters(), *findField(type, "count"), "3").ok());
  auto started = makeRef<Outcome>();
  action->start(started.get());
  ASSERT_TRUE(runUntil(reactor, [&] { return !started->results.empty(); }));
  EXPECT_EQ(ChangeResult::Succeeded, started->results[0]);
  for (int poll = 0; poll < 10 && action->running(); ++poll) {
    reactor.advance(kDefaultPollIntervalMs);
    ASSERT_TRUE(roundTrip());
  }
  EXPECT_FALSE(action->running());
  EXPECT_EQ("3 sent, 3 received, 0% packet loss",
            fieldText(*action->status(), *findField(type.replyType(), "status")));
}

TEST_F(LiveMenusTest, TrafficQueryFillsItsResultsMap) {
  start();
  CQuery* traffic = nullptr;
  forEachType([&](CType& t, CService&) {
    if (t.kind() == TypeKind::Query && t.title() == "Traffic")
      traffic = static_cast<CQuery*>(&t);
  });
  ASSERT_TRUE(traffic);
  auto query = createObjectQuery(*traffic);
  query->start();
  // The results map fetches once a reader opens it, after the router gave the query its id.
  ASSERT_TRUE(runUntil(reactor, [&] { return query->queryId() != kNoId; }));
  query->results()->open();
  ASSERT_TRUE(runUntil(reactor, [&] {
    return query->results() && query->results()->fetchState() == FetchState::Complete;
  }));
  EXPECT_TRUE(query->running());
  size_t rows = query->results()->size();
  EXPECT_GT(rows, 0u);
  reactor.advance(1000); // the router adds a flow every second
  reactor.advance(traffic->autoRefresh);
  ASSERT_TRUE(runUntil(reactor, [&] { return query->results()->size() > rows; }));
  query->stop();
  EXPECT_FALSE(query->running());
}

TEST_F(LiveMenusTest, SetupWizardRunsToItsEnd) {
  start();
  CSetup& type = static_cast<CSetup&>(menu("Quick Setup"));
  auto setup = createSetupManager(type);
  for (auto [field, value] :
       {std::pair{"mode", "0"}, {"wanaddr", "192.0.2.7"}, {"ssid", "lab"}, {"wpakey", "short"}})
    ASSERT_TRUE(setFieldText(*setup->object(), *findField(type, field), value).ok()) << field;
  struct Steps final : ISetupListener {
    void stepChanged(SetupManager&, bool end, const std::string& text) override {
      reports.emplace_back(end, text);
    }
    std::vector<std::pair<bool, std::string>> reports;
  };
  auto steps = makeRef<Steps>();
  setup->addListener(steps.get());
  for (int page = 0; page < 3; ++page) {
    setup->next(false);
    ASSERT_TRUE(runUntil(reactor, [&] { return !setup->waiting(); }));
  }
  // The key is too short: the page is refused and stays open for a correction.
  ASSERT_FALSE(steps->reports.empty());
  EXPECT_FALSE(steps->reports.back().first);
  EXPECT_NE(std::string::npos, steps->reports.back().second.find("WPA"))
      << steps->reports.back().second;
  ASSERT_TRUE(setFieldText(*setup->object(), *findField(type, "wpakey"), "longenoughkey").ok());
  setup->next(false);
  ASSERT_TRUE(runUntil(reactor, [&] { return !setup->waiting(); }));
  EXPECT_TRUE(steps->reports.back().first);
  EXPECT_EQ("Router mode set up; wireless network \"lab\"", steps->reports.back().second);
}

// --fail-commits: every edit is refused; the map shows the router's text and fetches again, so
// the mirror ends equal to the store.
TEST_F(LiveMenusTest, RefusedCommitsShowTheirTextAndRefetch) {
  sim::CatalogueOptions options;
  options.menus.failCommits = true;
  start(options);
  auto map = openMap("IP/Firewall");
  count(*map);
  const CType& type = menu("IP/Firewall");
  const Slot* comment = findField(type, "comment");
  auto done = makeRef<Outcome>();
  struct Edit {
    const char* what;
    std::function<void()> run;
  };
  Reference<IObject> fresh = map->createNew();
  std::vector<Edit> edits = {
      {"Couldn't change ",
       [&] {
         ASSERT_TRUE(setFieldText(*map->find(1), *comment, "refused").ok());
         map->commit(map->find(1), done.get());
       }},
      {"Couldn't add ", [&] { map->commit(fresh.get(), done.get()); }},
      {"Couldn't remove ", [&] { map->remove(map->find(2), done.get()); }},
      {"Couldn't move ", [&] { map->move(map->find(3), 1, done.get()); }},
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.what);
    boxes.texts.clear();
    done->results.clear();
    e.run();
    settle(*map);
    EXPECT_EQ(done->results, std::vector<ChangeResult>{ChangeResult::Failed});
    ASSERT_EQ(1u, boxes.texts.size());
    EXPECT_EQ(0u, boxes.texts[0].rfind(e.what, 0)) << boxes.texts[0];
    expectMirrorEqualsStore(*map, "IP/Firewall");
  }
}

// --slow-pages and --drop-subscription: a fetch that waits for every page still completes, and a
// subscription the router forgot leaves the map stale until it fetches again.
TEST_F(LiveMenusTest, SlowPagesAndADroppedSubscription) {
  sim::CatalogueOptions options;
  options.menus.slowPagesMs = 500;
  options.menus.pageSize = 2;
  options.menus.dropSubscriptionAfter = 1;
  start(options);
  auto map = createContainer(static_cast<CMap&>(menu("IP/Firewall")));
  map->open();
  map->refresh();
  for (int page = 0; page < 20 && map->fetchState() != FetchState::Complete; ++page) {
    ASSERT_TRUE(roundTrip());
    reactor.advance(500);
  }
  ASSERT_EQ(FetchState::Complete, map->fetchState());
  expectMirrorEqualsStore(*map, "IP/Firewall");

  auto other = std::make_unique<MenuClient>(reactor, router->server.port(), "admin");
  for (uint32_t id : {1u, 2u}) {
    nv::message change;
    change.set(STD_ID, id);
    change.set(nv::string_id(0x1E), "edited elsewhere");
    other->call({21, 4}, CMD_SETOBJ, change);
  }
  ASSERT_TRUE(roundTrip());
  // The current objects the subscription delivered used it up: nothing more was pushed.
  const Slot* comment = findField(menu("IP/Firewall"), "comment");
  EXPECT_EQ("accept established", fieldText(*map->find(1), *comment));
  map->refresh();
  for (int page = 0; page < 20 && map->fetchState() != FetchState::Complete; ++page) {
    ASSERT_TRUE(roundTrip());
    reactor.advance(500);
  }
  expectMirrorEqualsStore(*map, "IP/Firewall");
}

// Opened (the subscription delivering the current objects) and fetched at once: the pages
// bring objects the notifications brought first, and the fetch still completes.
TEST_F(LiveMenusTest, SubscribedAndFetchedAtOnceOnAManyPagedTable) {
  sim::CatalogueOptions options;
  options.table = "firewall";
  options.fill = true;
  options.rows = 200;
  options.menus.pageSize = 2;
  start(options);
  auto map = openMap("IP/Firewall");
  EXPECT_EQ("", map->statusText());
  EXPECT_EQ(FetchState::Complete, map->fetchState());
  EXPECT_EQ(200u, map->size());
  expectMirrorEqualsStore(*map, "IP/Firewall");
}

// Seeded random interleavings of the map's own edits, another client's edits and the router's
// churn; at quiescence the mirror equals the store. How the messages cross also depends on when
// the kernel has the bytes, so one seed does not replay one interleaving exactly.
void LiveMenusTest::runInterleavings(bool withMoves) {
  for (uint32_t seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    sim::CatalogueOptions options;
    options.table = "firewall";
    options.churn = 50;
    options.menus.pageSize = 7;
    router.reset();
    handler = nullptr;
    connection = nullptr;
    resetLooper();
    start(options);
    auto map = openMap("IP/Firewall");
    count(*map);
    auto other = std::make_unique<MenuClient>(reactor, router->server.port(), "admin");
    const Slot* comment = findField(menu("IP/Firewall"), "comment");
    std::mt19937 random(seed);
    auto pick = [&](const std::vector<uint32_t>& ids) {
      return ids.empty() ? kNoId : ids[random() % ids.size()];
    };
    std::vector<Reference<IObject>> kept;
    for (int step = 0; step < 60; ++step) {
      std::vector<uint32_t> ids = map->ids();
      switch (random() % 8) {
      case 0: { // the map changes an object
        if (IObject* o = map->find(pick(ids))) {
          (void)setFieldText(*o, *comment, "map " + std::to_string(step));
          map->commit(o);
        }
        break;
      }
      case 1: { // the map adds one
        Reference<IObject> fresh = map->createNew();
        (void)setFieldText(*fresh, *comment, "added " + std::to_string(step));
        map->commit(fresh.get());
        kept.push_back(fresh);
        break;
      }
      case 2:
        if (IObject* o = map->find(pick(ids)))
          map->remove(o);
        break;
      case 3:
        if (IObject* o = map->find(pick(ids)); o && withMoves)
          map->move(o, pick(ids));
        break;
      case 4: { // the other client changes or removes one
        nv::message m;
        m.set(STD_ID, pick(ids));
        m.set(nv::string_id(0x1E), "other " + std::to_string(step));
        other->request({21, 4}, random() % 2 ? CMD_SETOBJ : CMD_REMOVEOBJ, m);
        break;
      }
      case 5: { // the other client adds one
        nv::message m;
        m.set(nv::string_id(0x1E), "other added " + std::to_string(step));
        other->request({21, 4}, CMD_ADDOBJ, m);
        break;
      }
      default: // the router's churn pushes changes
        reactor.advance(sim::Churn::kTickMs);
        break;
      }
      // Sometimes let messages cross, sometimes let everything arrive.
      for (int turns = int(random() % 4); turns > 0; --turns)
        reactor.runOnce(0);
    }
    other->sync();
    settle(*map);
    expectMirrorEqualsStore(*map, "IP/Firewall");
    map->removeListener(counter.get());
  }
}

TEST_F(LiveMenusTest, RandomInterleavingsEndWithTheMirrorEqualToTheStore) {
  runInterleavings(false);
}

// The map's own moves make the router ask for fetches again, which then run while objects are
// removed under them.
TEST_F(LiveMenusTest, RandomInterleavingsWithMovesEndWithTheMirrorEqualToTheStore) {
  runInterleavings(true);
}

} // namespace
} // namespace kestel::test
