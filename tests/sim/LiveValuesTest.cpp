// The router's own changes over time: counters grow by what the previous rates carried, rates
// and load stay in bounds, the walk repeats for a seed, subscribers of the interface table
// receive each step, the resources page reads the current load, and the switches.
#include "MenuTestSupport.h"

#include "sim/LiveValues.h"

namespace kestel::test {
namespace {

using sim::LiveValues;

const Path kInterfaces{20, 1};
const Path kResources{22, 4};

std::vector<nv::message> objectsOf(const sim::MenuStore& store) {
  std::vector<nv::message> out;
  for (size_t i = 0; i < store.size(); ++i)
    out.push_back(store.get(store.idAt(i)));
  return out;
}

class LiveValuesTest : public MenuRouterTest {
protected:
  sim::CatalogueOptions every(uint32_t ms, uint32_t seed = 1) {
    sim::CatalogueOptions options;
    options.live = {ms, seed};
    return options;
  }
};

TEST_F(LiveValuesTest, CountersGrowByTheRatesOfTheStepBefore) {
  startRouter(every(500));
  sim::MenuStore& interfaces = *catalogue->store("interfaces");
  for (int step = 0; step < 30; ++step) {
    std::vector<nv::message> before = objectsOf(interfaces);
    reactor.advance(500);
    std::vector<nv::message> after = objectsOf(interfaces);
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
      const nv::message &was = before[i], &is = after[i];
      if (!was.get(LiveValues::kRunning)) {
        EXPECT_EQ(was, is) << "a link that is down stays as it is";
        continue;
      }
      uint64_t sent = was.get(LiveValues::kTxRate) / 8 / 2; // half a second
      EXPECT_EQ(is.get(LiveValues::kTxBytes), was.get(LiveValues::kTxBytes) + sent);
      EXPECT_EQ(is.get(LiveValues::kTxPackets),
                was.get(LiveValues::kTxPackets) + sent / LiveValues::kPacketBytes);
      for (auto rate : {LiveValues::kTxRate, LiveValues::kRxRate}) {
        EXPECT_GE(is.get(rate), LiveValues::kLeastRate);
        EXPECT_LE(is.get(rate), LiveValues::kMostRate);
        EXPECT_LE(is.get(rate), std::max(was.get(rate), LiveValues::kLeastRate) * 11 / 10);
      }
    }
    EXPECT_GE(catalogue->live().cpuLoad(), 1u);
    EXPECT_LE(catalogue->live().cpuLoad(), 99u);
  }
}

TEST_F(LiveValuesTest, TheSameSeedWalksTheSameWay) {
  auto walk = [&](uint32_t seed) {
    startRouter(every(1000, seed));
    std::vector<uint32_t> loads;
    for (int step = 0; step < 10; ++step) {
      reactor.advance(1000);
      loads.push_back(catalogue->live().cpuLoad());
    }
    return std::pair(objectsOf(*catalogue->store("interfaces")), loads);
  };
  auto first = walk(7);
  EXPECT_EQ(first, walk(7));
  EXPECT_NE(first, walk(8));
}

TEST_F(LiveValuesTest, SubscribersAndReadersSeeTheValuesMove) {
  startRouter(every(1000));
  auto c = client();
  nv::message subscribe;
  subscribe.set(STD_FILTER, 5u);
  subscribe.set(SYS_ORIGINATOR, 1000u);
  ASSERT_FALSE(isError(c->call(kInterfaces, CMD_SUBSCRIBE, subscribe)));
  c->sync();
  size_t before = c->notifications.size();
  reactor.advance(1000);
  c->sync();
  ASSERT_GT(c->notifications.size(), before);
  sim::MenuStore& interfaces = *catalogue->store("interfaces");
  for (const auto& [id, object] : c->mirror)
    EXPECT_EQ(object.get(LiveValues::kTxBytes), interfaces.get(id).get(LiveValues::kTxBytes));
  EXPECT_EQ(c->mirror.size(), interfaces.size() - 1) << "all but the link that is down";

  nv::message resources = c->call(kResources, CMD_GET);
  EXPECT_EQ(resources.get(nv::u32_id(0x4)), catalogue->live().cpuLoad());
  EXPECT_EQ(resources.get(nv::u32_id(0x1)), 1u) << "up for a second";
}

TEST_F(LiveValuesTest, NoIntervalKeepsEveryValue) {
  startRouter(every(0));
  std::vector<nv::message> before = objectsOf(*catalogue->store("interfaces"));
  uint32_t load = catalogue->live().cpuLoad();
  reactor.advance(60000);
  EXPECT_EQ(before, objectsOf(*catalogue->store("interfaces")));
  EXPECT_EQ(load, catalogue->live().cpuLoad());
}

TEST(LiveOptionsTest, Switches) {
  struct Case {
    std::vector<std::string> args;
    int used;
    uint32_t intervalMs, seed;
  } cases[] = {
      {{"--live-values", "250"}, 2, 250, 1}, {{"--live-values", "0"}, 2, 0, 1},
      {{"--live-seed", "42"}, 2, 1000, 42},  {{"--live-values", "-5"}, -1, 1000, 1},
      {{"--live-values", "x"}, -1, 1000, 1}, {{"--live-values", "3600001"}, -1, 1000, 1},
      {{"--live-seed"}, -1, 1000, 1},        {{"--churn", "5"}, 0, 1000, 1},
  };
  for (Case& c : cases) {
    std::vector<char*> argv;
    for (std::string& a : c.args)
      argv.push_back(a.data());
    sim::LiveOptions options;
    EXPECT_EQ(sim::applyLiveOption(options, int(argv.size()), argv.data(), 0), c.used) << c.args[0];
    EXPECT_EQ(options.intervalMs, c.intervalMs) << c.args[0];
    EXPECT_EQ(options.seed, c.seed) << c.args[0];
  }
}

} // namespace
} // namespace kestel::test
