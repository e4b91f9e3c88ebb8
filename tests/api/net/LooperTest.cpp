#include "NetTestSupport.h"

#include "api/net/Connection.h"
#include "api/net/Looper.h"
#include "api/wire/Vocabulary.h"
#include "util/Log.h"

#include <kestel/Version.h>

namespace kestel::test {
namespace {

using U32s = std::vector<uint32_t>;

// Stands in for the session layer: keeps what the looper hands it for the router.
struct FakeSession final : ISession {
  void post(const nv::message& m) override { posted.push_back(m); }
  uint32_t agentId() const override { return agent; }
  std::vector<nv::message> posted;
  uint32_t agent = kNoId;
};

struct RecordingHooks final : IHandlerHooks {
  void onRequest(IHandler* h, const nv::message& m) override {
    requests.push_back(m);
    if (onReq)
      onReq(h, m);
  }
  void onUnmatchedReply(IHandler*, const nv::message& m, uint32_t id) override {
    unmatched.emplace_back(m, id);
  }
  std::vector<nv::message> requests;
  std::vector<std::pair<nv::message, uint32_t>> unmatched;
  std::function<void(IHandler*, const nv::message&)> onReq;
};

nv::message routerReply(uint32_t handler, uint32_t requestId) {
  nv::message m;
  m.set(SYS_TO, U32s{0, handler});
  m.set(SYS_FROM, U32s{5});
  m.set(SYS_TYPE, TYPE_REPLY);
  m.set(SYS_REQID, requestId);
  return m;
}

class LooperTest : public ReactorTest {
protected:
  LooperTest() {
    resetLooper();
    session = makeRef<FakeSession>();
    getLooper()->setSession(session.get());
    connection = createConnection(reactor); // idle: enough to count as a router connection
    setRouterConnection(connection.get());
  }
  ~LooperTest() override { resetLooper(); }

  Reference<FakeSession> session;
  Reference<Connection> connection;
  RecordingHooks hooks;
  Reference<RecordingListener> listener = makeRef<RecordingListener>();
};

TEST_F(LooperTest, HandlersTakeFreeSlotsAndTheTableShrinksFromTheEnd) {
  ILooper* looper = getLooper();
  auto a = createHandler(&hooks);
  auto b = createHandler(&hooks);
  EXPECT_EQ(a->id(), 0u);
  EXPECT_EQ(b->id(), 1u);
  auto fixed = createHandler(&hooks, 5);
  EXPECT_EQ(looper->tableSize(), 6u);
  auto clash = createHandler(&hooks, 5); // occupied: the slot stays with its handler
  EXPECT_EQ(looper->handlerAt(5), fixed.get());
  clash = nullptr;
  EXPECT_EQ(looper->handlerAt(5), fixed.get());

  a = nullptr;
  EXPECT_EQ(looper->tableSize(), 6u);
  auto c = createHandler(&hooks); // reuses the first empty slot
  EXPECT_EQ(c->id(), 0u);
  fixed = nullptr;
  EXPECT_EQ(looper->tableSize(), 2u); // empty slots 2..5 dropped
  b = nullptr;
  EXPECT_EQ(looper->tableSize(), 1u);
  c = nullptr;
  EXPECT_EQ(looper->tableSize(), 0u);
}

TEST_F(LooperTest, RequestToTheRouterCarriesRouteAgentAndRequestId) {
  auto h = createHandler(&hooks);
  auto g = getGlobalHandler(); // takes another slot
  ASSERT_NE(g->id(), h->id());
  nv::message m;
  m.set(SYS_AGENT, std::vector<std::string>{"hoplink-1"});
  EXPECT_EQ(h->request(CMD_GETALL, Path{4, 7, 9}, m), 1u);
  EXPECT_EQ(h->request(4, nv::message()), 2u);
  ASSERT_EQ(session->posted.size(), 2u);
  const nv::message& sent = session->posted[0];
  EXPECT_EQ(sent.get(SYS_TO), (U32s{4, 7, 9}));
  EXPECT_EQ(sent.get(SYS_FROM), (U32s{0, h->id()}));
  EXPECT_TRUE(sent.get(SYS_REPLYEXP));
  EXPECT_EQ(sent.get(SYS_REQID), 1u);
  EXPECT_EQ(sent.get(SYS_CMD), CMD_GETALL);
  EXPECT_EQ(sent.get(SYS_AGENT), (std::vector<std::string>{"hoplink-1", kKestelAgent}));
  EXPECT_EQ(session->posted[1].get(SYS_TO), (U32s{4}));
  EXPECT_EQ(session->posted[1].get(SYS_REQID), 2u);

  setRouterConnection(nullptr); // no router connection: nothing leaves
  h->send(4, nv::message());
  EXPECT_EQ(session->posted.size(), 2u);
}

TEST_F(LooperTest, RepliesMatchTheirRequestOnceAndLateOnesGoToTheHooks) {
  auto h = createHandler(&hooks);
  uint32_t first = h->request(3, nv::message(), listener.get(), 5000);
  uint32_t second = h->request(3, nv::message(), listener.get(), 0);
  getLooper()->deliver(routerReply(h->id(), second));
  ASSERT_EQ(listener->messages.size(), 1u);
  EXPECT_EQ(listener->messages[0].get(SYS_REQID), second);
  EXPECT_EQ(h->pendingCount(), 1u);

  getLooper()->deliver(routerReply(h->id(), first));
  EXPECT_EQ(listener->messages.size(), 2u);
  EXPECT_EQ(reactor.timerCount(), 0u); // the answered request's timer is gone
  getLooper()->deliver(routerReply(h->id(), first));
  EXPECT_EQ(listener->messages.size(), 2u);
  ASSERT_EQ(hooks.unmatched.size(), 1u);
  EXPECT_EQ(hooks.unmatched[0].second, first);

  nv::message noId = routerReply(h->id(), 1);
  noId.remove(SYS_REQID);
  getLooper()->deliver(noId); // a reply without request id is dropped
  EXPECT_EQ(hooks.unmatched.size(), 1u);
  EXPECT_TRUE(hooks.requests.empty());
}

TEST_F(LooperTest, AnUnansweredRequestTimesOutExactlyOnce) {
  auto h = createHandler(&hooks);
  uint32_t id = h->request(3, nv::message(), listener.get(), 1000);
  reactor.advance(999);
  EXPECT_TRUE(listener->messages.empty());
  reactor.advance(1);
  ASSERT_EQ(listener->messages.size(), 1u);
  const nv::message& timedOut = listener->messages[0];
  EXPECT_EQ(timedOut.size(), 2u);
  EXPECT_EQ(timedOut.get(SYS_STATUS), STATUS_ERROR);
  EXPECT_EQ(timedOut.get(SYS_ERRNO), ERROR_TIMEOUT);
  reactor.advance(60000);
  EXPECT_EQ(listener->messages.size(), 1u);
  EXPECT_EQ(h->pendingCount(), 0u);

  getLooper()->deliver(routerReply(h->id(), id)); // too late: the hooks get it
  EXPECT_EQ(listener->messages.size(), 1u);
  ASSERT_EQ(hooks.unmatched.size(), 1u);
  EXPECT_EQ(hooks.unmatched[0].second, id);
}

TEST_F(LooperTest, CancelForgetsTheFirstPendingRequestOfTheListener) {
  auto h = createHandler(&hooks);
  uint32_t a = h->request(3, nv::message(), listener.get(), 1000);
  uint32_t b = h->request(3, nv::message(), listener.get(), 1000);
  h->cancel(listener.get());
  EXPECT_EQ(h->pendingCount(), 1u);
  reactor.advance(1000);
  ASSERT_EQ(listener->messages.size(), 1u); // only b timed out
  getLooper()->deliver(routerReply(h->id(), a));
  ASSERT_EQ(hooks.unmatched.size(), 1u);
  EXPECT_EQ(hooks.unmatched[0].second, a);
  (void)b;
}

TEST_F(LooperTest, IncomingRoutingDropsWhatIsNotForUs) {
  auto h = createHandler(&hooks);
  CaptureLogSink log;
  nv::message notForUs;
  notForUs.set(SYS_TO, U32s{5, h->id()});
  getLooper()->deliver(notForUs);
  EXPECT_TRUE(log.contains("WARNING: routing back message:"));
  EXPECT_TRUE(log.contains("--- nv::message"));
  nv::message onlyHost;
  onlyHost.set(SYS_TO, U32s{0});
  log.clear();
  getLooper()->deliver(onlyHost);
  EXPECT_TRUE(log.contains("WARNING: routing back message:"));

  log.clear();
  nv::message unknown;
  unknown.set(SYS_TO, U32s{0, 99});
  getLooper()->deliver(unknown);
  EXPECT_TRUE(log.contains("ERROR: no where to route message to=99, size=1"));

  nv::message request;
  request.set(SYS_TO, U32s{0, h->id(), 8});
  getLooper()->deliver(request);
  ASSERT_EQ(hooks.requests.size(), 1u);
  EXPECT_EQ(hooks.requests[0].get(SYS_TO), (U32s{h->id(), 8})); // still begins with h
}

TEST_F(LooperTest, ReplyFollowsTheReturnPathOnlyForRequestsThatExpectOne) {
  auto h = createHandler(&hooks);
  auto request = [](U32s from, bool expects, uint32_t type) {
    nv::message m;
    m.set(SYS_FROM, std::move(from));
    m.set(SYS_REQID, 42u);
    if (expects)
      m.set(SYS_REPLYEXP, true);
    m.set(SYS_TYPE, type);
    return m;
  };
  struct Case {
    nv::message request;
    bool sent;
  };
  const Case cases[] = {
      {request({7, 3}, true, TYPE_REQUEST), true}, {request({7, 3}, false, TYPE_REQUEST), false},
      {request({7, 3}, true, TYPE_REPLY), false},  {request({kNoId, 3}, true, TYPE_REQUEST), false},
      {request({}, true, TYPE_REQUEST), false},
  };
  for (const auto& c : cases) {
    session->posted.clear();
    nv::message answer;
    answer.set(nv::u32_id(0x10001), 5u);
    h->reply(c.request, answer);
    ASSERT_EQ(session->posted.size(), c.sent ? 1u : 0u);
  }
  h->replyError(cases[0].request, ERROR_NOTALLOWED, "no");
  ASSERT_EQ(session->posted.size(), 1u);
  const nv::message& e = session->posted[0];
  EXPECT_EQ(e.get(SYS_TO), (U32s{7, 3}));
  EXPECT_EQ(e.get(SYS_FROM), (U32s{0, h->id()}));
  EXPECT_EQ(e.get(SYS_REQID), 42u);
  EXPECT_EQ(e.get(SYS_TYPE), TYPE_REPLY);
  EXPECT_EQ(e.get(SYS_STATUS), STATUS_ERROR);
  EXPECT_EQ(e.get(SYS_ERRNO), ERROR_NOTALLOWED);
  EXPECT_EQ(e.get(SYS_ERRSTR), "no");
}

TEST_F(LooperTest, LocalHandlersAnswerEachOtherThroughTheLooper) {
  RecordingHooks serverHooks;
  auto server = createHandler(&serverHooks);
  auto client = createHandler(&hooks);
  serverHooks.onReq = [](IHandler* self, const nv::message& m) {
    nv::message answer;
    answer.set(nv::string_id(0x10001), "pong");
    self->reply(m, answer);
  };
  client->request(Path{0, server->id()}, nv::message(), listener.get(), 1000);
  ASSERT_EQ(listener->messages.size(), 1u); // answered at once, still matched
  EXPECT_EQ(listener->messages[0].get(nv::string_id(0x10001)), "pong");
  EXPECT_EQ(serverHooks.requests[0].get(SYS_FROM), (U32s{0, client->id()}));
  EXPECT_TRUE(session->posted.empty());
  EXPECT_EQ(reactor.timerCount(), 0u);

  CaptureLogSink log;
  client->send(0, nv::message()); // empty local path: nothing happens
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(LooperTest, OneSubscriptionPerHandler) {
  auto h = createHandler(&hooks);
  auto other = makeRef<RecordingListener>();
  EXPECT_TRUE(h->subscribe(listener.get(), Path{12, 3}));
  EXPECT_FALSE(h->subscribe(other.get(), Path{12, 3}));
  ASSERT_EQ(session->posted.size(), 1u);
  EXPECT_EQ(session->posted[0].get(SYS_CMD), CMD_SUBSCRIBE);
  EXPECT_TRUE(session->posted[0].get(SYS_REPLYEXP));

  nv::message note;
  note.set(SYS_TO, U32s{0, h->id()});
  note.set(SYS_CMD, CMD_NOTIFY);
  getLooper()->deliver(note);
  EXPECT_EQ(listener->messages.size(), 1u);
  EXPECT_EQ(hooks.requests.size(), 1u); // the hooks see notifications too

  h->unsubscribe(other.get()); // not the subscriber: nothing
  EXPECT_EQ(session->posted.size(), 1u);
  h->unsubscribe(listener.get());
  ASSERT_EQ(session->posted.size(), 2u);
  EXPECT_EQ(session->posted[1].get(SYS_CMD), CMD_UNSUBSCRIBE);
  EXPECT_EQ(session->posted[1].get(SYS_TO), (U32s{12, 3}));
  EXPECT_FALSE(session->posted[1].get(SYS_REPLYEXP));
  getLooper()->deliver(note);
  EXPECT_EQ(listener->messages.size(), 1u);
}

TEST_F(LooperTest, HoplinkDisconnectEndsTheRouterConnection) {
  auto closed = makeRef<RecordingListener>();
  connection->addListener(closed.get());
  session->agent = 7;
  CaptureLogSink log;
  nv::message bye;
  bye.set(SYS_CMD, CMD_DISCONNECTED);
  bye.set(SYS_FROM, U32s{2, 8});
  getLooper()->deliver(bye); // another agent
  EXPECT_TRUE(closed->connection.empty());
  bye.set(SYS_FROM, U32s{2, 7});
  getLooper()->deliver(bye);
  EXPECT_TRUE(log.contains("hoplink disconnected us"));
  ASSERT_EQ(closed->connection.size(), 1u);
  EXPECT_EQ(closed->connection[0].second, "");
  connection->removeListener(closed.get());
}

TEST_F(LooperTest, GlobalHandlerHandsRequestsToTheLoopersHooks) {
  getLooper()->setHooks(&hooks);
  IHandler* g = getGlobalHandler();
  EXPECT_EQ(getGlobalHandler(), g);
  nv::message m;
  m.set(SYS_TO, U32s{0, g->id()});
  getLooper()->deliver(m);
  EXPECT_EQ(hooks.requests.size(), 1u);
  getLooper()->setHooks(nullptr);
}

} // namespace
} // namespace kestel::test
