#include "app/HandOff.h"

#include "app/CommandLine.h"
#include "app/ParameterPipe.h"
#include "util/Log.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestel {
namespace {

// Closes every descriptor from `from` up to `limit` but `keepA` and `keepB`. Runs between fork
// and exec: system calls only.
void closeAllBut(int from, int keepA, int keepB, int limit) {
  int keep[2] = {keepA < keepB ? keepA : keepB, keepA < keepB ? keepB : keepA};
  int low = from;
  for (int k : keep) {
    if (k < low)
      continue;
    if (k > low && ::syscall(SYS_close_range, unsigned(low), unsigned(k - 1), 0u) != 0)
      for (int fd = low; fd < k; ++fd)
        ::close(fd);
    low = k + 1;
  }
  if (::syscall(SYS_close_range, unsigned(low), ~0u, 0u) != 0)
    for (int fd = low; fd < limit; ++fd)
      ::close(fd);
}

int descriptorLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == RLIM_INFINITY || r.rlim_cur > 65536)
    return 65536;
  return int(r.rlim_cur);
}

// The grandchild's side of the start: standard input, the kept descriptor, nothing else, then
// exec. Reports the errno of a failed exec on `status` (close-on-exec: silent on success).
[[noreturn]] void becomeChild(const char* program, char* const* argv, int input, int keepFd,
                              int status, int limit) {
  if (input >= 0) {
    if (input == STDIN_FILENO)
      ::fcntl(input, F_SETFD, 0);
    else
      ::dup2(input, STDIN_FILENO);
  }
  if (keepFd >= 0)
    ::fcntl(keepFd, F_SETFD, 0);
  closeAllBut(3, keepFd, status, limit);
  ::execv(program, argv);
  int error = errno;
  ssize_t ignored = ::write(status, &error, sizeof error);
  (void)ignored;
  ::_exit(127);
}

} // namespace

Expected<std::string> ownProgramPath() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) {
    logLine("ERROR: could get path to myself");
    return makeError("could get path to myself");
  }
  return std::string(path, size_t(n));
}

Expected<void> startProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const nv::message* parameters, int keepFd) {
  std::vector<std::string> args = arguments;
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  int input[2] = {-1, -1};
  if (parameters && ::pipe2(input, O_CLOEXEC) != 0) {
    logLine("ERROR: CreatePipe failed");
    return makeError("CreatePipe failed");
  }
  int status[2];
  if (::pipe2(status, O_CLOEXEC) != 0) {
    logLine("ERROR: CreatePipe failed");
    if (parameters) {
      ::close(input[0]);
      ::close(input[1]);
    }
    return makeError("CreatePipe failed");
  }
  const int limit = descriptorLimit();
  pid_t middle = ::fork();
  if (middle == 0) {
    // A process in between, gone at once: the child belongs to init, not to this process.
    pid_t child = ::fork();
    if (child == 0)
      becomeChild(program.c_str(), argv.data(), input[0], keepFd, status[1], limit);
    ::_exit(child < 0 ? 1 : 0);
  }
  ::close(status[1]);
  if (parameters)
    ::close(input[0]);
  int middleStatus = 1;
  if (middle > 0)
    while (::waitpid(middle, &middleStatus, 0) < 0 && errno == EINTR) {
    }
  int execError = 0;
  ssize_t got;
  while ((got = ::read(status[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  ::close(status[0]);
  if (middle < 0 || !WIFEXITED(middleStatus) || WEXITSTATUS(middleStatus) != 0 || got > 0) {
    logLine("ERROR: could not start process");
    if (parameters)
      ::close(input[1]);
    return makeError(got > 0 ? "could not start process: error " + std::to_string(execError)
                             : std::string("could not start process"));
  }
  if (!parameters)
    return {};
  Expected<void> written = writeSessionParameters(input[1], *parameters);
  ::close(input[1]);
  return written;
}

Expected<nv::message> childParameters(nv::message parameters, const HandOffSource& source) {
  if (!source.connection || !source.connection->isUp())
    return makeError("no connection to hand over");
  nv::message looper = source.legacy   ? source.legacy->describe()
                       : source.secure ? source.secure->describe()
                                       : nv::message();
  if (looper.empty())
    return makeError("the session is not logged in");
  if (source.connection->pendingOutput() > kMaxHandedOverOutput)
    return makeError("the connection is still sending; try again");
  nv::message connection = source.connection->describe();
  parameters.set(param::kConnectionState, connection);
  parameters.set(param::kLooperState, looper);
  parameters.set(param::kLegacyLogin, source.legacy != nullptr);
  parameters.remove(param::kIndexBytes);
  parameters.remove(param::kSkinBytes);
  if (!parameters.has(param::kConnectionState) || !parameters.has(param::kLooperState))
    return makeError("the session holds more than can be handed over now");
  if (source.indexBytes.size() > nv::kMaxWireLength)
    logf("WARNING: descriptor index of ", source.indexBytes.size(),
         " bytes not handed over; the new window fetches it");
  else if (!source.indexBytes.empty())
    parameters.set(param::kIndexBytes, source.indexBytes);
  if (source.skinBytes.size() > nv::kMaxWireLength)
    logf("WARNING: skin of ", source.skinBytes.size(), " bytes not handed over");
  else if (!source.skinBytes.empty())
    parameters.set(param::kSkinBytes, source.skinBytes);
  return parameters;
}

Expected<void> openInNewWindow(const std::string& program, const nv::message& parameters,
                               const HandOffSource& source) {
  Expected<nv::message> forChild = childParameters(parameters, source);
  if (!forChild) {
    logf("ERROR: cannot open in new window: ", forChild.error().text);
    return forChild.error();
  }
  int socket = int(source.connection->describe().get(nv::u64_id(3)));
  Expected<void> started = startProcess(program, {"kestel", "-"}, &*forChild, socket);
  if (!started)
    return started;
  // The child has the session now: this process must neither read nor write it again.
  if (source.secure)
    source.secure->stop();
  if (source.legacy)
    source.legacy->stop();
  source.connection->textDescription(true);
  ::close(socket);
  return {};
}

Expected<void> startNewInstance(const std::string& program) {
  Expected<void> started = startProcess(program, {"kestel"}, nullptr, -1);
  if (!started)
    logLine("ERROR: failed to start updated version");
  return started;
}

} // namespace kestel
