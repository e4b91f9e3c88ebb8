#include "ContainerHarness.h"

#include "api/container/ContainerBase.h"
#include "api/net/Events.h"

#include <functional>
#include <memory>
#include <string>

namespace kestel::test {
namespace {

using U32s = std::vector<uint32_t>;

struct Named final : IBase {
  Named(std::string n, std::vector<std::string>* log) : name(std::move(n)), log(log) {}
  void hit() {
    log->push_back(name);
    if (onHit)
      onHit();
  }
  std::string name;
  std::vector<std::string>* log;
  std::function<void()> onHit;
};

struct TestObject final : IObject {
  IPacker* getPacker() const override { return nullptr; }
};

void deliverAll(ListenerList<Named>& list, const IObject* about = nullptr) {
  list.dispatch(about, [](Named& n) { n.hit(); });
}

TEST(ListenerListTest, RemovalDuringDispatchIsSkippedAndSweptAfterwards) {
  std::vector<std::string> log;
  ListenerList<Named> list;
  auto a = makeRef<Named>("a", &log), b = makeRef<Named>("b", &log), c = makeRef<Named>("c", &log);
  list.add(a.get());
  list.add(b.get());
  list.add(c.get());
  // a removes b (not yet called) and itself; a listener added meanwhile waits for the next round.
  auto d = makeRef<Named>("d", &log);
  a->onHit = [&] {
    list.remove(b.get());
    list.remove(a.get());
    list.add(d.get());
  };
  deliverAll(list);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(list.size(), 2u);
  log.clear();
  deliverAll(list);
  EXPECT_EQ(log, (std::vector<std::string>{"c", "d"}));
}

TEST(ListenerListTest, NestedDispatchKeepsMarkedEntriesUntilTheOutermostEnds) {
  std::vector<std::string> log;
  ListenerList<Named> list;
  auto a = makeRef<Named>("a", &log), b = makeRef<Named>("b", &log);
  list.add(a.get());
  list.add(b.get());
  bool nested = false;
  a->onHit = [&] {
    if (nested)
      return;
    nested = true;
    list.remove(b.get());
    deliverAll(list); // inner round: b is marked, only a runs
  };
  deliverAll(list);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "a"}));
  EXPECT_EQ(list.size(), 1u);
}

TEST(ListenerListTest, ObjectListenersHearOnlyTheirObjectAndListenerMayDropLastReference) {
  std::vector<std::string> log;
  ListenerList<Named> list;
  auto x = makeRef<TestObject>(), y = makeRef<TestObject>();
  auto all = makeRef<Named>("all", &log), onX = makeRef<Named>("x", &log);
  list.add(all.get());
  list.add(onX.get(), x.get());
  deliverAll(list, y.get());
  deliverAll(list, x.get());
  deliverAll(list, nullptr); // a reset reaches everyone
  EXPECT_EQ(log, (std::vector<std::string>{"all", "all", "x", "all", "x"}));

  Named* raw = onX.get();
  onX = nullptr; // the list holds the only count now
  raw->onHit = [&] { list.remove(raw); };
  log.clear();
  deliverAll(list, x.get()); // removes itself while running: still alive until the call returns
  EXPECT_EQ(log, (std::vector<std::string>{"all", "x"}));
  EXPECT_EQ(list.size(), 1u);
}

struct Recorder final : IChangeListener {
  void changeDone(IObject* o, ChangeResult r) override { results.emplace_back(o, r); }
  std::vector<std::pair<IObject*, ChangeResult>> results;
};

TEST(CompletionListTest, TellsEveryQueuedListenerOnce) {
  CompletionList list;
  auto a = makeRef<Recorder>(), b = makeRef<Recorder>();
  auto obj = makeRef<TestObject>();
  list.add(a.get());
  list.add(b.get());
  list.add(nullptr);
  list.tellAll(obj.get(), ChangeResult::Failed);
  list.tellAll(obj.get(), ChangeResult::Succeeded); // already told: nothing more
  ASSERT_EQ(a->results.size(), 1u);
  EXPECT_EQ(a->results[0].second, ChangeResult::Failed);
  EXPECT_EQ(b->results.size(), 1u);
}

class BaseRequestTest : public ContainerTest {};

TEST_F(BaseRequestTest, RequestsCarryPathSubHandlerAndExtenderAndRepliesComeBack) {
  auto base = std::make_unique<ContainerBase>(Path{24, 3, kNoId, 99});
  EXPECT_EQ(base->path(), (U32s{24, 3}));
  base->setSubHandler(7);
  auto ext = createKeyExtender(0xfe0030, 12);
  base->setRequestExtender(ext.get());
  nv::message req;
  base->address(req, 5);
  std::vector<nv::message> replies;
  auto pending =
      base->request(CMD_GETALL, req, [&](const nv::message& r) { replies.push_back(r); });
  ASSERT_TRUE(pending);
  nv::message sent = last(CMD_GETALL);
  EXPECT_EQ(sent.get(SYS_TO), (U32s{24, 3, 7}));
  EXPECT_EQ(sent.get(STD_FILTER), 5u);
  EXPECT_EQ(sent.get(nv::u32_id(0xfe0030)), 12u);
  EXPECT_EQ(base->pendingCount(), 1u);
  answer(sent);
  EXPECT_EQ(replies.size(), 1u);
  EXPECT_EQ(base->pendingCount(), 0u);
  answer(sent); // a second reply to the same request id finds nobody
  EXPECT_EQ(replies.size(), 1u);
}

TEST_F(BaseRequestTest, CancelledOrOrphanedRepliesAreIgnored) {
  auto base = std::make_unique<ContainerBase>(Path{24});
  int calls = 0;
  auto first = base->request(CMD_GETALL, {}, [&](const nv::message&) { ++calls; });
  nv::message firstSent = last(CMD_GETALL);
  base->cancel(first);
  EXPECT_FALSE(first);
  answer(firstSent);
  EXPECT_EQ(calls, 0);

  auto second = base->request(CMD_GETALL, {}, [&](const nv::message&) { ++calls; });
  nv::message secondSent = last(CMD_GETALL);
  base.reset(); // the container goes while its request is out
  answer(secondSent);
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(second->live());
}

TEST_F(BaseRequestTest, WithoutRouterConnectionNothingIsSent) {
  ContainerBase base(Path{24});
  setRouterConnection(nullptr);
  EXPECT_FALSE(base.request(CMD_GETALL, {}, [](const nv::message&) {}));
  EXPECT_FALSE(base.subscribeOwn(nullptr, {}));
  EXPECT_TRUE(posted().empty());
}

struct Notes final : EventListener {
  void onEvent(Event& e) override {
    if (const nv::message* m = messageOf(e))
      got.push_back(*m);
  }
  std::vector<nv::message> got;
};

TEST_F(BaseRequestTest, SubscriptionHasItsOwnHandlerAndUnsubscribeCarriesTheRequest) {
  ContainerBase a(Path{24}), b(Path{25});
  auto na = makeRef<Notes>(), nb = makeRef<Notes>();
  nv::message req;
  req.set(SYS_ORIGINATOR, 1000u);
  ASSERT_TRUE(a.subscribeOwn(na.get(), req));
  ASSERT_TRUE(b.subscribeOwn(nb.get(), req)); // two maps subscribe side by side
  EXPECT_FALSE(a.subscribeOwn(na.get(), req));
  auto subs = sentWith(CMD_SUBSCRIBE);
  ASSERT_EQ(subs.size(), 2u);
  EXPECT_NE(subs[0].get(SYS_FROM), subs[1].get(SYS_FROM));
  notify(subs[1], {});
  EXPECT_TRUE(na->got.empty());
  EXPECT_EQ(nb->got.size(), 1u);

  a.unsubscribeOwn(req);
  EXPECT_FALSE(a.subscribed());
  nv::message unsub = last(CMD_UNSUBSCRIBE);
  EXPECT_EQ(unsub.get(SYS_ORIGINATOR), 1000u);
  EXPECT_EQ(unsub.get(SYS_TO), (U32s{24}));
  notify(subs[0], {}); // late notification after unsubscribing: nobody hears it
  EXPECT_TRUE(na->got.empty());
}

} // namespace
} // namespace kestel::test
