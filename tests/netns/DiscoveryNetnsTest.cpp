// Neighbour discovery end to end: simulators answering in router namespaces, kestel-cli
// scanning from the client namespace across a bridge.
#include "netns/NetnsSupport.h"

#include <nlohmann/json.hpp>

#include <map>

namespace kestel::test {
namespace {

using Json = nlohmann::json;

Json neighbours(const std::string& output) {
  size_t end = output.rfind("exit ");
  EXPECT_NE(output.find("exit 0"), std::string::npos) << output;
  return Json::parse(output.substr(0, end), nullptr, false);
}

class DiscoveryNetns : public NetnsFixture {};

TEST_F(DiscoveryNetns, TwoSimulatorsAppearWithTheirColumnsOverIpv4AndIpv6) {
  up(2);
  if (IsSkipped())
    return;
  NsProcess one(ns(1), {KESTEL_SIM_PATH, "--port", "0", "--host", routerAddress(1), "--announce",
                        routerAddress(1), "--identity", "alpha", "--board", "B-1"});
  NsProcess two(ns(2), {KESTEL_SIM_PATH, "--port", "0", "--host", routerAddress(2), "--announce",
                        routerAddress(2), "--identity", "beta"});
  ASSERT_FALSE(one.firstLine.empty());
  ASSERT_FALSE(two.firstLine.empty());

  Json list = neighbours(inNs(0, std::string(KESTEL_CLI_PATH) + " neighbors --json"));
  ASSERT_TRUE(list.is_array());
  std::map<std::string, Json> byKey; // identity + type
  for (const Json& n : list)
    byKey[n["Identity"].get<std::string>() + " " + n["Type"].get<std::string>()] = n;
  for (const char* key : {"alpha IPv4 only", "alpha IPv6 only", "beta IPv4 only", "beta IPv6 only"})
    ASSERT_EQ(byKey.count(key), 1u) << key << " missing from " << list.dump(1);
  ASSERT_EQ(byKey.size(), 4u) << list.dump(1);
  const Json& a = byKey["alpha IPv4 only"];
  EXPECT_EQ(a["IP Address"], routerAddress(1));
  EXPECT_EQ(a["Connect To"], routerAddress(1));
  EXPECT_EQ(a["Board"], "B-1");
  EXPECT_EQ(a["Version"], "7.15");
  EXPECT_EQ(a["Interface"], "0");
  EXPECT_EQ(byKey["beta IPv4 only"]["IP Address"], routerAddress(2));
  EXPECT_EQ(byKey["beta IPv4 only"]["Board"], "SIM-1");
  // Over IPv6 the same router answers from its link-local address with the bridge's index.
  const Json& a6 = byKey["alpha IPv6 only"];
  EXPECT_EQ(a6["MAC Address"], a["MAC Address"]);
  EXPECT_EQ(a6["IP Address"].get<std::string>().rfind("fe80::", 0), 0u);
  EXPECT_NE(a6["Interface"], "0");
  EXPECT_EQ(a6["Connect To"], "[" + a6["IP Address"].get<std::string>() + "%" +
                                  a6["Interface"].get<std::string>() + "]");
  EXPECT_NE(a["MAC Address"], byKey["beta IPv4 only"]["MAC Address"]);
}

TEST_F(DiscoveryNetns, AFloodOfNeighboursStopsAtTheListsCap) {
  up(1);
  if (IsSkipped())
    return;
  NsProcess many(ns(1), {KESTEL_SIM_PATH, "--port", "0", "--host", routerAddress(1), "--announce",
                         routerAddress(1), "--announce-count", "3000"});
  ASSERT_FALSE(many.firstLine.empty());
  Json list = neighbours(inNs(0, std::string(KESTEL_CLI_PATH) + " neighbors --json"));
  ASSERT_TRUE(list.is_array());
  // Datagrams of a burst this size may be dropped on the way; the list never passes its cap.
  EXPECT_LE(list.size(), 1024u);
  EXPECT_GE(list.size(), 100u);
  RecordProperty("neighbours", static_cast<int>(list.size()));
}

TEST_F(DiscoveryNetns, NothingAnswersASimulatorStartedWithoutAnnounce) {
  up(1);
  if (IsSkipped())
    return;
  NsProcess quiet(ns(1), {KESTEL_SIM_PATH, "--port", "0", "--host", routerAddress(1)});
  ASSERT_FALSE(quiet.firstLine.empty());
  Json list = neighbours(inNs(0, std::string(KESTEL_CLI_PATH) + " neighbors --json"));
  EXPECT_TRUE(list.is_array() && list.empty()) << list.dump();
}

} // namespace
} // namespace kestel::test
