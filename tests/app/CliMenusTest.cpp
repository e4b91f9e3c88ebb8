// kestel-cli --menus against the simulator program: both run as child processes, the client
// logs in, brings the descriptor set into a fresh cache and prints the launcher tree; a second
// run finds the cache warm and prints the same tree.
#include "support/Programs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace kestel {
namespace {

TEST(CliMenus, PrintsTheRouterMenusFromAFreshAndAWarmCache) {
  test::SimProcess sim(KESTEL_SIM_PATH, {"--user", "admin:admin"});
  ASSERT_GT(sim.port, 0) << KESTEL_SIM_PATH;
  test::TempFolder home;
  std::string cli = "KESTEL_HOME=" + home.path() + " KESTEL_PASSWORD=admin " + KESTEL_CLI_PATH +
                    " --menus 127.0.0.1:" + std::to_string(sim.port) + " admin";
  for (const char* round : {"cold", "warm"}) {
    SCOPED_TRACE(round);
    std::string out = test::runCommand(cli);
    for (const char* menu : {"IP\n", "  Addresses\n", "  Routes\n", "System\n", "Terminal\n"})
      EXPECT_NE(out.find(menu), std::string::npos) << menu << "\n" << out;
    EXPECT_NE(out.find("exit 0"), std::string::npos) << out;
  }
  std::string listed =
      test::runCommand("KESTEL_HOME=" + home.path() + " " + KESTEL_CLI_PATH + " cache ls");
  EXPECT_NE(listed.find("7.15-"), std::string::npos) << listed;
}

TEST(CliMenus, WrongPasswordPrintsNoMenus) {
  test::SimProcess sim(KESTEL_SIM_PATH, {"--user", "admin:admin"});
  ASSERT_GT(sim.port, 0) << KESTEL_SIM_PATH;
  std::string out = test::runCommand(
      std::string("KESTEL_HOME=/nonexistent-kestel KESTEL_PASSWORD=wrong ") + KESTEL_CLI_PATH +
      " --menus 127.0.0.1:" + std::to_string(sim.port) + " admin");
  EXPECT_NE(out.find("wrong username or password"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
}

} // namespace
} // namespace kestel
