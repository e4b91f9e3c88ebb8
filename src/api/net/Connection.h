// The TCP connection to a router: resolves the name on a thread of its own (the result comes
// back through Reactor::post and is dropped if the connection is gone), tries every resolved
// address in order with a 10-second connect timer each, then carries chunk-framed channels over
// one non-blocking socket. Every failure ends in exactly one "closed" event with a reason text.
// One connection carries one session: once a receiver on one login channel (5 or 6) has been
// given data, chunks on the other login channel are dropped.
// Name resolution and socket creation are injectable so tests never leave the machine.
#pragma once

#include "api/net/Framing.h"
#include "api/net/IConnection.h"
#include "api/net/Reactor.h"

#include <memory>
#include <sys/socket.h>

namespace kestel {

inline constexpr uint32_t kDefaultRouterPort = 8291;
inline constexpr uint32_t kConnectTimeoutMs = 10000;
// The most unsent output a described connection carries to its adopter (it travels inside one
// message value).
inline constexpr size_t kMaxHandedOverOutput = 32768;

struct ResolvedAddress {
  int family = 0;
  int socktype = 0;
  int protocol = 0;
  sockaddr_storage addr{};
  socklen_t length = 0;
};

// Blocking name look-up, run on the resolver thread; it may touch only its arguments. An empty
// list means the name could not be resolved.
using Resolver =
    std::function<std::vector<ResolvedAddress>(const std::string& host, const std::string& port)>;

// getaddrinfo with any family, stream sockets and TCP.
std::vector<ResolvedAddress> resolveWithGetaddrinfo(const std::string& host,
                                                    const std::string& port);

// Opens non-blocking sockets and starts connecting them.
class Connector {
public:
  enum class Stage { SocketFailed, Failed, Pending };
  struct Attempt {
    Stage stage;
    int fd = -1;   // Pending: the socket to watch for write readiness (owned by the connection)
    int error = 0; // Failed: the errno of the failed connect (the socket is already closed)
  };
  virtual ~Connector() = default;
  virtual Attempt start(const ResolvedAddress& address) = 0;
  // The outcome of a pending connect once the socket became ready: 0 or an errno.
  virtual int result(int fd) = 0;
};

// The real thing: socket(2) with close-on-exec, non-blocking connect(2), SO_ERROR.
std::unique_ptr<Connector> createTcpConnector();

// The reason text for a socket errno: "connection refused", "connection reset by router", ...
// for every errno a connection can meet; "fatal error" for the rest.
std::string reasonForErrno(int error);

struct ConnectionOptions {
  Resolver resolver;                    // default: resolveWithGetaddrinfo
  std::unique_ptr<Connector> connector; // default: createTcpConnector()
};

class Connection;
// A closed connection on `reactor`, which must outlive it.
Reference<Connection> createConnection(Reactor& reactor, ConnectionOptions options = {});

class Connection final : public IConnection {
public:
  Connection(Reactor& reactor, ConnectionOptions options);

  const std::string& address() const override { return address_; }
  uint32_t port() const override { return port_; }
  void connect(const std::string& address, uint32_t port) override;
  void close(CloseMode mode, const std::string& reason = {}) override;
  nv::message describe() const override;
  void addReceiver(uint8_t channel, IChannelReceiver* receiver) override;
  void removeReceiver(uint8_t channel, IChannelReceiver* receiver) override;
  void send(uint8_t channel, const uint8_t* data, size_t length) override;
  void addListener(EventListener* listener) override;
  void removeListener(EventListener* listener) override;
  std::vector<std::pair<std::string, std::string>> textDescription(bool release) override;
  [[nodiscard]] bool adopt(const nv::message& description) override;
  bool isUp() const override { return state_ == State::Up; }
  bool isClosed() const override { return state_ == State::Closed; }

  // Bytes queued but not yet written; for tests.
  size_t pendingOutput() const { return output_.size(); }

private:
  ~Connection() override; // counted: released through Reference only

  enum class State { Idle, Resolving, Connecting, Up, Closed };
  struct ResolveSlot;

  void onResolved(std::vector<ResolvedAddress> addresses);
  void tryNextAddress();
  void onConnectTimeout();
  void onSocketEvent(unsigned int events);
  void onConnectReady();
  void goUp();
  void readSome();
  void writeSome();
  bool deliverChunk(uint8_t rawChannel, uint8_t channel, ByteSpan payload);
  bool loginChannelAllowed(uint8_t channel);
  void resetLoginChannel();
  void updateWatch();
  void closeSocket();
  void cancelResolve();
  void fail(const std::string& reason);
  void notify(IConnectionEvent::State state, const std::string& reason);

  Reactor& reactor_;
  Resolver resolver_;
  std::unique_ptr<Connector> connector_;

  std::string address_;
  uint32_t port_ = kDefaultRouterPort;
  int fd_ = -1;
  State state_ = State::Idle;
  bool closing_ = false;
  bool closeAfterFlush_ = false;
  std::shared_ptr<ResolveSlot> resolve_;
  std::vector<ResolvedAddress> addresses_;
  size_t nextAddress_ = 0;
  std::string lastReason_;
  Reactor::TimerId connectTimer_ = 0;
  ChunkReader reader_;
  Bytes output_;
  std::vector<std::pair<uint8_t, IChannelReceiver*>> receivers_;
  uint8_t loginChannel_ = 0; // the login channel the session took, 0 before any
  bool otherLoginChannelLogged_ = false;
  std::vector<Reference<EventListener>> listeners_;
};

} // namespace kestel
