// The built kestel-cli as a child process against the simulator in this process: where the
// password comes from (argument, file, environment, terminal prompt), that an argument password
// no longer shows in /proc/<pid>/cmdline, that the prompt does not echo, and that the log file
// is private.
#include "api/net/NetTestSupport.h"

#include "api/net/PollReactor.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace kestel::test {
namespace {

constexpr const char* kPassword = "Sekr1t-pass";

// The program is built next to the tests: <build>/tests/app_tests and <build>/src/kestel-cli.
std::string cliPath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0)
    return {};
  std::string exe(buf, size_t(n));
  return exe.substr(0, exe.rfind('/')) + "/../src/kestel-cli";
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct CliRun {
  int exitCode = -1;
  std::string out;     // stdout and stderr, in order
  std::string cmdline; // /proc/<pid>/cmdline when the warning showed, else at the end
};

class CliPasswordTest : public ReactorTest {
protected:
  CliPasswordTest() {
    login.addUser("admin", kPassword);
    login.install(server);
    EXPECT_TRUE(server.listen(0).ok());
    char dir[] = "/tmp/kestel-cli-XXXXXX";
    EXPECT_NE(nullptr, ::mkdtemp(dir));
    home = dir;
  }
  ~CliPasswordTest() override { std::filesystem::remove_all(home); }

  std::string address() const { return "127.0.0.1:" + std::to_string(server.port()); }

  // Runs kestel-cli with `args`; `env` entries "NAME=value" are added to this process's
  // environment less KESTEL_PASSWORD. Without `terminal` the child has no controlling terminal and
  // its standard input is /dev/null; with it, the child runs on a new pseudo-terminal and
  // `terminal` answers each prompt it sees.
  CliRun run(std::vector<std::string> args, std::vector<std::string> env = {},
             std::function<std::string(const std::string&)> terminal = {}) {
    CliRun result;
    std::string path = cliPath();
    args.insert(args.begin(), path);
    env.push_back("KESTEL_HOME=" + home + "/state/kestel");
    for (char** e = environ; *e; ++e) {
      std::string_view entry(*e);
      if (!entry.starts_with("KESTEL_PASSWORD=") && !entry.starts_with("KESTEL_HOME="))
        env.emplace_back(entry);
    }
    // Everything the child needs is made before fork: it only calls async-signal-safe functions.
    std::vector<char*> argv, envp;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env)
      envp.push_back(e.data());
    envp.push_back(nullptr);
    int out = -1;
    pid_t pid;
    if (terminal) {
      pid = ::forkpty(&out, nullptr, nullptr, nullptr);
    } else {
      int pipeFds[2];
      EXPECT_EQ(0, ::pipe2(pipeFds, O_CLOEXEC));
      pid = ::fork();
      if (pid == 0) {
        ::setsid(); // no controlling terminal
        int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
      }
      ::close(pipeFds[1]);
      out = pipeFds[0];
      if (pid != 0)
        ::fcntl(out, F_SETFL, O_NONBLOCK);
    }
    if (pid == 0) {
      ::umask(0); // the log must be private all the same
      ::execve(path.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    if (terminal)
      ::fcntl(out, F_SETFL, O_NONBLOCK);
    std::string pidDir = "/proc/" + std::to_string(pid);
    size_t answered = 0;
    int status = 0;
    bool exited = false;
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < limit) {
      reactor.runOnce(5);
      char buf[1024];
      ssize_t n;
      while ((n = ::read(out, buf, sizeof buf)) > 0)
        result.out.append(buf, size_t(n));
      if (result.cmdline.empty() && result.out.find("warning: a password") != std::string::npos)
        result.cmdline = readAll(pidDir + "/cmdline");
      if (terminal) {
        size_t prompt = result.out.find("Password: ", answered);
        if (prompt != std::string::npos) {
          answered = prompt + 1;
          std::string answer = terminal(result.out);
          EXPECT_EQ(ssize_t(answer.size()), ::write(out, answer.data(), answer.size()));
        }
      }
      if (exited && n <= 0)
        break;
      if (!exited && ::waitpid(pid, &status, WNOHANG) == pid)
        exited = true;
    }
    if (!exited) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "kestel-cli did not finish";
    }
    ::close(out);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  sim::SimServer server{reactor};
  sim::RouterLogin login;
  std::string home;
};

TEST_F(CliPasswordTest, PasswordSources) {
  if (::access(cliPath().c_str(), X_OK) != 0)
    GTEST_SKIP() << "kestel-cli not built at " << cliPath();
  std::string file = home + "/pw";
  std::ofstream(file) << kPassword << "\n";
  std::string wrongFile = home + "/wrong";
  std::ofstream(wrongFile) << "nope\r\n";
  struct Case {
    const char* name;
    std::vector<std::string> args; // after the address
    std::vector<std::string> env;
    int exitCode;
    const char* says; // a fragment of the output
    bool warned;
  } cases[] = {
      {"argument", {"admin", kPassword}, {}, 0, "logged in (secure login)", true},
      {"file", {"--password-file", file, "admin"}, {}, 0, "logged in (secure login)", false},
      {"environment",
       {"admin"},
       {std::string("KESTEL_PASSWORD=") + kPassword},
       0,
       "logged in (secure login)",
       false},
      {"argument before the environment",
       {"admin", "nope"},
       {std::string("KESTEL_PASSWORD=") + kPassword},
       1,
       "wrong username or password",
       true},
      {"file before the environment",
       {"--password-file", wrongFile, "admin"},
       {std::string("KESTEL_PASSWORD=") + kPassword},
       1,
       "wrong username or password",
       false},
      {"missing file",
       {"--password-file", home + "/none", "admin"},
       {},
       2,
       "cannot read password file",
       false},
      {"no source and no terminal", {"admin"}, {}, 2, "no password", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), address());
    CliRun r = run(args, c.env);
    EXPECT_EQ(c.exitCode, r.exitCode) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(c.says)) << r.out;
    EXPECT_EQ(c.warned, r.out.find("warning: a password on the command line") != std::string::npos)
        << r.out;
    EXPECT_EQ(std::string::npos, r.out.find(kPassword)) << r.out;
    if (c.warned) {
      // Wiped before the warning was printed: the rest of the command line is still there.
      EXPECT_NE(std::string::npos, r.cmdline.find("admin"));
      EXPECT_EQ(std::string::npos, r.cmdline.find(c.args[1])) << r.cmdline;
    }
  }
}

TEST_F(CliPasswordTest, TerminalPromptDoesNotEcho) {
  if (::access(cliPath().c_str(), X_OK) != 0)
    GTEST_SKIP() << "kestel-cli not built at " << cliPath();
  CliRun r = run({address(), "admin"}, {},
                 [](const std::string&) { return std::string(kPassword) + "\n"; });
  EXPECT_EQ(0, r.exitCode) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("Password: ")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("logged in")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find(kPassword)) << r.out; // the terminal did not echo it
}

TEST_F(CliPasswordTest, LogFileIsWrittenAndPrivate) {
  if (::access(cliPath().c_str(), X_OK) != 0)
    GTEST_SKIP() << "kestel-cli not built at " << cliPath();
  CliRun r = run({address(), "admin"}, {std::string("KESTEL_PASSWORD=") + kPassword});
  ASSERT_EQ(0, r.exitCode) << r.out;
  std::string log = home + "/state/kestel/kestel.log";
  struct stat st {};
  ASSERT_EQ(0, ::stat(log.c_str(), &st)) << log;
  EXPECT_EQ(0600u, st.st_mode & 07777);
  for (const std::string& dir : {home + "/state", home + "/state/kestel"}) {
    ASSERT_EQ(0, ::stat(dir.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777) << dir;
  }
  std::string text = readAll(log);
  EXPECT_NE(std::string::npos, text.find("startKeyExchange")) << text;
  EXPECT_EQ(std::string::npos, text.find(kPassword));
}

} // namespace
} // namespace kestel::test
