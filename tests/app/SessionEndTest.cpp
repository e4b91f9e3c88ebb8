// What a session window does when its connection falls, and the question before quitting.
#include "app/SessionEnd.h"
#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace kestel::test {
namespace {

nv::message sessionParameters() {
  nv::message p;
  p.set(param::kAddress, "192.0.2.1");
  p.set(param::kLogin, "admin");
  p.set(param::kPassword, "secret");
  p.set(param::kConnectionState, nv::message());
  p.set(param::kLooperState, nv::message());
  p.set(param::kIndexBytes, std::vector<uint8_t>{1, 2, 3});
  p.set(param::kSkinBytes, std::vector<uint8_t>{4});
  p.set(param::kDisconnected, true); // this session came from an earlier hand-back
  return p;
}

TEST(SessionEndTest, ConnectionLossPlans) {
  struct Case {
    ConnectionLoss loss;
    bool closing, saving;
    bool box, save, close, loader, disconnected, noAutoConnect;
  };
  const Case cases[] = {
      {ConnectionLoss::NeverEstablished, false, true, true, false, false, false, false, false},
      {ConnectionLoss::Lost, false, true, false, true, true, true, true, false},
      {ConnectionLoss::Lost, false, false, false, false, true, true, true, false},
      {ConnectionLoss::Disconnect, false, true, false, false, false, true, false, true},
      {ConnectionLoss::Lost, true, true, false, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.loss) * 10 + c.closing);
    SessionEndPlan plan =
        planConnectionLoss(sessionParameters(), c.loss, c.closing, c.saving, -8, 40);
    EXPECT_EQ(plan.box.empty(), !c.box);
    EXPECT_EQ(plan.saveSession, c.save);
    EXPECT_EQ(plan.closeWindows, c.close);
    EXPECT_EQ(plan.loader.has_value(), c.loader);
    if (c.box) {
      EXPECT_EQ(plan.box, "Could not connect to 192.0.2.1!");
    }
    if (!plan.loader)
      continue;
    const nv::message& p = *plan.loader;
    EXPECT_EQ(p.get(param::kDisconnected), c.disconnected);
    EXPECT_EQ(p.get(param::kNoAutoConnect), c.noAutoConnect);
    EXPECT_EQ(static_cast<int32_t>(p.get(param::kOffsetX)), -8);
    EXPECT_EQ(p.get(param::kOffsetY), 40u);
    // Enough to connect again, nothing of the dead connection.
    EXPECT_EQ(p.get(param::kAddress), "192.0.2.1");
    EXPECT_EQ(p.get(param::kPassword), "secret");
    for (uint32_t gone : {param::kConnectionState.id(), param::kLooperState.id(),
                          param::kIndexBytes.id(), param::kSkinBytes.id()})
      EXPECT_FALSE(p.hasField(gone)) << gone;
    EXPECT_EQ(plan.logText, c.loss == ConnectionLoss::Disconnect ? "closing down" : "");
  }
}

TEST(SessionEndTest, QuittingAsksOnlyInSafeMode) {
  EXPECT_FALSE(quitQuestion(false));
  EXPECT_EQ(quitQuestion(true).value_or(""),
            "You are in Safe Mode.  Quitting will unroll changes. Quit?");
}

} // namespace
} // namespace kestel::test
