#include "RunHarness.h"

#include "api/container/Doit.h"

namespace kestel::test {
namespace {

using namespace runs;

using U32s = std::vector<uint32_t>;
constexpr uint32_t kReboot = 0xFE0020;

class DoitTest : public ContainerTest {
protected:
  Reference<RunObject> object = runObject(1, "now");
  Reference<ObjectDoit> doit = createObjectDoit(object.get(), kReboot, {13, kNoId});
};

TEST_F(DoitTest, EachReplyAnswersTheListenerOfItsOwnRequest) {
  auto first = makeRef<ChangeRecorder>(), second = makeRef<ChangeRecorder>(),
       third = makeRef<ChangeRecorder>();
  doit->send(first.get());
  object->rec().value = 2;
  doit->send(second.get());
  doit->send(third.get());
  auto sent = sentWith(kReboot);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].get(SYS_TO), U32s{13});
  EXPECT_EQ(sent[0].get(kValue), 1u);
  EXPECT_EQ(sent[1].get(kValue), 2u);
  EXPECT_EQ(doit->waiting(), 3u);

  answer(sent[0]);
  EXPECT_EQ(first->results, std::vector<ChangeResult>{ChangeResult::Succeeded});
  EXPECT_TRUE(second->results.empty());
  // Out of order: the third request's refusal reaches the third caller, not the second.
  answerError(sent[2], ERROR_BUSY);
  EXPECT_TRUE(second->results.empty());
  EXPECT_EQ(third->results, std::vector<ChangeResult>{ChangeResult::Failed});
  answer(sent[1]);
  EXPECT_EQ(second->results, std::vector<ChangeResult>{ChangeResult::Succeeded});
  EXPECT_EQ(doit->waiting(), 0u);
  EXPECT_EQ(first->objects[0], object.get());
}

TEST_F(DoitTest, RefusalShowsTheCommandsOwnTextOrTheDefault) {
  doit->send();
  answerError(last(kReboot), ERROR_NOTALLOWED, "not now");
  doit->setErrorText("Couldn't reboot");
  doit->send();
  answerError(last(kReboot), ERROR_NOTALLOWED, "not now");
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].rfind("Couldn't perform action - not now", 0), 0u) << boxes.boxes[0];
  EXPECT_EQ(boxes.boxes[1].rfind("Couldn't reboot - not now", 0), 0u) << boxes.boxes[1];
}

TEST_F(DoitTest, NothingToSendIsAFailure) {
  auto done = makeRef<ChangeRecorder>();
  createObjectDoit(object.get(), kNoId, {13, kNoId})->send(done.get());
  setRouterConnection(nullptr);
  doit->send(done.get());
  EXPECT_TRUE(posted().empty());
  EXPECT_EQ(done->results, (std::vector<ChangeResult>{ChangeResult::Failed, ChangeResult::Failed}));
}

} // namespace
} // namespace kestel::test
