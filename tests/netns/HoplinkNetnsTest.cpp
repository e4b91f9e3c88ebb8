// A log-in through a Hoplink agent: kestel-cli in the client namespace reaches the agent by TCP,
// and the agent reaches a second simulator, which has no IP address, by its MAC address.
#include "netns/NetnsSupport.h"

#include <cctype>

namespace kestel::test {
namespace {

class HoplinkNetns : public NetnsFixture {};

TEST_F(HoplinkNetns, LogsInToASecondRouterThroughTheAgent) {
  up(2);
  if (IsSkipped())
    return;
  ASSERT_NE(inNs(2, "ip addr flush dev eth0").find("exit 0"), std::string::npos);
  std::string mac = inNs(2, "cat /sys/class/net/eth0/address");
  mac = mac.substr(0, mac.find('\n'));
  // The target asks for a password change, the agent does not: the facts printed show who
  // answered the login.
  NsProcess target(ns(2), {KESTEL_SIM_PATH, "--port", "0", "--mac", "eth0", "--user",
                           "admin:secret", "--change-password"});
  NsProcess agent(ns(1), {KESTEL_SIM_PATH, "--port", "0", "--host", routerAddress(1), "--hoplink",
                          "eth0", "--user", "admin:secret"});
  ASSERT_FALSE(target.firstLine.empty());
  ASSERT_FALSE(agent.firstLine.empty());
  TempFolder home;
  auto cli = [&](const std::string& password, const std::string& to) {
    return inNs(0, "env KESTEL_HOME=" + home.path() + " KESTEL_PASSWORD=" + password + " " +
                       KESTEL_CLI_PATH + " --hoplink " + routerAddress(1) + ":" + agent.firstLine +
                       " " + to + " admin");
  };
  std::string out = cli("secret", mac);
  EXPECT_NE(out.find("password change required: yes"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 0"), std::string::npos) << out;

  out = cli("secret", "02:00:00:00:00:01"); // nobody has this address
  EXPECT_NE(out.find("could not start hoplink connection"), std::string::npos) << out;
}

TEST_F(HoplinkNetns, TheTargetsOwnPasswordCheckReachesTheClient) {
  up(2);
  if (IsSkipped())
    return;
  ASSERT_NE(inNs(2, "ip addr flush dev eth0").find("exit 0"), std::string::npos);
  std::string mac = inNs(2, "cat /sys/class/net/eth0/address");
  mac = mac.substr(0, mac.find('\n'));
  NsProcess target(ns(2),
                   {KESTEL_SIM_PATH, "--port", "0", "--mac", "eth0", "--user", "admin:other"});
  NsProcess agent(ns(1), {KESTEL_SIM_PATH, "--port", "0", "--host", routerAddress(1), "--hoplink",
                          "eth0", "--user", "admin:secret"});
  TempFolder home;
  std::string out =
      inNs(0, "env KESTEL_HOME=" + home.path() + " KESTEL_PASSWORD=secret " + KESTEL_CLI_PATH +
                  " --hoplink " + routerAddress(1) + ":" + agent.firstLine + " " + mac + " admin");
  EXPECT_NE(out.find("wrong username or password"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
}

TEST_F(HoplinkNetns, TheAgentListsTheRoutersOnItsLink) {
  up(2);
  if (IsSkipped())
    return;
  NsProcess target(ns(2), {KESTEL_SIM_PATH, "--port", "0", "--host", routerAddress(2), "--announce",
                           routerAddress(2), "--identity", "far"});
  NsProcess agent(ns(1), {KESTEL_SIM_PATH, "--port", "0", "--host", routerAddress(1), "--hoplink",
                          "eth0", "--user", "admin:secret"});
  ASSERT_FALSE(target.firstLine.empty());
  ASSERT_FALSE(agent.firstLine.empty());
  std::string mac = inNs(2, "cat /sys/class/net/eth0/address");
  for (char& c : mac)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  mac = mac.substr(0, mac.find('\n'));
  TempFolder home;
  std::string out = inNs(0, "env KESTEL_HOME=" + home.path() + " KESTEL_PASSWORD=secret " +
                                KESTEL_CLI_PATH + " --json --hoplink " + routerAddress(1) + ":" +
                                agent.firstLine + " neighbors admin");
  EXPECT_NE(out.find("\"Address\": \"" + mac + "\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"Identity\": \"far\""), std::string::npos) << out;
  EXPECT_NE(out.find("exit 0"), std::string::npos) << out;
}

} // namespace
} // namespace kestel::test
