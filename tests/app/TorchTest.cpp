// The traffic monitor: the filter checked field by field, the rate texts, and the monitor asking
// the simulator's torch source once a second over loopback, with filters applied by the router,
// flows ordered busiest first and changing over time, and the router's refusal ending the watch.
#include "app/Torch.h"
#include "LoopbackRouter.h"
#include "api/wire/Vocabulary.h"

#include <arpa/inet.h>

namespace kestel {
namespace {

TEST(TorchFilter, EachFieldIsCheckedAndNamedInTheError) {
  struct Case {
    size_t field;
    const char* text;
    const char* error; // empty: accepted
  };
  const Case cases[] = {
      {0, "tcp", ""},
      {0, "17", ""},
      {0, "any", ""},
      {0, "256", "Protocol"},
      {0, "tcpx", "Protocol"},
      {1, "198.18.0.1", ""},
      {1, "198.18.0.0/15", ""},
      {1, "2001:db8::/32", ""},
      {1, "198.18.0.0/33", "Src. Address"},
      {1, "198.18.0", "Src. Address"},
      {3, "::1/129", "Dst. Address"},
      {2, "65535", ""},
      {2, "65536", "Src. Port"},
      {4, "-1", "Dst. Port"},
      {4, "80 ", "Dst. Port"},
      {5, "4095", ""},
      {5, "4096", "VLAN Id"},
      {6, "ether1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TorchFilterText filter;
    filter[c.field] = c.text;
    auto query = torchQuery(filter);
    if (*c.error == '\0') {
      EXPECT_TRUE(query.ok()) << query.error().text;
    } else {
      ASSERT_FALSE(query.ok());
      EXPECT_EQ(query.error().text.rfind(c.error, 0), 0u) << query.error().text;
    }
  }
  // Every address inet_aton takes in its dotted-quad form is taken here as well.
  for (const char* address : {"0.0.0.0", "255.255.255.255", "198.51.100.7"}) {
    in_addr parsed;
    ASSERT_EQ(::inet_aton(address, &parsed), 1);
    TorchFilterText filter;
    filter[3] = address;
    EXPECT_TRUE(torchQuery(filter).ok()) << address;
  }
}

TEST(TorchFilter, RatesAreShownInDecimalUnits) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0 bps"},
      {999, "999 bps"},
      {1000, "1.0 kbps"},
      {12500, "12.5 kbps"},
      {999949, "999.9 kbps"},
      {999950, "1.0 Mbps"},
      {3400000000, "3.4 Gbps"},
      {UINT64_MAX, "18.4 Ebps"},
  };
  for (auto [bits, text] : cases)
    EXPECT_EQ(torchRate(bits), text) << bits;
}

class TorchMonitorTest : public test::LoopbackRouterTest {
protected:
  // Waits for `more` answers after those counted in `answers`.
  void watch(int& answers, int more) {
    int goal = answers + more;
    ASSERT_TRUE(drive([&] { return answers >= goal; }));
  }
};

TEST_F(TorchMonitorTest, AsksOnceASecondThroughTheFilter) {
  int answers = 0;
  TorchMonitor monitor(reactor, [&] { ++answers; });
  TorchFilterText filter;
  filter[0] = "tcp";
  ASSERT_TRUE(monitor.start(filter));
  watch(answers, 1);
  ASSERT_FALSE(monitor.flows().empty()) << monitor.error();
  for (size_t i = 0; i < monitor.flows().size(); ++i) {
    const TorchFlow& f = monitor.flows()[i];
    EXPECT_EQ(torchCell(f, 0), "tcp");
    if (i > 0) {
      EXPECT_GE(monitor.flows()[i - 1].txBits + monitor.flows()[i - 1].rxBits, f.txBits + f.rxBits);
    }
  }
  int64_t first = reactor.now();
  watch(answers, 1);
  EXPECT_GE(reactor.now() - first, int64_t(TorchMonitor::kPeriodMs));

  filter = {};
  filter[3] = "2001:db8::/32";
  filter[5] = "10";
  ASSERT_TRUE(monitor.start(filter));
  watch(answers, 1);
  for (const TorchFlow& f : monitor.flows()) {
    EXPECT_EQ(f.dstAddress.rfind("2001:db8:", 0), 0u) << f.dstAddress;
    EXPECT_EQ(torchCell(f, 5), "10");
  }

  filter = {};
  ASSERT_TRUE(monitor.start(filter));
  watch(answers, 1);
  size_t before = monitor.flows().size();
  std::vector<std::string> sources;
  for (const TorchFlow& f : monitor.flows())
    sources.push_back(f.srcAddress + torchCell(f, 6));
  reactor.advance(2000); // rates change from second to second
  watch(answers, 1);
  std::vector<std::string> later;
  for (const TorchFlow& f : monitor.flows())
    later.push_back(f.srcAddress + torchCell(f, 6));
  EXPECT_GT(before, 0u);
  EXPECT_NE(sources, later);

  filter[2] = "http";
  EXPECT_FALSE(monitor.start(filter));
  EXPECT_EQ(monitor.error(), "Src. Port: not a port 0-65535");
  EXPECT_TRUE(monitor.running()); // the last good filter goes on
}

TEST_F(TorchMonitorTest, ARouterWithoutTorchEndsTheWatchWithItsError) {
  // A router that refuses the query.
  login.addHandler(kTorchHandler, [](const sim::RouterRequest&) {
    nv::message error;
    error.set(SYS_STATUS, STATUS_ERROR);
    error.set(SYS_ERRNO, ERROR_BRKPATH);
    return std::optional<nv::message>(error);
  });
  int answers = 0;
  TorchMonitor monitor(reactor, [&] { ++answers; });
  ASSERT_TRUE(monitor.start({}));
  watch(answers, 1);
  EXPECT_FALSE(monitor.running());
  EXPECT_EQ(monitor.error(), "torch failed (" + std::to_string(ERROR_BRKPATH) + ")");
}

} // namespace
} // namespace kestel
