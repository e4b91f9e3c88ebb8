// The MAC-layer transport end to end: kestel-cli in the client namespace logs in to a simulator
// whose namespace has no IP address at all, reached only by its MAC address, with and without
// a lossy, reordering and duplicating link.
#include "netns/NetnsSupport.h"

namespace kestel::test {
namespace {

class MacTransportNetns : public NetnsFixture {
protected:
  // Router 1 without any address: its interface's MAC address is the only way to it.
  std::string routerWithoutAddress() {
    std::string flushed = inNs(1, "ip addr flush dev eth0");
    EXPECT_NE(flushed.find("exit 0"), std::string::npos) << flushed;
    std::string mac = inNs(1, "cat /sys/class/net/eth0/address");
    return mac.substr(0, mac.find('\n'));
  }
  std::string cli(const std::string& home, const std::string& args) {
    return inNs(0, "env KESTEL_HOME=" + home + " KESTEL_PASSWORD=secret " + KESTEL_CLI_PATH + " " +
                       args);
  }
  // The command's output without its progress lines, which depend on timing.
  static std::string withoutProgress(const std::string& out) {
    std::string kept;
    size_t pos = 0;
    while (pos < out.size()) {
      size_t end = out.find('\n', pos);
      end = end == std::string::npos ? out.size() : end + 1;
      std::string line = out.substr(pos, end - pos);
      if (line.rfind("Downloading descriptors", 0) != 0)
        kept += line;
      pos = end;
    }
    return kept;
  }
  TempFolder home;
};

TEST_F(MacTransportNetns, LogsInToARouterWithoutAnIpAddress) {
  up(1);
  if (IsSkipped())
    return;
  std::string mac = routerWithoutAddress();
  NsProcess router(ns(1),
                   {KESTEL_SIM_PATH, "--port", "0", "--mac", "eth0", "--user", "admin:secret"});
  ASSERT_FALSE(router.firstLine.empty());
  std::string out = cli(home.path(), mac + " admin");
  EXPECT_NE(out.find("logged in (secure login)"), std::string::npos) << out;
  EXPECT_NE(out.find("router version: 7.15"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 0"), std::string::npos) << out;
}

// Descriptor download moves a few hundred kilobytes: under every fault mix the menus must come
// out exactly as over a clean link.
TEST_F(MacTransportNetns, FaultyLinksDeliverEveryByteOnceAndInOrder) {
  up(1);
  if (IsSkipped())
    return;
  std::string mac = routerWithoutAddress();
  std::string clean;
  {
    NsProcess router(ns(1),
                     {KESTEL_SIM_PATH, "--port", "0", "--mac", "eth0", "--user", "admin:secret"});
    TempFolder cache;
    clean = withoutProgress(cli(cache.path(), "--menus " + mac + " admin"));
    ASSERT_NE(clean.find("exit 0"), std::string::npos) << clean;
  }
  struct Faults {
    const char* loss;
    const char* reorder;
    const char* duplicate;
    const char* seed;
  } sweeps[] = {{"20", "0", "0", "1"},
                {"0", "20", "0", "2"},
                {"0", "0", "20", "3"},
                {"20", "20", "20", "4"},
                {"20", "20", "20", "5"}};
  for (const Faults& f : sweeps) {
    SCOPED_TRACE(std::string("loss ") + f.loss + " reorder " + f.reorder + " duplicate " +
                 f.duplicate + " seed " + f.seed);
    NsProcess router(ns(1), {KESTEL_SIM_PATH, "--port", "0", "--mac", "eth0", "--user",
                             "admin:secret", "--mac-loss", f.loss, "--mac-reorder", f.reorder,
                             "--mac-duplicate", f.duplicate, "--mac-seed", f.seed});
    ASSERT_FALSE(router.firstLine.empty());
    TempFolder cache;
    EXPECT_EQ(withoutProgress(cli(cache.path(), "--menus " + mac + " admin")), clean);
  }
}

TEST_F(MacTransportNetns, ARouterThatNeverAnswersIsGivenUp) {
  up(1);
  if (IsSkipped())
    return;
  std::string mac = routerWithoutAddress();
  NsProcess router(ns(1), {KESTEL_SIM_PATH, "--port", "0", "--user", "admin:secret"});
  std::string out = cli(home.path(), mac + " admin");
  EXPECT_NE(out.find("Reason:Could not connect"), std::string::npos) << out;
  EXPECT_EQ(out.find("exit 0"), std::string::npos) << out;
}

} // namespace
} // namespace kestel::test
