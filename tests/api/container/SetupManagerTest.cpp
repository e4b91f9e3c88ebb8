#include "RunHarness.h"

#include "api/container/SetupManager.h"

namespace kestel::test {
namespace {

using namespace runs;

using U32s = std::vector<uint32_t>;
using Report = std::pair<bool, std::string>;

struct SetupLog final : ISetupListener {
  void stepChanged(SetupManager&, bool end, const std::string& text) override {
    reports.emplace_back(end, text);
  }
  std::vector<Report> reports;
};

class SetupManagerTest : public ContainerTest {
protected:
  SetupManagerTest() { setup->addListener(log.get()); }

  RunObject& object() { return *static_cast<RunObject*>(setup->object()); }
  // The router's answer to the last page request: the next page, its number and description.
  void nextPage(uint32_t value, uint32_t pageNo, const std::string& descr) {
    nv::message reply;
    reply.set(STD_PAGE, withValue(value));
    reply.set(STD_PAGENO, pageNo);
    reply.set(STD_DESCR, descr);
    answer(last(CMD_SETFORM), reply);
  }

  Reference<SetupManager> setup =
      createSetupManager(createFactory([](const nv::message&) {
                           return Reference<IObject>(runObject(0, "wizard"));
                         }).get(),
                         {12, 3, kNoId});
  Reference<SetupLog> log = makeRef<SetupLog>();
};

TEST_F(SetupManagerTest, NextSendsTheObjectOnThePageAndTheReplyAdvances) {
  object().rec().value = 4;
  setup->next(false);
  nv::message sent = last(CMD_SETFORM);
  EXPECT_EQ(sent.get(SYS_TO), (U32s{12, 3}));
  EXPECT_EQ(sent.get(STD_PAGENO), 1u);
  EXPECT_EQ(sent.get(STD_PAGE).get(kValue), 4u);
  EXPECT_EQ(sent.get(STD_PAGE).get(kText), "wizard");
  setup->next(false); // one page request at a time
  EXPECT_EQ(countOf(CMD_SETFORM), 1u);

  nextPage(20, 7, "Addresses");
  EXPECT_EQ(setup->step(), 1);
  EXPECT_EQ(setup->pageAt(1), 7u);
  EXPECT_EQ(object().rec().value, 20u); // the router's page is unpacked into the object
  EXPECT_EQ(log->reports, (std::vector<Report>{{false, "Addresses"}}));

  // The next request carries the router's page message with the object packed into it.
  object().rec().text = "second";
  setup->next(false);
  sent = last(CMD_SETFORM);
  EXPECT_EQ(sent.get(STD_PAGENO), 7u);
  EXPECT_EQ(sent.get(STD_PAGE).get(kValue), 20u);
  EXPECT_EQ(sent.get(STD_PAGE).get(kText), "second");
}

TEST_F(SetupManagerTest, BackAndReusedNextWalkTheHistoryWithoutRequests) {
  setup->back(); // at step 0: nothing
  EXPECT_TRUE(log->reports.empty());

  setup->next(false);
  nextPage(1, 5, "two");
  setup->next(false);
  nextPage(2, 6, "three");
  ASSERT_EQ(countOf(CMD_SETFORM), 2u);
  setup->back();
  setup->back();
  EXPECT_EQ(setup->step(), 0);
  setup->next(true);
  setup->next(true);
  EXPECT_EQ(setup->step(), 2);
  EXPECT_EQ(countOf(CMD_SETFORM), 2u); // visited pages come back without asking
  EXPECT_EQ(log->reports, (std::vector<Report>{{false, "two"},
                                               {false, "three"},
                                               {false, "two"},
                                               {false, ""},
                                               {false, "two"},
                                               {false, "three"}}));
  setup->next(true); // no later page visited: asks the router
  EXPECT_EQ(countOf(CMD_SETFORM), 3u);
  EXPECT_EQ(last(CMD_SETFORM).get(STD_PAGENO), 6u);
}

TEST_F(SetupManagerTest, NewAnswerAfterGoingBackCutsTheLaterHistory) {
  setup->next(false);
  nextPage(1, 5, "two");
  setup->next(false);
  nextPage(2, 6, "three");
  setup->back();
  setup->back();
  setup->next(false); // from step 0 again: the page sent is step 0's, not the last one seen
  nv::message sent = last(CMD_SETFORM);
  EXPECT_EQ(sent.get(STD_PAGENO), 1u);
  nextPage(3, 9, "other two");
  EXPECT_EQ(setup->step(), 1);
  EXPECT_EQ(setup->stepCount(), 2u);
  EXPECT_EQ(setup->pageAt(1), 9u);
  EXPECT_EQ(setup->descriptionAt(1), "other two");
  setup->next(true); // the old third page is gone
  EXPECT_EQ(countOf(CMD_SETFORM), 4u);
}

TEST_F(SetupManagerTest, PageWithoutPageMessageOrNumberKeepsThePageAndAppendsZero) {
  setup->next(false);
  nextPage(8, 4, "two");
  setup->next(false);
  answer(last(CMD_SETFORM)); // no STD_PAGE, no STD_PAGENO, no STD_DESCR
  EXPECT_EQ(setup->step(), 2);
  EXPECT_EQ(setup->pageAt(2), 0u);
  EXPECT_EQ(setup->page().get(kValue), 8u);
  EXPECT_EQ(log->reports.back(), (Report{false, ""}));
}

TEST_F(SetupManagerTest, FinishedRunsTheHookAndEndsWithTheDescription) {
  std::vector<std::string> order;
  setup->setFinishHook([&] { order.push_back("hook:" + std::to_string(log->reports.size())); });
  setup->next(false);
  nv::message reply;
  reply.set(nv::bool_id(STD_FINISHED), true);
  reply.set(STD_DESCR, "Setup complete");
  reply.set(STD_PAGE, withValue(99)); // a finishing reply's page is not applied
  answer(last(CMD_SETFORM), reply);
  EXPECT_EQ(order, std::vector<std::string>{"hook:0"});
  EXPECT_EQ(log->reports, (std::vector<Report>{{true, "Setup complete"}}));
  EXPECT_EQ(setup->step(), 0);
  EXPECT_EQ(object().rec().value, 0u);
}

// Refused pages: the text, and whether the wizard ends.
TEST_F(SetupManagerTest, RefusedPageReportsTheErrorAndEndsUnlessItMayBeCorrected) {
  struct Case {
    uint32_t code;
    std::string text;
    Report expected;
  };
  const Case cases[] = {
      {kSetupRetryError, "address taken", {false, "address taken"}},
      {kSetupRetryError, "", {false, "failed"}},
      {ERROR_FAILED, "bad gateway", {true, "bad gateway"}},
      {ERROR_NOTALLOWED, "", {true, "failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected.second);
    log->reports.clear();
    setup->reset();
    setup->next(false);
    nextPage(1, 2, "two");
    setup->next(false);
    answerError(last(CMD_SETFORM), c.code, c.text);
    EXPECT_EQ(log->reports.back(), c.expected);
    EXPECT_EQ(setup->step(), 1); // no step is taken
    EXPECT_FALSE(setup->waiting());
  }
  EXPECT_TRUE(boxes.boxes.empty()); // the wizard shows the text, not a box
}

TEST_F(SetupManagerTest, AnswerToAPageLeftMeanwhileIsDropped) {
  setup->next(false);
  nextPage(1, 5, "two");
  setup->next(false);
  nv::message stale = last(CMD_SETFORM);
  setup->back();
  answer(stale, [] {
    nv::message m;
    m.set(STD_PAGENO, 6u);
    return m;
  }());
  EXPECT_EQ(setup->step(), 0);
  EXPECT_EQ(setup->stepCount(), 2u);

  setup->reset();
  EXPECT_EQ(log->reports.back(), (Report{false, ""}));
  EXPECT_EQ(setup->stepCount(), 1u);
  EXPECT_EQ(setup->pageAt(0), 1u);
  setup->next(true); // nothing visited after a reset: asks the router for page 1
  EXPECT_EQ(last(CMD_SETFORM).get(STD_PAGENO), 1u);
}

// The descriptor model's factory functions hand over a new object as a plain pointer.
void* makeWizardObject(const nv::message&) { return new RunObject(); }

TEST_F(SetupManagerTest, FactoryFunctionMakesTheObjectOnce) {
  auto wizard = createSetupManager(&makeWizardObject, {12, kNoId});
  ASSERT_NE(wizard->object(), nullptr);
  IObject* first = wizard->object();
  wizard->reset();
  wizard->next(false);
  EXPECT_EQ(wizard->object(), first);
  EXPECT_EQ(last(CMD_SETFORM).get(SYS_TO), U32s{12});
}

} // namespace
} // namespace kestel::test
