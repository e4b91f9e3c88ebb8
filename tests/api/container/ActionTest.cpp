#include "RunHarness.h"

#include "api/container/Action.h"

namespace kestel::test {
namespace {

using namespace runs;

using U32s = std::vector<uint32_t>;

struct ActionLog final : IActionListener {
  void runStateChanged(ObjectAction&, bool running) override {
    log.push_back(running ? "running" : "stopped");
  }
  void statusChanged(ObjectAction&, IObject* status) override {
    log.push_back("status " + std::to_string(static_cast<RunObject*>(status)->rec().value));
  }
  std::vector<std::string> log;
};

class ActionTest : public ContainerTest {
protected:
  ActionTest() { action->addListener(log.get()); }

  // Starts the action and answers the start with router id 42; returns the first poll.
  nv::message startAndAccept() {
    action->start(done.get());
    answer(last(CMD_START), idReply(42));
    return last(CMD_POLL);
  }
  static nv::message idReply(uint32_t id) {
    nv::message m;
    m.set(STD_ID, id);
    return m;
  }
  static nv::message progress(uint32_t value, bool finished) {
    nv::message m = withValue(value);
    if (finished)
      m.set(nv::bool_id(STD_FINISHED), true);
    return m;
  }

  Reference<RunObject> params = runObject(3, "ping", WithId::Yes);
  Reference<RunObject> status = runObject();
  Reference<ObjectAction> action = createObjectAction(params.get(), status.get(), {7, 2, kNoId});
  Reference<ActionLog> log = makeRef<ActionLog>();
  Reference<ChangeRecorder> done = makeRef<ChangeRecorder>();
};

TEST_F(ActionTest, StartSendsTheParametersAndPollsWithTheRoutersId) {
  params->rec().id = 9; // the parameters' own id is the action id until the router gives one
  action->start(done.get());
  nv::message start = last(CMD_START);
  EXPECT_EQ(start.get(SYS_TO), (U32s{7, 2}));
  EXPECT_EQ(start.get(kValue), 3u);
  EXPECT_EQ(start.get(kText), "ping");
  EXPECT_EQ(action->actionId(), 9u);
  EXPECT_TRUE(action->running());
  EXPECT_EQ(countOf(CMD_POLL), 0u); // not before the start is answered

  answer(start, idReply(42));
  EXPECT_EQ(done->results, std::vector<ChangeResult>{ChangeResult::Succeeded});
  EXPECT_EQ(action->actionId(), 42u);
  ASSERT_EQ(countOf(CMD_POLL), 1u);
  EXPECT_EQ(last(CMD_POLL).get(STD_ID), 42u);
  EXPECT_EQ(last(CMD_POLL).get(SYS_TO), (U32s{7, 2}));
}

TEST_F(ActionTest, StartReplyWithoutIdKeepsTheOldOneAndGivenIdOverridesTheParameters) {
  params->rec().id = 9;
  action->start();
  answer(last(CMD_START)); // no STD_ID in the reply
  EXPECT_EQ(action->actionId(), 9u);
  EXPECT_EQ(last(CMD_POLL).get(STD_ID), 9u);

  action->stop();
  action->useActionId(77);
  action->start();
  EXPECT_EQ(last(CMD_START).get(STD_ID), 77u);

  action->stop();
  auto bare = createObjectAction(runObject().get(), status.get(), {7, kNoId});
  bare->start();
  EXPECT_EQ(bare->actionId(), kNoId);
  answer(last(CMD_START));
  EXPECT_FALSE(last(CMD_POLL).has(STD_ID)); // an unknown id is not sent
}

TEST_F(ActionTest, PollReplyWithoutFinishedSchedulesExactlyOnePollOneSecondLater) {
  answer(startAndAccept(), progress(5, false));
  EXPECT_EQ(status->rec().value, 5u);
  EXPECT_EQ(log->log, (std::vector<std::string>{"running", "status 5"}));
  clock().advance(999);
  EXPECT_EQ(countOf(CMD_POLL), 1u);
  clock().advance(1);
  EXPECT_EQ(countOf(CMD_POLL), 2u);
  clock().advance(10000); // unanswered: no further poll
  EXPECT_EQ(countOf(CMD_POLL), 2u);

  action->setPollInterval(250);
  answer(last(CMD_POLL), progress(6, false));
  clock().advance(249);
  EXPECT_EQ(countOf(CMD_POLL), 2u);
  clock().advance(1);
  EXPECT_EQ(countOf(CMD_POLL), 3u);
}

TEST_F(ActionTest, FinishedPollEndsTheAction) {
  answer(startAndAccept(), progress(8, true));
  EXPECT_FALSE(action->running());
  EXPECT_EQ(log->log, (std::vector<std::string>{"running", "status 8", "stopped"}));
  clock().advance(5000);
  EXPECT_EQ(countOf(CMD_POLL), 1u);
  EXPECT_TRUE(boxes.boxes.empty());
}

// Refusals: which box shows, and that the action ends.
TEST_F(ActionTest, RefusedStartOrPollShowsItsTextAndEnds) {
  action->start(done.get());
  answerError(last(CMD_START), ERROR_NOTALLOWED, "no permission");
  EXPECT_FALSE(action->running());
  EXPECT_EQ(done->results, std::vector<ChangeResult>{ChangeResult::Failed});
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].rfind("Couldn't start - no permission", 0), 0u) << boxes.boxes[0];
  EXPECT_EQ(countOf(CMD_POLL), 0u);

  answerError(startAndAccept(), ERROR_FAILED);
  EXPECT_FALSE(action->running());
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[1].rfind("Couldn't continue - ", 0), 0u) << boxes.boxes[1];
  clock().advance(5000);
  EXPECT_EQ(countOf(CMD_POLL), 1u);
  EXPECT_EQ(log->log, (std::vector<std::string>{"running", "stopped", "running", "stopped"}));
}

TEST_F(ActionTest, StopWithoutCancelCommandEndsAtOnceAndDropsThePoll) {
  action->setCommands(CMD_START, CMD_POLL, kNoId);
  nv::message poll = startAndAccept();
  action->stop(done.get());
  EXPECT_FALSE(action->running());
  EXPECT_FALSE(action->stopping());
  EXPECT_EQ(done->results, (std::vector<ChangeResult>{ChangeResult::Succeeded,    // start
                                                      ChangeResult::Succeeded})); // stop
  EXPECT_EQ(countOf(CMD_CANCEL), 0u);
  answer(poll, progress(9, false)); // the dropped poll's late answer changes nothing
  EXPECT_EQ(status->rec().value, 0u);
  clock().advance(5000);
  EXPECT_EQ(countOf(CMD_POLL), 1u);

  action->stop(done.get()); // stopping an idle action succeeds and says nothing
  EXPECT_EQ(done->results.size(), 3u);
  EXPECT_EQ(log->log, (std::vector<std::string>{"running", "stopped"}));
}

TEST_F(ActionTest, StopWithCancelGoesThroughStoppingUntilTheReply) {
  answer(startAndAccept(), progress(1, false)); // a poll timer is armed
  auto second = makeRef<ChangeRecorder>();
  action->stop(done.get());
  ASSERT_EQ(countOf(CMD_CANCEL), 1u);
  EXPECT_EQ(last(CMD_CANCEL).get(STD_ID), 42u);
  EXPECT_TRUE(action->running());
  EXPECT_TRUE(action->stopping());
  action->stop(second.get()); // a stop in progress: nothing more is sent
  EXPECT_EQ(countOf(CMD_CANCEL), 1u);
  clock().advance(5000); // the poll timer went with the stop
  EXPECT_EQ(countOf(CMD_POLL), 1u);

  answer(last(CMD_CANCEL));
  EXPECT_FALSE(action->running());
  EXPECT_FALSE(action->stopping());
  EXPECT_EQ(done->results.back(), ChangeResult::Succeeded);
  EXPECT_EQ(second->results, std::vector<ChangeResult>{ChangeResult::Succeeded});
  EXPECT_EQ(log->log, (std::vector<std::string>{"running", "status 1", "stopped"}));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ActionTest, RefusedCancelEndsTheActionButTellsTheCallerItFailed) {
  startAndAccept();
  action->stop(done.get());
  answerError(last(CMD_CANCEL), ERROR_BUSY);
  EXPECT_FALSE(action->running());
  EXPECT_EQ(done->results.back(), ChangeResult::Failed);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].rfind("Couldn't stop - ", 0), 0u);

  startAndAccept();
  action->stop(); // no caller waiting: no box
  answerError(last(CMD_CANCEL), ERROR_BUSY);
  EXPECT_FALSE(action->running());
  EXPECT_EQ(boxes.boxes.size(), 1u);
}

TEST_F(ActionTest, RestartWhileRunningIgnoresTheOldRunsReplies) {
  nv::message oldPoll = startAndAccept();
  action->start(done.get()); // cancels the running one first
  EXPECT_EQ(countOf(CMD_CANCEL), 1u);
  EXPECT_EQ(countOf(CMD_START), 2u);
  EXPECT_TRUE(action->running());
  EXPECT_FALSE(action->stopping());
  answer(last(CMD_CANCEL)); // the old run's cancel does not end the new one
  EXPECT_TRUE(action->running());
  answer(oldPoll, progress(4, true)); // nor does its poll
  EXPECT_TRUE(action->running());
  EXPECT_EQ(status->rec().value, 0u);
  answer(last(CMD_START), idReply(43));
  EXPECT_EQ(last(CMD_POLL).get(STD_ID), 43u);
}

TEST_F(ActionTest, RunTheRouterStartsAfterTheStopIsCancelledThere) {
  action->start(done.get());
  nv::message start = last(CMD_START);
  action->stop(); // no id known yet: the cancel goes without one
  EXPECT_FALSE(last(CMD_CANCEL).has(STD_ID));
  answer(last(CMD_CANCEL));
  EXPECT_FALSE(action->running());
  answer(start, idReply(42)); // the router did start it
  EXPECT_EQ(done->results, std::vector<ChangeResult>{ChangeResult::Succeeded});
  ASSERT_EQ(countOf(CMD_CANCEL), 2u);
  EXPECT_EQ(last(CMD_CANCEL).get(STD_ID), 42u);
  EXPECT_EQ(countOf(CMD_POLL), 0u);
  EXPECT_FALSE(action->running());

  // A run replaced before its start was answered is cancelled as well.
  action->start();
  nv::message replaced = last(CMD_START);
  action->start();
  answer(replaced, idReply(51));
  ASSERT_EQ(countOf(CMD_CANCEL), 4u); // the restart's own cancel, then the one for 51
  EXPECT_EQ(last(CMD_CANCEL).get(STD_ID), 51u);
  EXPECT_TRUE(action->running()); // the new run goes on

  // One whose cancel already named its id is not cancelled twice.
  action->useActionId(50);
  action->start();
  nv::message given = last(CMD_START);
  action->stop();
  EXPECT_EQ(last(CMD_CANCEL).get(STD_ID), 50u);
  size_t cancels = countOf(CMD_CANCEL);
  answer(given, idReply(50));
  EXPECT_EQ(countOf(CMD_CANCEL), cancels);
}

// A caller that stops the action as soon as the router accepts the start.
struct StopOnDone final : IChangeListener {
  void changeDone(IObject*, ChangeResult) override {
    seenId = action->actionId();
    action->stop();
  }
  ObjectAction* action = nullptr;
  uint32_t seenId = kNoId;
};

TEST_F(ActionTest, CallerStoppingOnTheStartReplyGetsNoPoll) {
  action->setCommands(CMD_START, CMD_POLL, kNoId);
  auto stopper = makeRef<StopOnDone>();
  stopper->action = action.get();
  action->start(stopper.get());
  answer(last(CMD_START), idReply(42));
  EXPECT_EQ(stopper->seenId, 42u); // the router's id is known when the caller hears
  EXPECT_FALSE(action->running());
  EXPECT_EQ(countOf(CMD_POLL), 0u);
}

TEST_F(ActionTest, WithoutConnectionOrStartCommandNothingRuns) {
  setRouterConnection(nullptr);
  action->start(done.get());
  EXPECT_FALSE(action->running());
  EXPECT_EQ(done->results, std::vector<ChangeResult>{ChangeResult::Failed});

  setRouterConnection(connection.get());
  action->setCommands(kNoId, CMD_POLL, CMD_CANCEL);
  action->start(done.get());
  EXPECT_FALSE(action->running());
  EXPECT_EQ(done->results.back(), ChangeResult::Failed);
  EXPECT_TRUE(posted().empty());
}

TEST_F(ActionTest, DroppingTheActionWithRepliesAndTimerPendingIsSafe) {
  answer(startAndAccept(), progress(1, false));
  action->stop();
  nv::message cancel = last(CMD_CANCEL);
  action = nullptr;
  answer(cancel);
  clock().advance(5000);
  EXPECT_EQ(countOf(CMD_POLL), 1u);
}

} // namespace
} // namespace kestel::test
