// kestel-cli's router commands against the simulator program: each line of a table is one
// command run as a child process, in order (later lines see what earlier ones changed), with
// the exit code and the texts its output must (and must not) hold.
#include "support/Programs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestel {
namespace {

struct Line {
  std::string args;
  int exit;
  std::vector<std::string> has;
  std::vector<std::string> hasNot = {};
};

class CliCommands : public ::testing::Test {
protected:
  // Runs every line against a simulator started with `simArgs`.
  void runTable(std::vector<std::string> simArgs, const std::vector<Line>& table,
                const std::string& user = "admin") {
    simArgs.insert(simArgs.end(), {"--user", "admin:admin", "--user", "viewer:admin"});
    test::SimProcess sim(KESTEL_SIM_PATH, simArgs);
    ASSERT_GT(sim.port, 0) << KESTEL_SIM_PATH;
    std::string cli = "KESTEL_HOME=" + home.path() + " KESTEL_PASSWORD=admin " + KESTEL_CLI_PATH +
                      " 127.0.0.1:" + std::to_string(sim.port) + " " + user + " ";
    for (const Line& line : table) {
      SCOPED_TRACE(line.args);
      std::string out = test::runCommand(cli + line.args + " </dev/null");
      EXPECT_NE(out.find("exit " + std::to_string(line.exit)), std::string::npos) << out;
      for (const std::string& text : line.has)
        EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
      for (const std::string& text : line.hasNot)
        EXPECT_EQ(out.find(text), std::string::npos) << text << "\n" << out;
    }
  }
  test::TempFolder home;
};

TEST_F(CliCommands, ReadAndChangeMenus) {
  runTable(
      {},
      {
          {"menus", 0, {"IP\n  Addresses\n", "  Firewall\n", "Tools\n  Ping\n"}},
          {"ls Firewall", 0, {"id\tchain\taction", "\n3\tinput\taccept\t", "drop the rest\n"}},
          {"ls IP/Firewall --where protocol=tcp --csv",
           0,
           {"id,chain,action", "\n3,input,accept,"},
           {"\n1,", "\n2,"}},
          {"ls Firewall --where comment=\"log dns\" --json",
           0,
           {"[\n{\"id\":5,\"chain\":\"input\"", "\"comment\":\"log dns\"}\n]\n"}},
          {"get Firewall 5", 0, {"id: 5\n", "chain: input\n", "port: 53\n", "comment: log dns\n"}},
          {"get Identity", 0, {"identity: "}},
          // Values are typed as the editors take them, with their error texts.
          {"set Firewall 3 port=70000", 2, {"Error in Port - number in range [0;65535] expected!"}},
          {"set Firewall 3 colour=red", 2, {"has no field colour"}},
          {"set Firewall 3 port=8080 comment=\"from the table\"", 0, {}},
          {"get Firewall 3", 0, {"port: 8080\n", "comment: from the table\n"}},
          {"set Identity identity=lab-router", 0, {}},
          {"get Identity", 0, {"identity: lab-router\n"}},
          {"add Firewall chain=forward comment=added", 0, {"7\n"}},
          {"mv Firewall 7 1", 0, {}},
          {"ls Firewall --csv", 0, {",comment\n7,forward,"}},
          {"rm Firewall 7", 0, {}},
          {"get Firewall 7", 1, {"has no object 7"}},
          {"rm Firewall 99", 1, {"has no object 99"}},
          {"run Ping to=192.0.2.1 count=2",
           0,
           {"status=\"echo reply 1 of 2\"", "2 sent, 2 received, 0% packet loss"}},
          {"run Ping count=2", 1, {"Couldn't start - no address to ping"}},
          {"run \"Quick Setup\" mode=0 wanaddr=192.0.2.7 ssid=lab wpakey=longenoughkey",
           0,
           {"page 2: ", "Router mode set up"}},
          // The router suggests a network name for an empty one; the key has no default.
          {"run \"Quick Setup\" mode=0 wanaddr=192.0.2.7",
           1,
           {"page 3: ", "the WPA key must have 8 to 63 characters"}},
          {"run Reboot", 0, {}},
          // Usage errors.
          {"ls", 2, {"which menu?"}},
          {"ls Nowhere", 2, {"no menu Nowhere"}},
          {"ls Neighbors", 0, {"id\taddress\tmac", "\n1\t2001:db8:0:1::11\t00:00:5E:00:53:41\t"}},
          {"rm Firewall x", 2, {"rm takes a menu and an object id"}},
          {"mv Firewall 3", 2, {"mv takes"}},
          {"watch Firewall --count 0", 2, {"watch takes"}},
          {"set Firewall 3 port", 2, {"expected field=value"}},
          {"run Firewall", 2, {"cannot be run"}},
          {"ls Firewall --help", 0, {"usage: kestel-cli", "ls <menu> [--where field=value]"}},
      });
}

TEST_F(CliCommands, RefusalsAreReportedWithTheRoutersText) {
  runTable({"--fail-commits"},
           {
               {"set Firewall 3 comment=refused", 1, {"Couldn't change", "(", ")"}},
               {"add Firewall comment=refused", 1, {"Couldn't add"}},
               {"get Firewall 3", 0, {"comment: admin from the lab\n"}},
               {"set Identity identity=refused", 1, {"Couldn't change"}},
           });
  runTable({"--user-policy", "viewer:64"},
           {
               {"ls Firewall", 0, {"drop the rest"}},
               {"set Identity identity=refused", 1, {"Couldn't change"}},
           },
           "viewer");
}

TEST(CliCommandHelp, EveryCommandHasHelpWithoutARouter) {
  for (const char* command : {"menus", "ls", "get", "set", "add", "rm", "mv", "run", "watch"}) {
    SCOPED_TRACE(command);
    std::string out = test::runCommand(std::string(KESTEL_CLI_PATH) + " " + command + " --help");
    EXPECT_NE(out.find(std::string("usage: kestel-cli [login options] <address>[:port] <login> ") +
                       command),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("exit 0"), std::string::npos) << out;
  }
  std::string out = test::runCommand(std::string(KESTEL_CLI_PATH) + " ls");
  EXPECT_NE(out.find("exit 2"), std::string::npos) << out;
}

} // namespace
} // namespace kestel

namespace kestel {
namespace {

// Bool 38 of the login reply: the router asks the user to change the password.
TEST_F(CliCommands, PasswordChangeFlag) {
  runTable({}, {{"", 0, {"password change required: no"}}});
  runTable({"--change-password"}, {{"", 0, {"password change required: yes"}}});
}

} // namespace
} // namespace kestel
