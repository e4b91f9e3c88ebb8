#include "api/net/Connection.h"

#include "api/net/CrashSocket.h"
#include "api/wire/Message.h"
#include "util/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <thread>
#include <unistd.h>

namespace kestel {

namespace {

class ConnectionEvent final : public IConnectionEvent {
public:
  ConnectionEvent(State state, std::string reason) : state_(state), reason_(std::move(reason)) {}
  IBase* cast(unsigned int id) override { return id == kConnectionEventInterface ? this : nullptr; }
  State state() const override { return state_; }
  const std::string& reason() const override { return reason_; }

private:
  State state_;
  std::string reason_;
};

class TcpConnector final : public Connector {
public:
  Attempt start(const ResolvedAddress& a) override {
    int fd = ::socket(a.family, a.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.protocol);
    if (fd < 0)
      return {Stage::SocketFailed, -1, errno};
    // Requests and credit grants are small and wait for their answer: do not hold them back
    // for the peer's delayed acknowledgement.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.addr), a.length) == 0 ||
        errno == EINPROGRESS || errno == EINTR)
      return {Stage::Pending, fd, 0};
    int error = errno;
    ::close(fd);
    return {Stage::Failed, -1, error};
  }
  int result(int fd) override {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
      return errno;
    return error;
  }
};

// The login channels: legacy and secure. A connection carries one session, on one of them.
constexpr uint8_t kLoginChannels[] = {5, 6};

constexpr size_t kReadStep = 4096;

// The hand-over fields beyond the original four.
const nv::raw_id kDescribeUnsent{5};
const nv::raw_id kDescribeHeldInput{6};
const nv::u32_id kDescribeChannel{7};
// A partial chunk is shorter than a whole one (2 + 255 bytes).
constexpr size_t kMaxHeldChunk = 2 + kMaxChunkPayload - 1;
constexpr int kReadsPerEvent = 16; // bounds one event's work so other descriptors get their turn

} // namespace

// Shared with the resolver thread: the thread posts through `reactor` while it is set; the
// posted task finds the connection through `owner` (touched only on the reactor's thread).
struct Connection::ResolveSlot {
  std::mutex mutex;
  Reactor* reactor = nullptr;
  Connection* owner = nullptr;
};

Reference<Event> createConnectionEvent(IConnectionEvent::State state, std::string reason) {
  return Reference<Event>(new ConnectionEvent(state, std::move(reason)));
}

std::vector<ResolvedAddress> resolveWithGetaddrinfo(const std::string& host,
                                                    const std::string& port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  std::vector<ResolvedAddress> out;
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0)
    return out;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    ResolvedAddress r;
    r.family = ai->ai_family;
    r.socktype = ai->ai_socktype;
    r.protocol = ai->ai_protocol;
    std::memcpy(&r.addr, ai->ai_addr, ai->ai_addrlen);
    r.length = ai->ai_addrlen;
    out.push_back(r);
  }
  ::freeaddrinfo(list);
  return out;
}

std::unique_ptr<Connector> createTcpConnector() { return std::make_unique<TcpConnector>(); }

std::string reasonForErrno(int error) {
  switch (error) {
  case EADDRNOTAVAIL:
    return "bad router address";
  case ENETDOWN:
    return "network is not up";
  case ENETUNREACH:
    return "network is unreachable";
  case ETIMEDOUT:
    return "no response";
  case ECONNREFUSED:
    return "connection refused";
  case EHOSTUNREACH:
    return "no route to host";
  case ECONNRESET:
    return "connection reset by router";
  case EPIPE:
  case ESHUTDOWN:
    return "peer closed connection";
  case ECONNABORTED:
    return "connection aborted";
  case ENETRESET:
    return "network dropped connection";
  case EHOSTDOWN:
    return "router is down";
  case ENOTCONN:
    return "not connected";
  case EMFILE:
  case ENFILE:
    return "too many open files";
  case ENOBUFS:
  case ENOMEM:
    return "out of memory";
  case EACCES:
  case EPERM:
    return "connection not permitted";
  case EPROTO:
    return "protocol error";
  default:
    return "fatal error";
  }
}

Reference<Connection> createConnection(Reactor& reactor, ConnectionOptions options) {
  return Reference<Connection>(new Connection(reactor, std::move(options)));
}

Connection::Connection(Reactor& reactor, ConnectionOptions options)
    : reactor_(reactor), resolver_(std::move(options.resolver)),
      connector_(std::move(options.connector)) {
  if (!resolver_)
    resolver_ = resolveWithGetaddrinfo;
  if (!connector_)
    connector_ = createTcpConnector();
}

Connection::~Connection() {
  cancelResolve();
  if (connectTimer_)
    reactor_.removeTimer(connectTimer_);
  closeSocket();
}

void Connection::connect(const std::string& address, uint32_t port) {
  if (state_ != State::Idle && state_ != State::Closed)
    return; // one attempt at a time
  address_ = address;
  if (port != 0)
    port_ = port;
  closing_ = false;
  closeAfterFlush_ = false;
  reader_ = ChunkReader();
  resetLoginChannel();
  lastReason_.clear();
  state_ = State::Resolving;
  resolve_ = std::make_shared<ResolveSlot>();
  resolve_->reactor = &reactor_;
  resolve_->owner = this;
  std::thread([slot = resolve_, resolver = resolver_, host = address_,
               portText = std::to_string(port_)] {
    auto result = resolver(host, portText);
    std::lock_guard<std::mutex> lock(slot->mutex);
    if (!slot->reactor)
      return; // the connection is gone: the list is simply freed
    slot->reactor->post([slot, list = std::move(result)]() mutable {
      if (slot->owner)
        slot->owner->onResolved(std::move(list));
    });
  }).detach();
}

void Connection::cancelResolve() {
  if (!resolve_)
    return;
  std::lock_guard<std::mutex> lock(resolve_->mutex);
  resolve_->reactor = nullptr;
  resolve_->owner = nullptr;
  resolve_.reset();
}

void Connection::onResolved(std::vector<ResolvedAddress> addresses) {
  Reference<Connection> self(this);
  cancelResolve();
  if (state_ != State::Resolving)
    return;
  if (addresses.empty()) {
    fail("could not resolve " + address_);
    return;
  }
  addresses_ = std::move(addresses);
  nextAddress_ = 0;
  state_ = State::Connecting;
  tryNextAddress();
}

void Connection::tryNextAddress() {
  for (;;) {
    if (nextAddress_ >= addresses_.size()) {
      fail(lastReason_);
      return;
    }
    closeSocket();
    Connector::Attempt attempt = connector_->start(addresses_[nextAddress_++]);
    if (attempt.stage == Connector::Stage::SocketFailed) {
      lastReason_ = "socket error";
      continue;
    }
    if (attempt.stage == Connector::Stage::Failed) {
      lastReason_ = reasonForErrno(attempt.error);
      continue;
    }
    fd_ = attempt.fd;
    reactor_.watch(fd_, IoWrite, [this](unsigned int events) { onSocketEvent(events); });
    connectTimer_ = reactor_.addTimer(
        kConnectTimeoutMs, [this] { onConnectTimeout(); }, false);
    return;
  }
}

void Connection::onConnectTimeout() {
  Reference<Connection> self(this);
  connectTimer_ = 0;
  lastReason_ = "connection timed out";
  tryNextAddress();
}

void Connection::onSocketEvent(unsigned int events) {
  Reference<Connection> self(this); // a listener or receiver may drop the last reference
  if (state_ == State::Connecting) {
    onConnectReady();
    return;
  }
  if (state_ != State::Up)
    return;
  if (events & IoError) {
    int error = connector_->result(fd_);
    if (error) {
      fail(reasonForErrno(error));
      return;
    }
  }
  if (events & (IoRead | IoHangUp))
    readSome();
  if (state_ == State::Up && (events & IoWrite))
    writeSome();
}

void Connection::onConnectReady() {
  int error = connector_->result(fd_);
  if (connectTimer_)
    reactor_.removeTimer(std::exchange(connectTimer_, 0));
  if (error) {
    lastReason_ = reasonForErrno(error);
    tryNextAddress();
    return;
  }
  goUp();
}

void Connection::goUp() {
  state_ = State::Up;
  registerCrashSocket(fd_);
  addresses_.clear();
  updateWatch();
  notify(IConnectionEvent::Up, {});
  if (state_ == State::Up && !output_.empty())
    writeSome();
}

void Connection::updateWatch() {
  unsigned int events = IoRead | (output_.empty() ? 0u : unsigned(IoWrite));
  reactor_.watch(fd_, events, [this](unsigned int ev) { onSocketEvent(ev); });
}

void Connection::readSome() {
  for (int i = 0; i < kReadsPerEvent && state_ == State::Up; ++i) {
    uint8_t buf[kReadStep];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0) {
      int error = errno;
      if (error == EINTR)
        continue;
      if (error != EAGAIN && error != EWOULDBLOCK) {
        logf("error while reading err=", error);
        fail(reasonForErrno(error));
      }
      return;
    }
    if (n == 0) {
      fail("peer closed connection");
      return;
    }
    reader_.feed(ByteSpan(buf, static_cast<size_t>(n)),
                 [this](uint8_t raw, uint8_t channel, ByteSpan payload) {
                   return deliverChunk(raw, channel, payload);
                 });
  }
}

// Once a session has been given data on one login channel, the router has no business on the
// other: its chunks are dropped, so nothing there can pose as the session or start a second one.
bool Connection::loginChannelAllowed(uint8_t channel) {
  bool login = std::find(std::begin(kLoginChannels), std::end(kLoginChannels), channel) !=
               std::end(kLoginChannels);
  if (!login || loginChannel_ == channel)
    return true;
  if (loginChannel_ == 0) {
    loginChannel_ = channel;
    return true;
  }
  if (!otherLoginChannelLogged_) {
    otherLoginChannelLogged_ = true;
    logf("WARNING: router sent on channel ", unsigned(channel), " of a session on channel ",
         unsigned(loginChannel_), "; dropped");
  }
  return false;
}

bool Connection::deliverChunk(uint8_t rawChannel, uint8_t channel, ByteSpan payload) {
  for (auto& [ch, receiver] : receivers_) {
    if (ch != channel)
      continue;
    if (!loginChannelAllowed(channel))
      break;
    receiver->receive(rawChannel, payload.data(), payload.size());
    break;
  }
  return state_ == State::Up; // a receiver may have closed the connection
}

void Connection::writeSome() {
  if (const int error = sendPending(fd_, output_)) {
    logf("ERROR: while sending err=", error);
    fail(reasonForErrno(error));
    return;
  }
  if (output_.empty() && closeAfterFlush_) {
    fail({});
    return;
  }
  updateWatch();
}

void Connection::send(uint8_t channel, const uint8_t* data, size_t length) {
  if (closing_ || state_ == State::Closed)
    return;
  bool wasEmpty = output_.empty();
  appendChunks(output_, channel, ByteSpan(data, length));
  if (wasEmpty && state_ == State::Up)
    writeSome();
}

void Connection::close(CloseMode mode, const std::string& reason) {
  if (state_ == State::Closed)
    return;
  closing_ = true;
  if (mode == CloseMode::AfterFlush && state_ != State::Idle && !output_.empty()) {
    closeAfterFlush_ = true;
    return;
  }
  fail(reason);
}

void Connection::closeSocket() {
  if (fd_ < 0)
    return;
  unregisterCrashSocket(fd_);
  reactor_.unwatch(fd_);
  ::close(fd_);
  fd_ = -1;
}

void Connection::fail(const std::string& reason) {
  if (state_ == State::Closed)
    return;
  Reference<Connection> self(this);
  state_ = State::Closed;
  closing_ = true;
  cancelResolve();
  if (connectTimer_)
    reactor_.removeTimer(std::exchange(connectTimer_, 0));
  closeSocket();
  output_.clear();
  addresses_.clear();
  notify(IConnectionEvent::Closed, reason);
}

void Connection::notify(IConnectionEvent::State state, const std::string& reason) {
  Reference<Event> event = createConnectionEvent(state, reason);
  auto listeners = listeners_; // a listener may add or remove listeners
  for (auto& listener : listeners)
    listener->onEvent(*event);
}

void Connection::resetLoginChannel() {
  loginChannel_ = 0;
  otherLoginChannelLogged_ = false;
}

void Connection::addReceiver(uint8_t channel, IChannelReceiver* receiver) {
  receivers_.emplace_back(channel, receiver);
}

void Connection::removeReceiver(uint8_t channel, IChannelReceiver* receiver) {
  std::erase(receivers_, std::make_pair(channel, receiver));
}

void Connection::addListener(EventListener* listener) {
  if (listener)
    listeners_.emplace_back(listener);
}

void Connection::removeListener(EventListener* listener) {
  std::erase_if(listeners_, [&](const Reference<EventListener>& l) { return l.get() == listener; });
}

std::vector<std::pair<std::string, std::string>> Connection::textDescription(bool release) {
  std::vector<std::pair<std::string, std::string>> out{{"rfile", std::to_string(fd_)},
                                                       {"rport", std::to_string(port_)}};
  if (!release || fd_ < 0)
    return out;
  // The socket now belongs to the process that adopts it: stop watching it, but do not close
  // it. It stays close-on-exec, so no other child of this process inherits it by accident.
  unregisterCrashSocket(fd_);
  reactor_.unwatch(fd_);
  if (connectTimer_)
    reactor_.removeTimer(std::exchange(connectTimer_, 0));
  cancelResolve();
  fd_ = -1;
  state_ = State::Closed;
  closing_ = true;
  output_.clear();
  return out;
}

nv::message Connection::describe() const {
  nv::message m;
  m.set(nv::string_id(1), address_);
  m.set(nv::u32_id(2), port_);
  m.set(nv::u64_id(3), static_cast<uint64_t>(static_cast<int64_t>(fd_)));
  m.set(nv::bool_id(4), false);
  if (!output_.empty())
    m.set(kDescribeUnsent, output_);
  if (reader_.pending())
    m.set(kDescribeHeldInput, reader_.held());
  m.set(kDescribeChannel, uint32_t(reader_.currentChannel()));
  return m;
}

bool Connection::adopt(const nv::message& description) {
  if (state_ != State::Idle && state_ != State::Closed)
    return false;
  if (!description.has(nv::u64_id(3)) || description.get(nv::bool_id(4)))
    return false;
  uint64_t handle = description.get(nv::u64_id(3));
  int type = 0;
  socklen_t len = sizeof type;
  Bytes unsent = description.get(kDescribeUnsent);
  Bytes held = description.get(kDescribeHeldInput);
  uint32_t channel = description.get(kDescribeChannel, kSameChannel);
  if (handle > uint64_t(INT32_MAX) || held.size() > kMaxHeldChunk || channel > 0xFF ||
      unsent.size() > kMaxHandedOverOutput ||
      ::getsockopt(int(handle), SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_STREAM)
    return false;
  fd_ = static_cast<int>(handle);
  int flags = ::fcntl(fd_, F_GETFL);
  ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  ::fcntl(fd_, F_SETFD, FD_CLOEXEC); // ours now: not handed to further children by accident
  address_ = description.get(nv::string_id(1));
  if (uint32_t port = description.get(nv::u32_id(2)))
    port_ = port;
  closing_ = false;
  closeAfterFlush_ = false;
  reader_ = ChunkReader();
  reader_.resume(uint8_t(channel), held);
  output_ = std::move(unsent);
  resetLoginChannel();
  state_ = State::Up;
  registerCrashSocket(fd_);
  updateWatch();
  return true;
}

} // namespace kestel
