#include "app/CrashSymbols.h"

#include "app/CrashModules.h"
#include "util/FixedText.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace kestel {
namespace {

constexpr size_t kMaxAddresses = 64;
constexpr size_t kOutputBytes = 32 * 1024;

// Copies one line of `text` (without its newline) into `out`, cut to fit; returns where the
// next line starts.
const char* takeLine(const char* text, const char* end, char* out, size_t capacity) {
  size_t n = 0;
  while (text < end && *text != '\n') {
    if (n + 1 < capacity)
      out[n++] = *text;
    ++text;
  }
  out[n] = '\0';
  return text < end ? text + 1 : end;
}

bool startsWith(const char* text, const char* prefix) {
  while (*prefix)
    if (*text++ != *prefix++)
      return false;
  return true;
}

// "??" and "??:0" mean unknown; " (discriminator 3)" is noise for a reader.
void tidy(FrameSymbol& symbol) {
  if (startsWith(symbol.function, "??"))
    symbol.function[0] = '\0';
  if (startsWith(symbol.fileLine, "??"))
    symbol.fileLine[0] = '\0';
  for (char* p = symbol.fileLine; *p; ++p)
    if (*p == ' ') {
      *p = '\0';
      break;
    }
}

} // namespace

int64_t CrashSymbols::nowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool CrashSymbols::prepare() {
  const char* pathList = std::getenv("PATH");
  std::string paths = pathList && *pathList ? pathList : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= paths.size()) {
    size_t colon = paths.find(':', start);
    std::string dir =
        paths.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/addr2line";
    if (candidate.size() < sizeof path_ && ::access(candidate.c_str(), X_OK) == 0) {
      candidate.copy(path_, candidate.size());
      path_[candidate.size()] = '\0';
      return true;
    }
    if (colon == std::string::npos)
      break;
    start = colon + 1;
  }
  return false;
}

size_t CrashSymbols::run(char* const* argv, char* buffer, size_t capacity,
                         int64_t deadlineMs) const {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0)
    return 0;
  // A bare clone rather than fork(): fork runs the at-fork handlers and takes the allocator's
  // locks, which the crashing code may hold. The child only rewires descriptors and execs.
  long pid = ::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    static char locale[] = "LC_ALL=C";
    char* env[] = {locale, nullptr};
    ::execve(path_, argv, env);
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  size_t used = 0;
  bool done = pid < 0;
  while (!done && used < capacity) {
    int64_t left = deadlineMs - nowMs();
    pollfd p{pipeFds[0], POLLIN, 0};
    int ready = left > 0 ? ::poll(&p, 1, int(left)) : 0;
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      break;
    ssize_t n = ::read(pipeFds[0], buffer + used, capacity - used);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      done = true;
    else
      used += size_t(n);
  }
  ::close(pipeFds[0]);
  if (pid > 0) {
    if (!done)
      ::kill(pid_t(pid), SIGKILL);
    ::waitpid(pid_t(pid), nullptr, 0);
  }
  return done ? used : 0;
}

void CrashSymbols::lookUp(const CrashModule& module, const uintptr_t* addresses, size_t count,
                          FrameSymbol* out, int64_t deadlineMs) const {
  if (!available() || module.name[0] != '/' || count == 0)
    return;
  static char argText[kMaxAddresses][20];
  static char* argv[6 + kMaxAddresses];
  static char output[kOutputBytes];
  static char flagC[] = "-C", flagF[] = "-f", flagE[] = "-e";
  size_t argc = 0;
  argv[argc++] = const_cast<char*>(path_);
  argv[argc++] = flagC;
  argv[argc++] = flagF;
  argv[argc++] = flagE;
  argv[argc++] = const_cast<char*>(module.name);
  size_t asked[kMaxAddresses];
  size_t askedCount = 0;
  for (size_t i = 0; i < count && askedCount < kMaxAddresses; ++i) {
    if (addresses[i] < module.base || addresses[i] >= module.end)
      continue;
    FixedText arg(argText[askedCount], sizeof argText[0] - 1);
    arg.hex(addresses[i] - module.bias);
    argText[askedCount][arg.size()] = '\0';
    argv[argc++] = argText[askedCount];
    asked[askedCount++] = i;
  }
  argv[argc] = nullptr;
  if (askedCount == 0)
    return;
  size_t length = run(argv, output, sizeof output, deadlineMs);
  const char* p = output;
  const char* end = output + length;
  // Two lines per address: the function, then "file:line".
  for (size_t k = 0; k < askedCount && p < end; ++k) {
    FrameSymbol& symbol = out[asked[k]];
    p = takeLine(p, end, symbol.function, sizeof symbol.function);
    p = takeLine(p, end, symbol.fileLine, sizeof symbol.fileLine);
    tidy(symbol);
  }
}

} // namespace kestel
