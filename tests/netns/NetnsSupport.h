// Private network namespaces for tests that broadcast: a fixture builds a client namespace and
// n router namespaces joined by veth pairs (scripts/netns.sh), skips the test with the script's
// reason when namespaces cannot be made here, and tears everything down afterwards. Programs
// run inside through the script's "exec", which refuses any namespace holding a real interface.
#pragma once

#include "support/Programs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kestel::test {

inline const std::string kNetnsScript = std::string(KESTEL_SOURCE_DIR) + "/scripts/netns.sh";

// A program running inside a namespace; `firstLine` is the first line it printed (the
// simulator's port). Stopped with SIGTERM when the object goes.
class NsProcess {
public:
  NsProcess(const std::string& ns, std::vector<std::string> argv) {
    int out[2];
    if (::pipe(out) != 0)
      return;
    argv.insert(argv.begin(), {"netns.sh", "exec", ns});
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> args;
      for (std::string& a : argv)
        args.push_back(a.data());
      args.push_back(nullptr);
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(kNetnsScript.c_str(), args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
      firstLine += c;
    ::close(out[0]);
  }
  ~NsProcess() {
    if (pid_ <= 0)
      return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  NsProcess(const NsProcess&) = delete;
  NsProcess& operator=(const NsProcess&) = delete;

  std::string firstLine;

private:
  pid_t pid_ = -1;
};

class NetnsFixture : public ::testing::Test {
protected:
  // Builds the client namespace and `routers` router namespaces; call first in the test and
  // return when it skipped (GTEST_SKIP inside).
  void up(int routers) {
    std::string check = runCommand(kNetnsScript + " check");
    if (check.find("exit 0") == std::string::npos)
      GTEST_SKIP() << "network namespaces unavailable: " << check;
    tag_ = "kt" + std::to_string(::getpid());
    std::string made = runCommand(kNetnsScript + " up " + tag_ + " " + std::to_string(routers));
    ASSERT_NE(made.find("exit 0"), std::string::npos) << made;
    built_ = true;
    // Nothing may be sent from a namespace that holds anything but loopback, veth and bridge.
    for (int i = 0; i <= routers; ++i) {
      std::string links = runCommand(kNetnsScript + " links " + ns(i));
      ASSERT_EQ(links.find(" other"), std::string::npos) << links;
    }
  }
  void TearDown() override {
    if (built_)
      runCommand(kNetnsScript + " down " + tag_);
  }
  // 0: the client namespace; i: router i.
  std::string ns(int i) const { return i == 0 ? tag_ + "-c" : tag_ + "-s" + std::to_string(i); }
  // Runs a shell command line inside a namespace; output and "exit <code>" as runCommand.
  std::string inNs(int i, const std::string& command) const {
    return runCommand(kNetnsScript + " exec " + ns(i) + " " + command);
  }
  static std::string routerAddress(int i) { return "198.18.0." + std::to_string(10 + i); }

private:
  std::string tag_;
  bool built_ = false;
};

} // namespace kestel::test
