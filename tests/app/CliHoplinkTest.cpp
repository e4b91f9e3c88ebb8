// kestel-cli --hoplink against a simulator agent on loopback: the agent steps (login with the
// agent mark, attach with each kind of agent, connect through the agent) up to the point where
// the agent would go out on a link. The agent is told to use the loopback interface, which the
// MAC-layer transport never uses, so no target is ever reached and nothing leaves the machine.
#include "support/Programs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace kestel {
namespace {

TEST(CliHoplink, AgentStepsAndTheirTexts) {
  struct Case {
    const char* name;
    std::vector<std::string> agentArgs;
    const char* password;
    const char* target;
    const char* expected;
  } cases[] = {
      {"attached, target unreachable",
       {},
       "pw",
       "02:00:00:00:00:0B",
       "could not start hoplink connection"},
      {"older agent",
       {"--hoplink-old"},
       "pw",
       "02:00:00:00:00:0B",
       "could not start hoplink connection"},
      {"overlay off",
       {"--hoplink-disabled"},
       "pw",
       "02:00:00:00:00:0B",
       "Hoplink is not enabled on the router"},
      {"wrong agent password", {}, "nope", "02:00:00:00:00:0B", "wrong username or password"},
      {"target not a MAC address", {}, "pw", "198.18.0.12", "bad HOPLINK address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{"--user", "admin:pw", "--hoplink", "lo"};
    args.insert(args.end(), c.agentArgs.begin(), c.agentArgs.end());
    test::SimProcess agent(KESTEL_SIM_PATH, args);
    ASSERT_GT(agent.port, 0);
    test::TempFolder home;
    std::string out = test::runCommand(
        "KESTEL_HOME=" + home.path() + " KESTEL_PASSWORD=" + c.password + " " + KESTEL_CLI_PATH +
        " --hoplink 127.0.0.1:" + std::to_string(agent.port) + " " + c.target + " admin");
    EXPECT_NE(out.find(c.expected), std::string::npos) << out;
    EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
  }
}

TEST(CliHoplink, AnAgentThatIsNotOneRefusesTheAttach) {
  test::SimProcess plain(KESTEL_SIM_PATH, {"--user", "admin:pw"});
  ASSERT_GT(plain.port, 0);
  test::TempFolder home;
  std::string out = test::runCommand(
      "KESTEL_HOME=" + home.path() + " KESTEL_PASSWORD=pw " + KESTEL_CLI_PATH +
      " --hoplink 127.0.0.1:" + std::to_string(plain.port) + " 02:00:00:00:00:0B admin");
  EXPECT_NE(out.find("router does not support Hoplink"), std::string::npos) << out;
}

} // namespace
} // namespace kestel
