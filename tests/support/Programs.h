// The project's own programs run as child processes by a test: the simulator listening on a port
// it chose, and a shell command whose output and exit code the test reads.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kestel::test {

// nimbalux-sim at `path` started with "--port 0" and `args`; `port` is the port it printed, 0
// when it printed none. Stopped with SIGTERM when the object goes.
class SimProcess {
public:
  SimProcess(const std::string& path, std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0)
      return;
    args.insert(args.begin(), {"nimbalux-sim", "--port", "0"});
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(path.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
      line += c;
    ::close(out[0]);
    port = std::atoi(line.c_str());
  }
  ~SimProcess() {
    if (pid_ <= 0)
      return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  pid_t pid() const { return pid_; }

  int port = 0;

private:
  pid_t pid_ = -1;
};

// Runs `command` in the shell and returns what it wrote to stdout and stderr followed by
// "exit <code>".
inline std::string runCommand(const std::string& command) {
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

} // namespace kestel::test
