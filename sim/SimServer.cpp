#include "sim/SimServer.h"

#include "util/Log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

SimConnection::SimConnection(Reactor& reactor, int fd, uint64_t id,
                             const std::map<uint8_t, ChannelHandlerFactory>& registry,
                             std::function<void(uint64_t)> onGone, uint64_t dropAfter)
    : reactor_(reactor), fd_(fd), id_(id), onGone_(std::move(onGone)), dropAfter_(dropAfter) {
  for (auto& [channel, factory] : registry)
    handlers_[channel] = factory(*this);
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

void SimConnection::updateWatch() {
  unsigned int events = IoRead | (output_.empty() ? 0u : unsigned(IoWrite));
  reactor_.watch(fd_, events, [this](unsigned int ev) { onEvent(ev); });
}

void SimConnection::onEvent(unsigned int events) {
  if (events & (IoRead | IoHangUp | IoError))
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
    frame(ByteSpan(buf, static_cast<size_t>(n)));
  }
}

void SimConnection::frame(ByteSpan data) {
  reader_.feed(data, [this](uint8_t raw, uint8_t channel, ByteSpan payload) {
    bytesReceived_ += payload.size();
    if (dropAfter_ && bytesReceived_ >= dropAfter_) {
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
  if (listenFd_ >= 0) {
    reactor_.unwatch(listenFd_);
    ::close(listenFd_);
  }
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
  bool ok = ::bind(fd, list->ai_addr, list->ai_addrlen) == 0 && ::listen(fd, 16) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0;
  ::freeaddrinfo(list);
  if (!ok) {
    std::string text = std::string("listen: ") + std::strerror(errno);
    ::close(fd);
    return makeError(text);
  }
  if (listenFd_ >= 0) {
    reactor_.unwatch(listenFd_);
    ::close(listenFd_);
  }
  listenFd_ = fd;
  port_ = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  reactor_.watch(listenFd_, IoRead, [this](unsigned int) { onAccept(); });
  return port_;
}

void SimServer::onAccept() {
  int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0)
    return;
  uint64_t id = nextId_++;
  auto onGone = [this, alive = std::weak_ptr<bool>(alive_)](uint64_t gone) {
    // Deleted on a later turn: the connection is still on the call stack here.
    reactor_.post([this, alive, gone] {
      if (!alive.expired())
        connections_.erase(gone);
    });
  };
  connections_[id] =
      std::make_unique<SimConnection>(reactor_, fd, id, registry_, onGone, dropAfter_);
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
