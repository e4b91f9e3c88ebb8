#include "RunHarness.h"

#include "api/container/Holder.h"

namespace kestel::test {
namespace {

using namespace runs;

using U32s = std::vector<uint32_t>;

struct HolderLog final : IHolderListener {
  void holderChanged(ObjectHolder&) override { ++changes; }
  int changes = 0;
};

class HolderTest : public ContainerTest {
protected:
  HolderTest() { holder->addListener(log.get()); }

  RunObject& held() { return *object; }

  Reference<RunObject> object = runObject(0, "identity");
  Reference<ObjectHolder> holder =
      createObjectHolder(object.get(), {4, 1, kNoId}, HolderRegistration::Register);
  Reference<HolderLog> log = makeRef<HolderLog>();
};

TEST_F(HolderTest, GetAndSetRoundTrip) {
  holder->refresh();
  nv::message get = last(CMD_GET);
  EXPECT_EQ(get.get(SYS_TO), (U32s{4, 1}));
  nv::message values = withValue(17);
  values.set(kText, "router-1");
  answer(get, values);
  EXPECT_EQ(held().rec().value, 17u);
  EXPECT_EQ(held().rec().text, "router-1");
  EXPECT_EQ(log->changes, 1);
  EXPECT_FALSE(held().hasID());

  held().rec().text = "router-2";
  auto done = makeRef<ChangeRecorder>();
  holder->commit(done.get());
  nv::message set = last(CMD_SET);
  EXPECT_EQ(set.get(SYS_TO), (U32s{4, 1}));
  EXPECT_EQ(set.get(kText), "router-2");
  EXPECT_EQ(set.get(kValue), 17u);
  EXPECT_FALSE(set.has(STD_FILTER));
  EXPECT_TRUE(done->results.empty());
  answer(set);
  EXPECT_EQ(done->results, std::vector<ChangeResult>{ChangeResult::Succeeded});
  EXPECT_EQ(log->changes, 2);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(HolderTest, RefusedSetShowsTheTextAndReadsTheRoutersValuesBack) {
  held().rec().value = 99;
  auto done = makeRef<ChangeRecorder>();
  holder->commit(done.get());
  answerError(last(CMD_SET), ERROR_NOTALLOWED, "read only");
  EXPECT_EQ(done->results, std::vector<ChangeResult>{ChangeResult::Failed});
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].rfind("Couldn't change identity - read only", 0), 0u) << boxes.boxes[0];
  ASSERT_EQ(countOf(CMD_GET), 1u);
  answer(last(CMD_GET), withValue(5));
  EXPECT_EQ(held().rec().value, 5u);
}

TEST_F(HolderTest, RefusedGetKeepsTheValuesAndSaysWhyUntilAGoodRead) {
  held().rec().value = 3;
  holder->refresh();
  answerError(last(CMD_GET), ERROR_NOTALLOWED, "no access");
  EXPECT_EQ(holder->statusText(), "ERROR: no access");
  EXPECT_EQ(held().rec().value, 3u);
  EXPECT_EQ(log->changes, 1);
  holder->refresh();
  answer(last(CMD_GET), withValue(4));
  EXPECT_EQ(holder->statusText(), "");
  EXPECT_EQ(held().rec().value, 4u);
}

TEST_F(HolderTest, RefreshIntervalReadsAgainAfterEachAnswerAndASecondRefreshReplacesTheFirst) {
  holder->setRefresh(2000, 0x40);
  holder->refresh();
  nv::message first = last(CMD_GET);
  EXPECT_EQ(first.get(STD_FILTER), kHolderDefaultFilter | 0x40);
  holder->refresh(); // replaces the read in flight
  EXPECT_EQ(countOf(CMD_GET), 2u);
  answer(first, withValue(1)); // the replaced read's answer is dropped
  EXPECT_EQ(held().rec().value, 0u);
  answer(last(CMD_GET), withValue(2));
  EXPECT_EQ(held().rec().value, 2u);
  clock().advance(1999);
  EXPECT_EQ(countOf(CMD_GET), 2u);
  clock().advance(1);
  EXPECT_EQ(countOf(CMD_GET), 3u);
  clock().advance(10000); // unanswered: nothing more
  EXPECT_EQ(countOf(CMD_GET), 3u);

  answer(last(CMD_GET));
  holder->setRefresh(0, 0); // ends the timer armed by that answer
  clock().advance(10000);
  EXPECT_EQ(countOf(CMD_GET), 3u);
}

TEST_F(HolderTest, MissingCommandsSendNothing) {
  holder->setCommands(kNoId, kNoId);
  auto done = makeRef<ChangeRecorder>();
  holder->commit(done.get());
  holder->refresh();
  EXPECT_TRUE(posted().empty());
  EXPECT_EQ(done->results, std::vector<ChangeResult>{ChangeResult::Succeeded});
}

TEST_F(HolderTest, HoldersAreFoundByPathWhileTheyLive) {
  EXPECT_EQ(getObjectHolder({4, 1, kNoId}), holder.get());
  EXPECT_EQ(getObjectHolder({4, 1}), holder.get());
  EXPECT_EQ(getObjectHolder({4}), nullptr);
  auto quiet = createObjectHolder(runObject().get(), {9, kNoId}, HolderRegistration::DoNotRegister);
  EXPECT_EQ(getObjectHolder({9}), nullptr);
  auto second = createObjectHolder(runObject().get(), {4, 1}, HolderRegistration::Register);
  EXPECT_EQ(getObjectHolder({4, 1}), second.get()); // the later holder takes the path
  holder->refresh();
  nv::message get = last(CMD_GET);
  holder = nullptr; // the earlier one going leaves the later one registered
  EXPECT_EQ(getObjectHolder({4, 1}), second.get());
  second = nullptr;
  EXPECT_EQ(getObjectHolder({4, 1}), nullptr);
  EXPECT_EQ(object->getOwner(), nullptr);
  answer(get, withValue(8)); // a holder that is gone hears nothing
  EXPECT_EQ(object->rec().value, 0u);
}

} // namespace
} // namespace kestel::test
