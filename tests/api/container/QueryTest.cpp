#include "RunHarness.h"

#include "api/container/DescriptorContainers.h"
#include "api/container/Query.h"
#include "gen/CType.h"
#include "gen/ModelTestUtil.h"

namespace kestel::test {
namespace {

using namespace runs;

using U32s = std::vector<uint32_t>;
constexpr uint32_t kStop = CMD_CANCEL;

struct QueryLog final : IQueryListener {
  void runStateChanged(ObjectQuery&, bool running) override {
    log.push_back(running ? "running" : "stopped");
  }
  std::vector<std::string> log;
};

class QueryTest : public ContainerTest {
protected:
  QueryTest() { query->addListener(log.get()); }

  static nv::message rows(std::vector<uint32_t> ids) {
    nv::message reply;
    std::vector<nv::message> objs;
    for (uint32_t id : ids) {
      nv::message row = withValue(id * 10);
      row.set(STD_ID, id);
      objs.push_back(row);
    }
    reply.set(STD_OBJS, objs);
    return reply;
  }
  static nv::message idReply(uint32_t id) {
    nv::message m;
    m.set(STD_ID, id);
    return m;
  }

  Reference<RunObject> request = runObject(3, "10.0.0.0/8", WithId::Yes);
  Reference<IObjectFactory> factory =
      createFactory([](const nv::message&) { return Reference<IObject>(runObject()); });
  Reference<ObjectQuery> query =
      createObjectQuery(request.get(), factory.get(), runObject().get(), {20, 4, kNoId}, false, 7);
  Reference<QueryLog> log = makeRef<QueryLog>();
};

TEST_F(QueryTest, StartCommandGivesTheResultsTheRoutersQueryId) {
  query->setCommands(CMD_START, kStop);
  query->setRefresh(2000, 0x100);
  query->start();
  nv::message start = last(CMD_START);
  EXPECT_EQ(start.get(SYS_TO), (U32s{20, 4}));
  EXPECT_EQ(start.get(kValue), 3u);
  EXPECT_TRUE(query->running()); // running from the request on
  EXPECT_EQ(log->log, std::vector<std::string>{"running"});

  query->results()->open();
  size_t fetches = countOf(CMD_GETALL);
  answer(start, idReply(55));
  EXPECT_EQ(query->queryId(), 55u);
  // The open results map fetches at once with the query id and its refresh policy.
  ASSERT_EQ(countOf(CMD_GETALL), fetches + 1);
  nv::message fetch = last(CMD_GETALL);
  EXPECT_EQ(fetch.get(STD_ID), 55u);
  EXPECT_EQ(fetch.get(SYS_TO), (U32s{20, 4}));
  EXPECT_EQ(fetch.get(STD_FILTER) & 0x100, 0x100u);
  EXPECT_FALSE(fetch.has(kValue)); // the request's keys went with the start only
}

TEST_F(QueryTest, RefusedStartShowsTheTextAndEnds) {
  query->setCommands(CMD_START, kStop);
  query->start();
  answerError(last(CMD_START), ERROR_NOTALLOWED, "no such interface");
  EXPECT_FALSE(query->running());
  EXPECT_EQ(log->log, (std::vector<std::string>{"running", "stopped"}));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].rfind("Couldn't start - no such interface", 0), 0u);
  EXPECT_EQ(countOf(kStop), 0u);
}

TEST_F(QueryTest, WithoutStartCommandEveryResultsRequestCarriesTheRequestKeys) {
  request->rec().id = 9;
  query->setRefresh(0, 0);
  query->start(); // interval 0: one full fetch at once
  EXPECT_EQ(countOf(CMD_START), 0u);
  EXPECT_TRUE(query->running());
  EXPECT_EQ(query->queryId(), 9u);
  ASSERT_EQ(countOf(CMD_GETALL), 1u);
  nv::message fetch = last(CMD_GETALL);
  EXPECT_EQ(fetch.get(kValue), 3u);
  EXPECT_EQ(fetch.get(kText), "10.0.0.0/8");
  EXPECT_TRUE(fetch.has(STD_FILTER));

  answer(fetch, rows({4}));
  IObject* row = query->results()->find(4);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(static_cast<RunObject*>(row)->rec().value, 40u);
  query->results()->refetch(row); // the map's own STD_ID is not replaced by the request's
  nv::message refetch = last(CMD_GETOBJ);
  EXPECT_EQ(refetch.get(STD_ID), 4u);
  EXPECT_EQ(refetch.get(kValue), 3u);
}

TEST_F(QueryTest, WithoutStartCommandAnIntervalDrivesTheOpenResults) {
  query->setRefresh(1000, 0);
  query->results()->open();
  size_t before = countOf(CMD_GETALL);
  query->start();
  ASSERT_EQ(countOf(CMD_GETALL), before + 1);
  answer(last(CMD_GETALL), rows({1}));
  clock().advance(1000);
  EXPECT_EQ(countOf(CMD_GETALL), before + 2);
  answer(last(CMD_GETALL), rows({1}));

  query->stop(); // no id, no stop command: nothing sent; the refreshing ends
  EXPECT_EQ(countOf(kStop), 0u);
  clock().advance(5000);
  EXPECT_EQ(countOf(CMD_GETALL), before + 2);
}

TEST_F(QueryTest, StopSendsTheOneWayStopWithTheQueryId) {
  query->setCommands(CMD_START, kStop);
  query->setRefresh(1000, 0);
  query->results()->open();
  query->start();
  answer(last(CMD_START), idReply(55));
  query->stop();
  ASSERT_EQ(countOf(kStop), 1u);
  nv::message stop = last(kStop);
  EXPECT_EQ(stop.get(STD_ID), 55u);
  EXPECT_EQ(stop.get(SYS_TO), (U32s{20, 4}));
  EXPECT_FALSE(stop.get(SYS_REPLYEXP));
  EXPECT_FALSE(query->running());
  EXPECT_EQ(query->queryId(), kNoId);
  size_t fetches = countOf(CMD_GETALL);
  clock().advance(5000); // the results map stopped refreshing
  EXPECT_EQ(countOf(CMD_GETALL), fetches);
  query->stop(); // not running: nothing more
  EXPECT_EQ(countOf(kStop), 1u);
  EXPECT_EQ(log->log, (std::vector<std::string>{"running", "stopped"}));
}

TEST_F(QueryTest, QueryTheRouterStartedAfterTheStopIsStoppedToo) {
  query->setCommands(CMD_START, kStop);
  query->start();
  nv::message first = last(CMD_START);
  query->stop(); // before the reply: no id known yet
  EXPECT_EQ(countOf(kStop), 0u);
  answer(first, idReply(60));
  ASSERT_EQ(countOf(kStop), 1u);
  EXPECT_EQ(last(kStop).get(STD_ID), 60u);
  EXPECT_FALSE(query->running());
  EXPECT_EQ(query->queryId(), kNoId);
}

TEST_F(QueryTest, DescriptorQueryMakesItsResultsAndCommands) {
  ASSERT_EQ(loadAndComplete("[{name:'S',title:'S',c:[{type:'query',title:'Torch',path:[20,4],"
                            "ordered:1,startcmd:256,cancelcmd:257,autorefresh:0,"
                            "autolimit:500,request:[{type:'string',name:'iface',id:'s1'}],"
                            "status:[{type:'number',name:'total',id:'u2'}],"
                            "c:[{type:'number',name:'rate',id:'u3'}]}]}]"),
            "");
  auto& type = static_cast<CQuery&>(*services().back()->types().front());
  auto live = createObjectQuery(type);
  ASSERT_TRUE(live);
  EXPECT_TRUE(live->results()->ordered());
  EXPECT_EQ(live->extra(), 500u);
  ASSERT_NE(live->status(), nullptr);
  live->start();
  EXPECT_EQ(countOf(256), 1u);
  answer(last(256), idReply(8));
  live->results()->refresh();
  EXPECT_EQ(last(CMD_GETALL).get(STD_ID), 8u);
  answer(last(CMD_GETALL), rows({2}));
  ASSERT_NE(live->results()->find(2), nullptr);
  EXPECT_EQ(live->results()->find(2)->getType(), type.result().title());
  live->stop();
  EXPECT_EQ(last(257).get(STD_ID), 8u);
  EXPECT_FALSE(createObjectQuery(cquery("not completed")));
}

} // namespace
} // namespace kestel::test
