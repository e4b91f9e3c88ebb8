// Monitors on the manual clock against the simulator's menus served in-process over loopback,
// its values stepping every second: the oracle is the router's own store. A counter shows the
// store's value, a reported rate graphs the store's rate, a rate computed from the byte counter
// is the rate the router sent at during the step before, the CPU load comes from a settings page,
// and a monitored object that goes away shows it and leaves gaps.
#include "app/Dashboard.h"

#include "api/container/MapFactories.h"
#include "api/net/Looper.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "miw/ConvertorRate.h"
#include "miw/SlotConvertors.h"
#include "sim/LiveValues.h"
#include "sim/MenuTestSupport.h"

#include <gtest/gtest.h>

namespace kestel::test {
namespace {

using sim::LiveValues;

// The text of a bit rate, by the convertor the member's column uses.
std::string bits(uint64_t rate) {
  return changeRateConvertor(NumberWidth::Bits64, RateOf::Bits)->format(FieldValue(rate));
}

class MonitorFeedTest : public ::testing::Test {
protected:
  MonitorFeedTest() {
    resetLooper();
    installSlotConvertors();
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      EXPECT_TRUE(loadDescriptors(std::string(KESTEL_SAMPLE_DIR) + "/" + name).ok()) << name;
    EXPECT_TRUE(completeAllTypes().ok());
    settingsRegistry().loadSettings("/nonexistent/kestel-test/settings.viw");
    sim::CatalogueOptions options;
    options.live.intervalMs = 1000;
    router = std::make_unique<MenuRouter>(reactor, options);
    connection = createConnection(reactor);
    setRouterConnection(connection.get());
    getLooper()->setSessionFactory(createProxy);
    connection->connect(kLoopback, router->server.port());
    static_cast<SecureSession*>(getLooper()->session())->start("admin", "pw", nullptr);
    interfaces = router->catalogue->store("interfaces");
  }
  ~MonitorFeedTest() override {
    dashboard.reset();
    setRouterConnection(nullptr);
    resetLooper();
  }
  // One second on the router's and the client's clock, then the traffic it caused.
  void second(const std::function<bool()>& arrived) {
    reactor.advance(1000);
    ASSERT_TRUE(runUntil(reactor, arrived));
  }
  const MonitorFeed& feed(size_t i) { return *dashboard->applets()[i].feed; }

  ModelContext model;
  ModelScope modelScope{model};
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope reactorScope{reactor};
  std::unique_ptr<MenuRouter> router;
  Reference<Connection> connection;
  sim::MenuStore* interfaces = nullptr;
  std::unique_ptr<Dashboard> dashboard = std::make_unique<Dashboard>();
};

TEST_F(MonitorFeedTest, FollowsTheRoutersValuesSecondBySecond) {
  for (const char* field : {"txbytes", "txrate", "txbps"})
    ASSERT_TRUE(dashboard->addMonitor({"Interfaces", 2, field}).ok());
  ASSERT_TRUE(dashboard->addMonitor({"Resources", kNoId, "cpuload"}).ok());
  EXPECT_EQ(feed(0).kind(), MonitorKind::Text);
  EXPECT_EQ(feed(1).kind(), MonitorKind::Rate);
  EXPECT_EQ(feed(2).kind(), MonitorKind::CounterRate);
  EXPECT_EQ(feed(3).kind(), MonitorKind::Percent);
  auto* map = dynamic_cast<ObjectMap*>(getObjectMap(Path{20, 1}));
  ASSERT_NE(map, nullptr);
  ASSERT_TRUE(runUntil(reactor, [&] { return map->find(2) && !feed(3).text().empty(); }));

  Reference<IConvertor> bits = changeRateConvertor(NumberWidth::Bits64, RateOf::Bits);
  uint64_t rateBefore = 0;
  for (int step = 0; step < 6; ++step) {
    rateBefore = interfaces->get(2).get(LiveValues::kTxRate);
    uint64_t bytesNow = 0;
    second([&] {
      bytesNow = interfaces->get(2).get(LiveValues::kTxBytes);
      const FieldValue& shown =
          slotField(*findField(*findMenu("Interfaces")->type, "txbytes"))->value(*map->find(2));
      return std::get<uint64_t>(shown) == bytesNow;
    });
    // Text: what the member's column shows for the store's counter.
    EXPECT_FALSE(feed(0).text().empty());
    // The rate computed from the counter: the bytes the router sent during the second before,
    // as bits per second.
    if (step > 0) {
      EXPECT_EQ(feed(2).text(), bits->format(FieldValue(rateBefore / 8 * 8))) << step;
    }
  }
  // Every graph took a sample each second, as the second began: the reported rate's last
  // sample is the rate the map held then, the store's rate before the last step.
  const std::vector<std::optional<double>>& samples = feed(1).graph()->samples();
  EXPECT_EQ(samples.size(), 6u);
  for (const std::optional<double>& s : samples)
    EXPECT_TRUE(s.has_value());
  EXPECT_EQ(feed(1).graph()->latest(), double(rateBefore));
  EXPECT_EQ(feed(3).graph()->scaleTop(), 100);
  EXPECT_EQ(feed(3).text().back(), '%');
}

TEST_F(MonitorFeedTest, AnObjectThatGoesShowsItAndLeavesGaps) {
  sim::MenuStore* rules = router->catalogue->store("firewall");
  uint32_t id = rules->idAt(0);
  ASSERT_TRUE(dashboard->addMonitor({"Firewall", id, "chain"}).ok());
  ASSERT_TRUE(dashboard->addMonitor({"Interfaces", 1, "txrate"}).ok());
  EXPECT_EQ(feed(0).text(), "") << "not there yet is not gone";
  ASSERT_TRUE(runUntil(reactor, [&] { return !feed(0).text().empty(); }));
  EXPECT_NE(feed(0).text(), MonitorFeed::kGoneText);
  ASSERT_TRUE(rules->remove(id).ok());
  ASSERT_TRUE(runUntil(reactor, [&] { return feed(0).text() == MonitorFeed::kGoneText; }));

  // A rate whose reads stop (the connection is gone) ends in gaps.
  auto* map = dynamic_cast<ObjectMap*>(getObjectMap(Path{20, 1}));
  ASSERT_NE(map, nullptr);
  for (int s = 0; s < 2; ++s) {
    uint64_t rate = 0;
    second([&] {
      rate = interfaces->get(1).get(LiveValues::kTxRate);
      return map->find(1) && feed(1).text() == bits(rate);
    });
  }
  connection->close(CloseMode::Now);
  for (int s = 0; s < 5; ++s)
    second([] { return true; });
  const std::vector<std::optional<double>>& samples = feed(1).graph()->samples();
  ASSERT_EQ(samples.size(), 7u);
  EXPECT_TRUE(samples[1].has_value()) << "a sample while the values came";
  EXPECT_FALSE(samples[5].has_value());
  EXPECT_FALSE(samples[6].has_value());
}

} // namespace
} // namespace kestel::test
