// The router's tools and settings pages over loopback: the ping action reports each echo and
// finishes, the traffic query streams flows into its own menu until stopped, the quick-setup
// wizard walks its pages and refuses bad ones without ending, the settings pages read and write
// with the commands their descriptors name, and the reboot command answers.
#include "MenuTestSupport.h"
#include "sim/SampleAddresses.h"

namespace kestel::test {
namespace {

using sim::PingAction;
using sim::SetupWizard;
using sim::TrafficQuery;
const Path kPing{23, 1}, kTraffic{23, 2}, kSetup{23, 3}, kReboot{23, 4};

nv::message withId(uint32_t id) {
  nv::message m;
  m.set(STD_ID, id);
  return m;
}

class MenuToolsTest : public MenuRouterTest {
protected:
  void SetUp() override { startRouter(); }
};

TEST_F(MenuToolsTest, PingReportsEachEchoAndFinishes) {
  auto c = client();
  struct Case {
    uint32_t to, count;
    const char* last;
    bool replies;
  } cases[] = {
      {sim::sample::ipv4(192, 0, 2, 1), 3, "3 sent, 3 received, 0% packet loss", true},
      {sim::sample::ipv4(203, 0, 113, 9), 2, "2 sent, 0 received, 100% packet loss", false}};
  for (const Case& k : cases) {
    nv::message start;
    start.set(PingAction::kTo, k.to);
    start.set(PingAction::kCount, k.count);
    nv::message started = c->call(kPing, CMD_START, start);
    ASSERT_FALSE(isError(started));
    uint32_t id = started.get(STD_ID);
    for (uint32_t n = 1; n <= k.count; ++n) {
      if (n > 1)
        reactor.advance(PingAction::kEchoMs); // one echo a second on the router's clock
      nv::message status = c->call(kPing, CMD_POLL, withId(id));
      ASSERT_FALSE(isError(status));
      EXPECT_EQ(k.to, status.get(PingAction::kHost));
      EXPECT_EQ(k.replies, status.has(PingAction::kRtt));
      EXPECT_EQ(n == k.count, status.get(sim::kFinished));
      if (n == k.count) {
        EXPECT_EQ(k.last, status.get(PingAction::kStatus));
      }
    }
    EXPECT_EQ(ERROR_UNKNOWNID, errorOf(c->call(kPing, CMD_POLL, withId(id))));
  }
  // Polls between two echoes report the same echo again; a count of 0 pings until cancelled.
  nv::message endless;
  endless.set(PingAction::kTo, sim::sample::ipv4(192, 0, 2, 9));
  endless.set(PingAction::kCount, 0u);
  uint32_t forever = c->call(kPing, CMD_START, endless).get(STD_ID);
  EXPECT_EQ("echo reply 1", c->call(kPing, CMD_POLL, withId(forever)).get(PingAction::kStatus));
  reactor.advance(PingAction::kEchoMs / 2);
  EXPECT_EQ("echo reply 1", c->call(kPing, CMD_POLL, withId(forever)).get(PingAction::kStatus));
  reactor.advance(PingAction::kEchoMs * 5);
  nv::message later = c->call(kPing, CMD_POLL, withId(forever));
  EXPECT_EQ("echo reply 6", later.get(PingAction::kStatus));
  EXPECT_FALSE(later.get(sim::kFinished));
  EXPECT_FALSE(isError(c->call(kPing, CMD_CANCEL, withId(forever))));
  EXPECT_EQ(ERROR_UNKNOWNID, errorOf(c->call(kPing, CMD_CANCEL, withId(forever))));
  // Cancelled runs are gone; bad parameters are refused.
  nv::message start;
  start.set(PingAction::kTo, sim::sample::ipv4(198, 18, 0, 1));
  uint32_t id = c->call(kPing, CMD_START, start).get(STD_ID);
  EXPECT_FALSE(isError(c->call(kPing, CMD_CANCEL, withId(id))));
  EXPECT_EQ(ERROR_UNKNOWNID, errorOf(c->call(kPing, CMD_POLL, withId(id))));
  EXPECT_EQ(ERROR_MISSING, errorOf(c->call(kPing, CMD_START)));
  start.set(PingAction::kSize, 65501u);
  EXPECT_EQ(ERROR_FAILED, errorOf(c->call(kPing, CMD_START, start)));
  start.set(PingAction::kSize, 56u);
  start.set(PingAction::kCount, PingAction::kMaxCount + 1);
  EXPECT_EQ(ERROR_FAILED, errorOf(c->call(kPing, CMD_START, start)));
  EXPECT_EQ(0u, catalogue->ping().runCount());
}

TEST_F(MenuToolsTest, TrafficQueryStreamsFlowsUntilStopped) {
  auto c = client();
  nv::message request;
  request.set(TrafficQuery::kFilter, sim::sample::ipv4(198, 18, 7, 0));
  request.set(TrafficQuery::kFilterMask, sim::sample::netmask(24)); // held like the address
  nv::message started = c->call(kTraffic, CMD_START, request);
  ASSERT_FALSE(isError(started));
  uint32_t id = started.get(STD_ID);
  nv::message fetch = withId(id);
  nv::message first = c->call(kTraffic, CMD_GETALL, fetch);
  EXPECT_EQ(3u, first.count(STD_OBJS));
  first.forEach(STD_OBJS, [](const nv::message& flow) {
    EXPECT_EQ(sim::sample::ipv4(198, 18, 7, 0), flow.get(TrafficQuery::kSource) & 0x00FFFFFF);
  });

  // Subscribed, the next second's flows arrive by themselves.
  nv::message subscribe = withId(id);
  subscribe.set(SYS_ORIGINATOR, 1000u);
  ASSERT_FALSE(isError(c->call(kTraffic, CMD_SUBSCRIBE, subscribe)));
  reactor.advance(TrafficQuery::kTickMs);
  c->sync();
  ASSERT_FALSE(c->notifications.empty());
  EXPECT_EQ(4u, c->notifications.back().get(sim::kObjectCount));
  EXPECT_EQ(4u, c->call(kTraffic, CMD_GETALL, fetch).count(STD_OBJS));

  // Stopped (one-way, as the query sends it): the run and its flows are gone.
  c->send(kTraffic, CMD_CANCEL, withId(id));
  c->sync();
  EXPECT_EQ(0u, catalogue->traffic().runCount());
  EXPECT_EQ(ERROR_UNKNOWNID, errorOf(c->call(kTraffic, CMD_GETALL, fetch)));
  reactor.advance(TrafficQuery::kTickMs);
  request.set(TrafficQuery::kFilterMask, sim::sample::ipv4(255, 0, 255, 0));
  EXPECT_EQ(ERROR_FAILED, errorOf(c->call(kTraffic, CMD_START, request)));
  // The results map asks for its policy table before it names a run.
  EXPECT_EQ(2u, c->call(kTraffic, CMD_GETPOLICIES).count(STD_OBJS));
}

TEST_F(MenuToolsTest, WizardWalksItsPages) {
  auto c = client();
  auto page = [&](uint32_t number, nv::message form) {
    nv::message m;
    m.set(STD_PAGENO, number);
    m.set(STD_PAGE, form);
    return c->call(kSetup, CMD_SETFORM, m);
  };
  nv::message form;
  form.set(SetupWizard::kMode, uint32_t(SetupWizard::RouterMode));
  nv::message second = page(1, form);
  ASSERT_FALSE(isError(second));
  EXPECT_EQ(2u, second.get(STD_PAGENO));
  EXPECT_EQ("Internet address", second.get(STD_DESCR));
  form = second.get(STD_PAGE);
  EXPECT_EQ(sim::sample::ipv4(192, 0, 2, 2), form.get(SetupWizard::kWanAddress));
  // A page carries the members it asks for and nothing else.
  EXPECT_EQ(std::vector<uint32_t>{SetupWizard::kWanAddress.id()}, form.keys());

  nv::message missing = form;
  missing.set(SetupWizard::kWanAddress, 0u);
  EXPECT_EQ(SetupWizard::kStayOnPage, errorOf(page(2, missing)));
  nv::message third = page(2, form);
  EXPECT_EQ(3u, third.get(STD_PAGENO));
  form = third.get(STD_PAGE);
  EXPECT_FALSE(form.has(SetupWizard::kMode));
  EXPECT_EQ("nimbalux", form.get(SetupWizard::kSsid));
  form.set(SetupWizard::kMode, uint32_t(SetupWizard::RouterMode));
  form.set(SetupWizard::kWpaKey, "short");
  unsigned code = 0;
  std::string text;
  ASSERT_TRUE(isError(page(3, form), &code, &text));
  EXPECT_EQ(SetupWizard::kStayOnPage, code);
  EXPECT_EQ("the WPA key must have 8 to 63 characters", text);
  form.set(SetupWizard::kWpaKey, "correct horse");
  nv::message done = page(3, form);
  EXPECT_TRUE(done.get(sim::kFinished));
  EXPECT_EQ("Router mode set up; wireless network \"nimbalux\"", done.get(STD_DESCR));
  EXPECT_EQ("correct horse", catalogue->setup().applied().get(SetupWizard::kWpaKey));

  // The bridge mode has no internet page; an unknown page ends the wizard with an error.
  nv::message bridge;
  bridge.set(SetupWizard::kMode, uint32_t(SetupWizard::BridgeMode));
  EXPECT_EQ(3u, page(1, bridge).get(STD_PAGENO));
  EXPECT_EQ(ERROR_FAILED, errorOf(page(9, bridge)));
  // The reset flag ends the wizard on any page, with nothing to sum up.
  bridge.set(SetupWizard::kReset, true);
  nv::message reset = page(1, bridge);
  EXPECT_TRUE(reset.get(sim::kFinished));
  EXPECT_FALSE(reset.has(STD_DESCR));
}

TEST_F(MenuToolsTest, SettingsPagesAndReboot) {
  auto c = client();
  auto viewer = client("viewer");
  // The DNS page's descriptor names 0xFE0003 for reading and 0xFE0002 for writing.
  nv::message dns = c->call({22, 1}, 0xFE0003);
  EXPECT_EQ("example.net", dns.get(nv::string_id(0x8)));
  nv::message domain;
  domain.set(nv::string_id(0x8), "example.org");
  EXPECT_FALSE(isError(c->call({22, 1}, 0xFE0002, domain)));
  EXPECT_EQ("example.org", c->call({22, 1}, 0xFE0003).get(nv::string_id(0x8)));
  EXPECT_EQ(ERROR_NOTALLOWED, errorOf(viewer->call({22, 1}, 0xFE0002, domain)));

  nv::message name;
  name.set(nv::string_id(0x1), std::string(65, 'r'));
  EXPECT_EQ(ERROR_FAILED, errorOf(c->call({22, 2}, CMD_SET, name)));
  EXPECT_EQ("Router", c->call({22, 2}, CMD_GET).get(nv::string_id(0x1)));
  EXPECT_EQ(ERROR_NOTALLOWED, errorOf(client("nobody")->call({22, 2}, CMD_GET)));
  EXPECT_EQ(ERROR_NOTIMP, errorOf(c->call({22, 4}, CMD_SET, name)));
  nv::message zones = c->call({22, 3}, 0xFE0020);
  EXPECT_EQ(5u, zones.count(nv::u32_array_id(0x1)));
  EXPECT_EQ(5u, zones.count(nv::u32_array_id(0x2)));

  // The resources page counts its uptime on the router's clock, also as a one-object fetch.
  reactor.advance(5000);
  EXPECT_EQ(5u, c->call({22, 4}, CMD_GET).get(nv::u32_id(0x1)));
  nv::message status = c->call({22, 4}, CMD_GETALL);
  EXPECT_EQ(1u, status.count(STD_OBJS));
  EXPECT_EQ(0xFFFFFFFFu, status.get(STD_GETALLID));

  EXPECT_EQ(ERROR_NOTALLOWED, errorOf(viewer->call(kReboot, sim::MenuCatalogue::kRebootCommand)));
  EXPECT_FALSE(isError(c->call(kReboot, sim::MenuCatalogue::kRebootCommand)));
  EXPECT_EQ(1u, catalogue->reboots());
  EXPECT_EQ(0u, c->call({22, 4}, CMD_GET).get(nv::u32_id(0x1)));
}

} // namespace
} // namespace kestel::test
