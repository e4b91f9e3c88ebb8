#include "sim/SimServer.h"

#include "util/Log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace kestel::sim {

namespace {

constexpr size_t kReadStep = 16384;
constexpr int kReadsPerEvent = 16;

class EchoHandler final : public ChannelHandler {
public:
  explicit EchoHandler(uint8_t channel) : channel_(channel) {}
  void onChunk(SimConnection& connection, uint8_t, ByteSpan payload) override {
    connection.send(channel_, payload);
  }

private:
  uint8_t channel_;
};

} // namespace

std::unique_ptr<ChannelHandler> createEchoHandler(uint8_t channel) {
  return std::make_unique<EchoHandler>(channel);
}

SimConnection::SimConnection(Reactor& reactor, int fd, uint64_t id, std::string peerAddress,
                             const std::map<uint8_t, ChannelHandlerFactory>& registry,
                             std::function<void(uint64_t)> onGone, const ConnectionLimits& limits)
    : reactor_(reactor), fd_(fd), id_(id), peerAddress_(std::move(peerAddress)), limits_(limits),
      onGone_(std::move(onGone)) {
  for (auto& [channel, factory] : registry)
    handlers_[channel] = factory(*this);
  startTimers();
  updateWatch();
}

SimConnection::~SimConnection() { shutDown(); }

void SimConnection::send(uint8_t channel, ByteSpan payload) {
  if (fd_ < 0 || closeAfterFlush_)
    return;
  bool wasEmpty = output_.empty();
  appendChunks(output_, channel, payload);
  if (wasEmpty)
    writeSome();
}

void SimConnection::close(CloseMode mode) {
  if (fd_ < 0)
    return;
  if (mode == CloseMode::AfterFlush && !output_.empty()) {
    closeAfterFlush_ = true;
    return;
  }
  shutDown();
}

void SimConnection::startTimers() {
  lastReceived_ = reactor_.now();
  if (limits_.handshakeMs)
    handshakeTimer_ = reactor_.addTimer(
        limits_.handshakeMs,
        [this] {
          handshakeTimer_ = 0;
          logf("sim: connection ", id_, " from ", peerAddress_, " did not log in within ",
               limits_.handshakeMs, " ms; closed");
          close(CloseMode::Now);
        },
        false);
  if (limits_.idleMs)
    armIdleTimer(limits_.idleMs);
}

void SimConnection::armIdleTimer(uint32_t ms) {
  idleTimer_ = reactor_.addTimer(
      ms,
      [this] {
        idleTimer_ = 0;
        onIdleCheck();
      },
      false);
}

// Closes the connection when it has been silent for the idle time, or looks again when the
// idle time will have passed since the last bytes came in.
void SimConnection::onIdleCheck() {
  int64_t silent = reactor_.now() - lastReceived_;
  if (silent >= int64_t(limits_.idleMs)) {
    logf("sim: connection ", id_, " from ", peerAddress_, " idle for ", silent, " ms; closed");
    return close(CloseMode::Now);
  }
  armIdleTimer(uint32_t(int64_t(limits_.idleMs) - silent));
}

void SimConnection::markEstablished() {
  reactor_.removeTimer(handshakeTimer_);
  handshakeTimer_ = 0;
}

void SimConnection::dropTimers() {
  reactor_.removeTimer(std::exchange(handshakeTimer_, 0));
  reactor_.removeTimer(std::exchange(idleTimer_, 0));
}

// Reading pauses while the output backlog is over its bound and resumes at half of it.
void SimConnection::updateWatch() {
  if (output_.size() > limits_.maxBacklog)
    paused_ = true;
  else if (output_.size() <= limits_.maxBacklog / 2)
    paused_ = false;
  unsigned int events =
      (paused_ ? 0u : unsigned(IoRead)) | (output_.empty() ? 0u : unsigned(IoWrite));
  reactor_.watch(fd_, events, [this](unsigned int ev) { onEvent(ev); });
}

void SimConnection::onEvent(unsigned int events) {
  // A hang-up or error is reported even while reading is paused: reading then finds the end.
  if ((events & (IoHangUp | IoError)) || ((events & IoRead) && !paused_))
    readSome();
  if (fd_ >= 0 && (events & IoWrite))
    writeSome();
}

void SimConnection::readSome() {
  for (int i = 0; i < kReadsPerEvent && fd_ >= 0; ++i) {
    uint8_t buf[kReadStep];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
      return;
    if (n <= 0) {
      shutDown();
      return;
    }
    lastReceived_ = reactor_.now();
    frame(ByteSpan(buf, static_cast<size_t>(n)));
    if (fd_ >= 0 && output_.size() > limits_.maxBacklog) {
      updateWatch(); // pauses reading until the client takes its replies
      return;
    }
  }
}

void SimConnection::frame(ByteSpan data) {
  reader_.feed(data, [this](uint8_t raw, uint8_t channel, ByteSpan payload) {
    bytesReceived_ += payload.size();
    if (limits_.dropAfter && bytesReceived_ >= limits_.dropAfter) {
      close(CloseMode::Now);
      return false;
    }
    auto it = handlers_.find(channel);
    if (it != handlers_.end() && it->second)
      it->second->onChunk(*this, raw, payload);
    return fd_ >= 0; // a handler may have closed the connection
  });
}

void SimConnection::writeSome() {
  if (sendPending(fd_, output_) != 0) {
    shutDown();
    return;
  }
  if (output_.empty() && closeAfterFlush_) {
    shutDown();
    return;
  }
  updateWatch();
}

// Closes the socket and tells the handlers; the server deletes the object on a later turn.
void SimConnection::shutDown() {
  if (fd_ < 0)
    return;
  dropTimers();
  reactor_.unwatch(fd_);
  ::close(fd_);
  fd_ = -1;
  output_.clear();
  for (auto& [channel, handler] : handlers_) {
    if (handler)
      handler->onClosed(*this);
  }
  onGone_(id_);
}

SimServer::~SimServer() {
  connections_.clear();
  closeListener();
}

void SimServer::closeListener() {
  reactor_.removeTimer(std::exchange(acceptTimer_, 0));
  if (listenFd_ < 0)
    return;
  reactor_.unwatch(listenFd_);
  ::close(listenFd_);
  listenFd_ = -1;
}

void SimServer::registerChannel(uint8_t channel, ChannelHandlerFactory factory) {
  registry_[channel] = std::move(factory);
}

Expected<uint16_t> SimServer::listen(uint16_t port, const std::string& host) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || !list)
    return makeError("bad listen address " + host);
  int fd = ::socket(list->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ::freeaddrinfo(list);
    return makeError(std::string("socket: ") + std::strerror(errno));
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  bool ok = ::bind(fd, list->ai_addr, list->ai_addrlen) == 0 && ::listen(fd, kListenBacklog) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0;
  ::freeaddrinfo(list);
  if (!ok) {
    std::string text = std::string("listen: ") + std::strerror(errno);
    ::close(fd);
    return makeError(text);
  }
  closeListener();
  listenFd_ = fd;
  port_ = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  reactor_.watch(listenFd_, IoRead, [this](unsigned int) { onAccept(); });
  return port_;
}

// Takes every pending connection: one accept per readiness event would leave a burst waiting in
// the kernel's queue until the client gives up.
void SimServer::onAccept() {
  while (listenFd_ >= 0 && !acceptTimer_ && acceptOne()) {
  }
}

bool SimServer::acceptOne() {
  sockaddr_storage from{};
  socklen_t fromLength = sizeof from;
  int fd = acceptor_ ? acceptor_(listenFd_, from, fromLength)
                     : ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&from), &fromLength,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
    case EAGAIN:
    case EINTR: // EWOULDBLOCK is EAGAIN here
      return errno == EINTR;
    case ECONNABORTED: // the client gave up while queued, or a network error pending on it
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default: // out of descriptors or memory: retrying at once would only spin
      pauseAccepting(errno);
      return false;
    }
  }
  acceptErrorLogged_ = false;
  char host[NI_MAXHOST] = "";
  ::getnameinfo(reinterpret_cast<sockaddr*>(&from), fromLength, host, sizeof host, nullptr, 0,
                NI_NUMERICHOST);
  // Replies and notifications are small messages written one after another: held back until
  // the previous one is acknowledged, each would wait for the client's delayed acknowledgement.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  serve(fd, host);
  return true;
}

SimConnection& SimServer::serve(int fd, std::string peerAddress) {
  uint64_t id = nextId_++;
  auto onGone = [this, alive = std::weak_ptr<bool>(alive_)](uint64_t gone) {
    // Deleted on a later turn: the connection is still on the call stack here.
    reactor_.post([this, alive, gone] {
      if (!alive.expired())
        connections_.erase(gone);
    });
  };
  auto& connection = connections_[id];
  connection = std::make_unique<SimConnection>(reactor_, fd, id, std::move(peerAddress), registry_,
                                               onGone, limits_);
  return *connection;
}

// Stops watching the listener for a moment (pending clients wait in the kernel's queue) and
// says so once per shortage.
void SimServer::pauseAccepting(int error) {
  if (!acceptErrorLogged_) {
    acceptErrorLogged_ = true;
    logf("sim: accept failed: ", std::strerror(error), "; pausing new connections for ",
         kAcceptPauseMs, " ms at a time until it works again");
  }
  reactor_.unwatch(listenFd_);
  acceptTimer_ = reactor_.addTimer(
      kAcceptPauseMs,
      [this] {
        acceptTimer_ = 0;
        reactor_.watch(listenFd_, IoRead, [this](unsigned int) { onAccept(); });
        onAccept();
      },
      false);
}

void SimServer::forEachConnection(const std::function<void(SimConnection&)>& fn) {
  for (auto& [id, connection] : connections_) {
    if (!connection->closed())
      fn(*connection);
  }
}

void SimServer::dropAll() {
  for (auto& [id, connection] : connections_)
    connection->close(CloseMode::Now);
}

} // namespace kestel::sim
