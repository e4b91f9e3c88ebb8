// kestel-cli terminal against the simulator program, both as child processes: the scripted mode
// (input from a pipe, output as it comes or as the final screen, the idle time-out) and the
// interactive mode on a pseudo-terminal (typing, window size changes, and the terminal's mode
// put back however the command ends).
#include "support/Programs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace kestel {
namespace {

std::string cliFor(const test::SimProcess& sim, const std::string& options) {
  return std::string("KESTEL_HOME=/nonexistent-kestel KESTEL_PASSWORD=pw ") + KESTEL_CLI_PATH +
         " terminal " + options + " 127.0.0.1:" + std::to_string(sim.port) + " admin";
}

TEST(CliTerminal, ScriptedSessionsPrintTheOutputAndEndWithTheRouter) {
  test::SimProcess sim(KESTEL_SIM_PATH, {"--user", "admin:pw"});
  ASSERT_GT(sim.port, 0);
  std::string out = test::runCommand("printf 'echo hi there\\rbox\\rquit\\r' | " + cliFor(sim, ""));
  EXPECT_NE(out.find("[admin@Nimbalux] > echo hi there\r\nhi there\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\x1b(0lqq"), std::string::npos) << out; // the raw bytes, not a screen
  EXPECT_NE(out.find("bye\r\nexit 0"), std::string::npos) << out;

  // The final screen: the size report needs the emulator's answer to go back to the router.
  out = test::runCommand("printf 'size\\r' | " + cliFor(sim, "--screen --size 100x30 --timeout 1"));
  EXPECT_NE(out.find("window 100x30, terminal reports 100x30\n"), std::string::npos) << out;
  EXPECT_NE(out.find("nothing from the router for 1 s"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 4"), std::string::npos) << out;

  out = test::runCommand("printf 'quit\\r' | " + cliFor(sim, "--telnet 198.18.0.9 --screen"));
  EXPECT_NE(out.find("Connected to 198.18.0.9.\n\n[admin@198.18.0.9] > quit\nbye\n"),
            std::string::npos)
      << out;
  out = test::runCommand("printf '' | " + cliFor(sim, "--telnet ''"));
  EXPECT_NE(out.find("could not login"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
}

TEST(CliTerminal, WrongPasswordAndBadOptions) {
  test::SimProcess sim(KESTEL_SIM_PATH, {"--user", "admin:other"});
  ASSERT_GT(sim.port, 0);
  std::string out = test::runCommand("printf '' | " + cliFor(sim, ""));
  EXPECT_NE(out.find("wrong username or password"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
  for (const char* bad : {"--size 0x10", "--timeout 0", "--guest x", "--frobnicate"}) {
    out = test::runCommand(cliFor(sim, bad));
    EXPECT_NE(out.find("usage: kestel-cli terminal"), std::string::npos) << bad << out;
    EXPECT_NE(out.find("exit 2"), std::string::npos) << bad << out;
  }
}

// kestel-cli terminal running on a pseudo-terminal whose other side the test holds.
class PtySession {
public:
  PtySession(const test::SimProcess& sim, winsize size) {
    pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      ::setenv("KESTEL_HOME", "/nonexistent-kestel", 1);
      ::setenv("KESTEL_PASSWORD", "pw", 1);
      std::string address = "127.0.0.1:" + std::to_string(sim.port);
      ::execl(KESTEL_CLI_PATH, "kestel-cli", "terminal", address.c_str(), "admin", nullptr);
      ::_exit(127);
    }
    ::tcgetattr(master_, &before_); // the line discipline's settings before the client changes them
  }
  ~PtySession() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0)
      ::close(master_);
  }

  void type(const std::string& keys) {
    ASSERT_EQ(::write(master_, keys.data(), keys.size()), ssize_t(keys.size()));
  }
  // Reads until `text` has come or a few seconds have passed.
  bool await(const std::string& text) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (output_.find(text) == std::string::npos && std::chrono::steady_clock::now() < limit) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0) {
        char buffer[4096];
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
          break;
        output_.append(buffer, size_t(n));
      }
    }
    return output_.find(text) != std::string::npos;
  }
  // Waits a few seconds for the command's exit status, draining the pseudo-terminal; -1 when
  // the command does not end.
  int wait() {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < limit) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return status;
      }
      pollfd p{master_, POLLIN, 0};
      char buffer[4096];
      if (::poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0)
          output_.append(buffer, size_t(n));
      }
      if (p.revents & (POLLHUP | POLLERR))
        ::poll(nullptr, 0, 10); // the other side is gone: give the process time to end
    }
    return -1;
  }
  // True when the terminal's mode is what it was before the client started.
  bool modeRestored() const {
    termios now{};
    ::tcgetattr(master_, &now);
    return now.c_lflag == before_.c_lflag && now.c_iflag == before_.c_iflag &&
           now.c_oflag == before_.c_oflag;
  }
  bool rawNow() const {
    termios now{};
    ::tcgetattr(master_, &now);
    return (now.c_lflag & (ICANON | ECHO)) == 0;
  }
  void resize(winsize size) { ::ioctl(master_, TIOCSWINSZ, &size); }
  void signal(int s) { ::kill(pid_, s); }
  const std::string& output() const { return output_; }

private:
  int master_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  termios before_{};
  std::string output_;
};

TEST(CliTerminal, InteractiveOnAPseudoTerminal) {
  test::SimProcess sim(KESTEL_SIM_PATH, {"--user", "admin:pw"});
  ASSERT_GT(sim.port, 0);
  enum class End { LeaveKey, RouterQuit, Terminated };
  for (End end : {End::LeaveKey, End::RouterQuit, End::Terminated}) {
    SCOPED_TRACE(int(end));
    PtySession pty(sim, winsize{24, 80, 0, 0});
    ASSERT_TRUE(pty.await("[admin@Nimbalux] > ")) << pty.output();
    EXPECT_TRUE(pty.rawNow());
    pty.type("echo typed\r");
    ASSERT_TRUE(pty.await("typed\r\n[admin@Nimbalux] > ")) << pty.output();
    pty.resize(winsize{30, 100, 0, 0});
    // The local terminal is the test: it answers the cursor report itself.
    pty.type("size\r");
    ASSERT_TRUE(pty.await("\x1b[6n")) << pty.output();
    pty.type("\x1b[30;100R");
    ASSERT_TRUE(pty.await("window 100x30, terminal reports 100x30")) << pty.output();
    if (end == End::LeaveKey)
      pty.type("\x1d");
    else if (end == End::RouterQuit)
      pty.type("quit\r");
    else
      pty.signal(SIGTERM);
    int status = pty.wait();
    ASSERT_TRUE(WIFEXITED(status)) << status << pty.output();
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(pty.modeRestored());
    if (end == End::RouterQuit) {
      EXPECT_NE(pty.output().find("(Disconnected)"), std::string::npos) << pty.output();
    }
  }
}

} // namespace
} // namespace kestel
