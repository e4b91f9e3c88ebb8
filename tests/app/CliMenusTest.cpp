// kestel-cli --menus against the simulator program: both run as child processes, the client
// logs in, brings the descriptor set into a fresh cache and prints the launcher tree; a second
// run finds the cache warm and prints the same tree.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace kestel {
namespace {

class SimChild {
public:
  SimChild() {
    int out[2];
    if (::pipe(out) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execl(KESTEL_SIM_PATH, "nimbalux-sim", "--port", "0", "--user", "admin:admin", nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
      line += c;
    ::close(out[0]);
    port = line.empty() ? 0 : std::atoi(line.c_str());
  }
  ~SimChild() {
    if (pid_ <= 0)
      return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  int port = 0;

private:
  pid_t pid_ = -1;
};

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
      out.append(buf, n);
    out += "exit " + std::to_string(WEXITSTATUS(::pclose(p)));
  }
  return out;
}

TEST(CliMenus, PrintsTheRouterMenusFromAFreshAndAWarmCache) {
  SimChild sim;
  ASSERT_GT(sim.port, 0) << KESTEL_SIM_PATH;
  char dir[] = "/tmp/kestel-menus-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  std::string cli = std::string("KESTEL_HOME=") + dir + " KESTEL_PASSWORD=admin " +
                    KESTEL_CLI_PATH + " --menus 127.0.0.1:" + std::to_string(sim.port) + " admin";
  for (const char* round : {"cold", "warm"}) {
    SCOPED_TRACE(round);
    std::string out = run(cli);
    for (const char* menu : {"IP\n", "  Addresses\n", "  Routes\n", "System\n", "Terminal\n"})
      EXPECT_NE(out.find(menu), std::string::npos) << menu << "\n" << out;
    EXPECT_NE(out.find("exit 0"), std::string::npos) << out;
  }
  std::string listed = run(std::string("KESTEL_HOME=") + dir + " " + KESTEL_CLI_PATH + " cache ls");
  EXPECT_NE(listed.find("7.15-"), std::string::npos) << listed;
  std::filesystem::remove_all(dir);
}

TEST(CliMenus, WrongPasswordPrintsNoMenus) {
  SimChild sim;
  ASSERT_GT(sim.port, 0) << KESTEL_SIM_PATH;
  std::string out =
      run(std::string("KESTEL_HOME=/nonexistent-kestel KESTEL_PASSWORD=wrong ") + KESTEL_CLI_PATH +
          " --menus 127.0.0.1:" + std::to_string(sim.port) + " admin");
  EXPECT_NE(out.find("wrong username or password"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
}

} // namespace
} // namespace kestel
