#include "app/InstanceCensus.h"

#include "util/Log.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestel {
namespace {

// "<digits>.<digits>": the names instances give their sockets; nothing else in the folder is
// touched.
bool isInstanceName(const char* name) {
  const char* p = name;
  if (!std::isdigit(static_cast<unsigned char>(*p)))
    return false;
  while (std::isdigit(static_cast<unsigned char>(*p)))
    ++p;
  if (*p++ != '.' || !std::isdigit(static_cast<unsigned char>(*p)))
    return false;
  while (std::isdigit(static_cast<unsigned char>(*p)))
    ++p;
  return *p == '\0';
}

bool makeAddress(const std::string& path, sockaddr_un& out) {
  out = {};
  out.sun_family = AF_UNIX;
  if (path.size() >= sizeof out.sun_path)
    return false;
  std::memcpy(out.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Nobody is bound to `path` any more: connecting to it is refused.
bool isStale(const std::string& path) {
  sockaddr_un a;
  if (!makeAddress(path, a))
    return false;
  int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0)
    return false;
  bool stale =
      ::connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno == ECONNREFUSED;
  ::close(probe);
  return stale;
}

std::atomic<unsigned int> instanceNumber{0};

} // namespace

Expected<void> ensurePrivateFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    logf("ERROR: could not make ", folder, ": ", std::strerror(errno));
    return makeError("could not make " + folder);
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0) {
    logf("ERROR: ", folder, " is not a folder of this user alone; instances cannot meet there");
    return makeError(folder + " is not private");
  }
  return {};
}

Expected<std::string> censusFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime && runtime[0] == '/' ? std::string(runtime) + "/kestel"
                                                    : "/tmp/kestel-" + std::to_string(::geteuid());
  if (Expected<void> made = ensurePrivateFolder(folder); !made)
    return made.error();
  return folder;
}

InstanceCensus::InstanceCensus(Reactor& reactor, std::string folder, std::function<void()> quit)
    : reactor_(reactor), folder_(std::move(folder)), quit_(std::move(quit)) {}

Expected<std::unique_ptr<InstanceCensus>> InstanceCensus::open(Reactor& reactor, std::string folder,
                                                               std::function<void()> quit) {
  std::unique_ptr<InstanceCensus> census(
      new InstanceCensus(reactor, std::move(folder), std::move(quit)));
  if (Expected<void> bound = census->bind(); !bound)
    return bound.error();
  census->sweep();
  return census;
}

InstanceCensus::~InstanceCensus() {
  reactor_.removeTimer(timer_);
  if (fd_ >= 0) {
    reactor_.unwatch(fd_);
    ::close(fd_);
    ::unlink(path_.c_str());
  }
}

Expected<void> InstanceCensus::bind() {
  path_ = folder_ + "/" + std::to_string(::getpid()) + "." + std::to_string(++instanceNumber);
  sockaddr_un a;
  if (!makeAddress(path_, a)) {
    logf("ERROR: census socket path too long: ", path_);
    return makeError("census socket path too long");
  }
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    return makeError("census socket: " + std::string(std::strerror(errno)));
  ::unlink(path_.c_str()); // a process of this id that died left it
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    int error = errno;
    ::close(fd_);
    fd_ = -1;
    logf("ERROR: could not bind ", path_, ": ", std::strerror(error));
    return makeError("could not bind the census socket");
  }
  reactor_.watch(fd_, IoRead, [this](unsigned int) { onReadable(); });
  return {};
}

void InstanceCensus::sweep() {
  DIR* dir = ::opendir(folder_.c_str());
  if (!dir)
    return;
  while (dirent* e = ::readdir(dir)) {
    std::string path = folder_ + "/" + e->d_name;
    if (isInstanceName(e->d_name) && path != path_ && isStale(path))
      ::unlink(path.c_str());
  }
  ::closedir(dir);
}

void InstanceCensus::broadcast(uint8_t value) {
  DIR* dir = ::opendir(folder_.c_str());
  if (!dir)
    return;
  while (dirent* e = ::readdir(dir)) {
    std::string path = folder_ + "/" + e->d_name;
    sockaddr_un a;
    if (!isInstanceName(e->d_name) || path == path_ || !makeAddress(path, a))
      continue;
    if (::sendto(fd_, &value, 1, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a),
                 sizeof a) != 1 &&
        errno == ECONNREFUSED)
      ::unlink(path.c_str()); // its instance is gone
  }
  ::closedir(dir);
}

void InstanceCensus::onReadable() {
  for (;;) {
    uint8_t buf[2];
    sockaddr_un from{};
    socklen_t length = sizeof from;
    ssize_t n =
        ::recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return;
    size_t pathLength = length > offsetof(sockaddr_un, sun_path)
                            ? ::strnlen(from.sun_path, length - offsetof(sockaddr_un, sun_path))
                            : 0;
    std::string sender(from.sun_path, pathLength);
    bool fromInstance = sender.size() > folder_.size() + 1 &&
                        sender.compare(0, folder_.size() + 1, folder_ + "/") == 0 &&
                        isInstanceName(sender.c_str() + folder_.size() + 1) && sender != path_;
    if (n != 1 || buf[0] > kCensusQuit || !fromInstance)
      continue; // not one of ours
    switch (buf[0]) {
    case kCensusAsk: {
      uint8_t answer = kCensusAnswer;
      ::sendto(fd_, &answer, 1, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from),
               length);
      break;
    }
    case kCensusAnswer:
      if (timer_)
        ++answers_;
      break;
    case kCensusQuit:
      if (quit_)
        quit_();
      return; // the quit may have ended this object
    }
  }
}

void InstanceCensus::count(std::function<void(unsigned int)> done) {
  reactor_.removeTimer(timer_);
  answers_ = 0;
  done_ = std::move(done);
  timer_ = reactor_.addTimer(
      kCensusWaitMs,
      [this] {
        timer_ = 0;
        logf("active windows=", answers_);
        auto done = std::move(done_);
        if (done)
          done(answers_);
      },
      false);
  broadcast(kCensusAsk);
}

void InstanceCensus::closeOthers() { broadcast(kCensusQuit); }

} // namespace kestel
