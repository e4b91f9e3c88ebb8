// kestel-cli put and get against the simulator program: a folder tree goes up and comes back
// the same (diff), the store's faults end with the router's text and exit code 1, and "get"
// still prints a menu's object when its first argument names a menu.
#include "support/Programs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kestel {
namespace {

class CliTransfer : public ::testing::Test {
protected:
  std::string run(const test::SimProcess& sim, const std::string& args) {
    return test::runCommand("cd '" + work.path() + "' && KESTEL_HOME=" + home.path() +
                            " KESTEL_PASSWORD=admin " + KESTEL_CLI_PATH + " 127.0.0.1:" +
                            std::to_string(sim.port) + " admin " + args + " </dev/null");
  }
  void makeTree() {
    std::filesystem::create_directories(work.file("tree/sub"));
    std::ofstream(work.file("tree/sub/small.txt")) << "hello\n";
    std::ofstream big(work.file("tree/big.bin"), std::ios::binary);
    for (int i = 0; i < 20000; ++i)
      big << i << ',';
  }
  test::TempFolder home, work;
};

TEST_F(CliTransfer, TreeGoesUpAndComesBack) {
  test::SimProcess sim(KESTEL_SIM_PATH, {"--user", "admin:admin"});
  ASSERT_GT(sim.port, 0);
  makeTree();
  std::string out = run(sim, "put tree flash/backup");
  EXPECT_NE(out.find("Uploading Files: 2 files"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 0"), std::string::npos) << out;
  std::filesystem::create_directory(work.file("back"));
  out = run(sim, "get flash/backup/tree back");
  EXPECT_NE(out.find("exit 0"), std::string::npos) << out;
  EXPECT_EQ(
      test::runCommand("diff -r '" + work.file("tree") + "' '" + work.file("back/tree") + "'"),
      "exit 0");
  out = run(sim, "get Firewall 5");
  EXPECT_NE(out.find("chain: input"), std::string::npos) << out;
}

TEST_F(CliTransfer, FaultsEndWithTheRoutersText) {
  makeTree();
  struct Case {
    std::vector<std::string> simArgs;
    std::string args, text;
  } cases[] = {
      {{"--disk-full"}, "put tree", "Could not upload file - not enough disk space (6)"},
      {{"--file-error-after", "1"}, "get flash/readme.txt", "Could not download file - read error"},
      {{"--file-too-much"}, "get flash/readme.txt", "the router sent more than asked for"},
      {{"--file-lie-size"}, "get flash/readme.txt", "fewer bytes than the file's size"},
      {{}, "get no/such", "Could not download file - no such file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::vector<std::string> simArgs = c.simArgs;
    simArgs.insert(simArgs.end(), {"--user", "admin:admin"});
    test::SimProcess sim(KESTEL_SIM_PATH, simArgs);
    ASSERT_GT(sim.port, 0);
    std::string out = run(sim, c.args);
    EXPECT_NE(out.find(c.text), std::string::npos) << out;
    EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(work.file("readme.txt")));
    EXPECT_FALSE(std::filesystem::exists(work.file("readme.txt.part")));
  }
}

} // namespace
} // namespace kestel
