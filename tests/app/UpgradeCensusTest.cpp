// "Upgrade" with other instances running, on a manual clock: alone, the upgrade starts at once;
// with others, the user is asked, and yes closes them and upgrades a census wait later, no leaves
// them running and returns to the idle form; nobody to ask closes nobody.
#include "app/UpgradeCensus.h"
#include "support/ModelFixture.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

class UpgradeCensusTest : public test::ModelFixture {
protected:
  UpgradeCensusTest() { EXPECT_TRUE(ensurePrivateFolder(folder).ok()); }
  std::unique_ptr<InstanceCensus> open(int& quits) {
    auto census = InstanceCensus::open(reactor, folder, [&quits] { ++quits; });
    return census ? std::move(*census) : nullptr;
  }
  void pump() {
    for (int i = 0; i < 4; ++i)
      reactor.runOnce(0);
  }

  test::TempFolder temp;
  std::string folder = temp.file("census");
};

TEST_F(UpgradeCensusTest, AloneTheUpgradeStartsAfterTheCount) {
  int quits = 0, upgrades = 0, asked = 0;
  auto self = open(quits);
  UpgradeCensus start(reactor, self.get(), {[&](auto) { ++asked; }, [&] { ++upgrades; }, [] {}});
  start.start();
  pump();
  reactor.advance(kCensusWaitMs);
  EXPECT_EQ(upgrades, 1);
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(start.running());

  UpgradeCensus noCensus(reactor, nullptr, {{}, [&] { ++upgrades; }, {}});
  noCensus.start();
  EXPECT_EQ(upgrades, 2);
}

TEST_F(UpgradeCensusTest, OthersAreClosedOnlyWhenTheUserSaysYes) {
  for (bool yes : {true, false}) {
    SCOPED_TRACE(yes);
    int selfQuits = 0, otherQuits = 0, upgrades = 0, idles = 0;
    auto self = open(selfQuits);
    auto other = open(otherQuits);
    std::function<void(bool)> answer;
    UpgradeCensus start(reactor, self.get(),
                        {[&](std::function<void(bool)> a) { answer = std::move(a); },
                         [&] { ++upgrades; }, [&] { ++idles; }});
    start.start();
    pump();
    reactor.advance(kCensusWaitMs);
    ASSERT_TRUE(answer); // one other instance: the question is asked
    answer(yes);
    pump();
    EXPECT_EQ(otherQuits, yes ? 1 : 0);
    EXPECT_EQ(idles, yes ? 0 : 1);
    reactor.advance(kCensusWaitMs - 1);
    EXPECT_EQ(upgrades, 0);
    reactor.advance(1);
    EXPECT_EQ(upgrades, yes ? 1 : 0);
    EXPECT_EQ(selfQuits, 0);
  }
  // Nobody to ask: the other instance is left alone.
  int quits = 0, otherQuits = 0, upgrades = 0, idles = 0;
  auto self = open(quits);
  auto other = open(otherQuits);
  UpgradeCensus start(reactor, self.get(), {{}, [&] { ++upgrades; }, [&] { ++idles; }});
  start.start();
  pump();
  reactor.advance(2 * kCensusWaitMs);
  pump();
  EXPECT_EQ(otherQuits, 0);
  EXPECT_EQ(upgrades, 0);
  EXPECT_EQ(idles, 1);
}

} // namespace
} // namespace kestel
