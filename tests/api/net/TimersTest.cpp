#include "NetTestSupport.h"

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace kestel::test {
namespace {

using Clock = PollReactor::Clock;

TEST(PollReactor, ManualClockFiresTimersInDueOrderAtTheirOwnTime) {
  PollReactor reactor(Clock::Manual);
  std::vector<std::pair<int, int64_t>> fired; // (tag, now at firing)
  reactor.addTimer(
      300, [&] { fired.emplace_back(3, reactor.now()); }, false);
  reactor.addTimer(
      100, [&] { fired.emplace_back(1, reactor.now()); }, false);
  reactor.addTimer(
      100, [&] { fired.emplace_back(2, reactor.now()); }, false);
  auto repeat = reactor.addTimer(
      150, [&] { fired.emplace_back(4, reactor.now()); }, true);

  reactor.advance(99);
  EXPECT_TRUE(fired.empty());
  reactor.advance(251); // now 350
  std::vector<std::pair<int, int64_t>> expect{{1, 100}, {2, 100}, {4, 150}, {3, 300}, {4, 300}};
  EXPECT_EQ(fired, expect);
  EXPECT_EQ(reactor.now(), 350);
  reactor.removeTimer(repeat);
  reactor.advance(1000);
  EXPECT_EQ(fired.size(), expect.size());
  EXPECT_EQ(reactor.timerCount(), 0u);
}

TEST(PollReactor, OneShotIsGoneBeforeItsCallbackAndRepeatCanRemoveItself) {
  PollReactor reactor(Clock::Manual);
  size_t countInside = 99;
  reactor.addTimer(
      10, [&] { countInside = reactor.timerCount(); }, false);
  reactor.advance(10);
  EXPECT_EQ(countInside, 0u);

  int runs = 0;
  Reactor::TimerId id = 0;
  id = reactor.addTimer(
      10,
      [&] {
        if (++runs == 3)
          reactor.removeTimer(id);
      },
      true);
  reactor.advance(100);
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(reactor.timerCount(), 0u);
}

TEST(PollReactor, PostFromAnotherThreadWakesTheLoop) {
  PollReactor reactor(Clock::Manual);
  std::atomic<bool> ran{false};
  std::thread t([&] { reactor.post([&] { ran = true; }); });
  for (int i = 0; i < 100 && !ran; ++i)
    reactor.runOnce(100);
  t.join();
  EXPECT_TRUE(ran);
}

TEST(PollReactor, WatchReportsReadinessAndUnwatchInsideCallbackIsSafe) {
  PollReactor reactor(Clock::Manual);
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
  int calls = 0;
  reactor.watch(fds[0], IoRead, [&](unsigned int events) {
    EXPECT_TRUE(events & IoRead);
    ++calls;
    reactor.unwatch(fds[0]);
  });
  reactor.runOnce(0);
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  reactor.runOnce(1000);
  reactor.runOnce(0);
  EXPECT_EQ(calls, 1);
  ::close(fds[0]);
  ::close(fds[1]);
}

class TimerServiceTest : public ReactorTest {};

TEST_F(TimerServiceTest, IdsStartAtZeroForTheCallerAndTimersBelongToListenerAndContext) {
  auto listener = makeRef<RecordingListener>();
  int a = 0, b = 0;
  unsigned int first = addTimer(100, listener.get(), &a, false);
  unsigned int second = addTimer(200, listener.get(), &b, true);
  unsigned int third = addTimer(300, listener.get(), &b, false);
  EXPECT_EQ(first, 0u); // counter starts at 1; callers see one less
  EXPECT_EQ(second, 1u);
  EXPECT_EQ(third, 2u);
  EXPECT_TRUE(hasTimer(listener.get(), &a));

  reactor.advance(100);
  EXPECT_EQ(listener->timers, std::vector<unsigned int>{first});
  EXPECT_FALSE(hasTimer(listener.get(), &a));

  removeTimer(listener.get(), &b); // both of context b
  EXPECT_FALSE(hasTimer(listener.get(), &b));
  reactor.advance(1000);
  EXPECT_EQ(listener->timers.size(), 1u);
  EXPECT_EQ(reactor.timerCount(), 0u);
}

TEST_F(TimerServiceTest, TheCounterSkipsZeroAndLiveIdsWhenItWraps) {
  TimerService service(reactor, 0xFFFFFFFE);
  auto listener = makeRef<RecordingListener>();
  unsigned int last = service.addTimer(10, listener.get(), nullptr, false);
  unsigned int wrapped = service.addTimer(10, listener.get(), nullptr, false);
  EXPECT_EQ(last, 0xFFFFFFFEu); // counter 0xFFFFFFFF: never the "none" id
  EXPECT_EQ(wrapped, 0u);       // counter 0 skipped, 1 used
  EXPECT_EQ(service.addTimer(10, nullptr, nullptr, false), 0xFFFFFFFFu);
  reactor.advance(10);
  EXPECT_EQ(listener->timers, (std::vector<unsigned int>{last, wrapped}));
}

TEST(PollReactor, SystemClockRunsDueTimersAndPostedTasks) {
  PollReactor reactor;
  int fired = 0;
  reactor.addTimer(
      0, [&] { ++fired; }, false);
  reactor.post([&] { ++fired; });
  reactor.runOnce(0);
  EXPECT_EQ(fired, 2);
  EXPECT_GT(reactor.now(), 0);
}

TEST_F(TimerServiceTest, RemoveByIdAndRepeat) {
  auto listener = makeRef<RecordingListener>();
  unsigned int repeat = addTimer(10, listener.get(), nullptr, true);
  unsigned int other = addTimer(15, listener.get(), nullptr, false);
  removeTimerByID(other);
  removeTimerByID(0xFFFFFFFF); // "none" is ignored
  reactor.advance(35);
  EXPECT_EQ(listener->timers, (std::vector<unsigned int>{repeat, repeat, repeat}));
  removeTimerByID(repeat);
  reactor.advance(100);
  EXPECT_EQ(listener->timers.size(), 3u);
}

TEST_F(TimerServiceTest, OneShotErasedBeforeListenerRunsAndListenerKeptAlive) {
  bool sawTimerInside = true;
  int destroyed = 0;
  struct Counted final : EventListener {
    explicit Counted(int& d) : d_(d) {}
    ~Counted() override { ++d_; }
    void onEvent(Event&) override { inside(); }
    std::function<void()> inside;
    int& d_;
  };
  Counted* raw = new Counted(destroyed);
  {
    Reference<Counted> ref(raw);
    raw->inside = [&] { sawTimerInside = hasTimer(raw, nullptr); };
    addTimer(50, raw, nullptr, false);
  } // the caller's reference is gone; the timer entry holds the only one
  EXPECT_EQ(destroyed, 0);
  reactor.advance(50);
  EXPECT_FALSE(sawTimerInside);
  EXPECT_EQ(destroyed, 1);
}

} // namespace
} // namespace kestel::test
