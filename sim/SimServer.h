// The simulator's transport: a TCP listener (loopback unless told otherwise) whose connections
// speak the router's chunk framing, dispatching each channel to a handler made for that
// connection from a registry. Logins, sessions and router handlers plug in as channel handlers;
// this layer knows nothing of them. Runs on a Reactor, so tests can drive it in-process.
#pragma once

#include "api/net/Framing.h"
#include "api/net/IConnection.h"
#include "api/net/Reactor.h"
#include "util/Expected.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/socket.h>

namespace kestel::sim {

class SimConnection;

// One channel of one connection. Gets every chunk of its channel in order.
class ChannelHandler {
public:
  virtual ~ChannelHandler() = default;
  // `rawChannel` is the channel byte as it stood in the chunk (0xFF for continuations).
  virtual void onChunk(SimConnection& connection, uint8_t rawChannel, ByteSpan payload) = 0;
  // The connection is going away (peer closed, error or server shut-down); no more sends.
  virtual void onClosed(SimConnection& connection) { (void)connection; }
};

using ChannelHandlerFactory = std::function<std::unique_ptr<ChannelHandler>(SimConnection&)>;

// What one connection may cost the simulator.
struct ConnectionLimits {
  // Reading stops while more than this many bytes wait to be sent, and resumes once half of
  // them are gone: a client that does not read cannot make the simulator grow.
  size_t maxBacklog = size_t(1) << 20;
  // A connection not marked established (a completed login) this long after it was accepted is
  // closed; 0 turns it off.
  uint32_t handshakeMs = 0;
  // A connection that sends nothing for this long is closed; 0 turns it off.
  uint32_t idleMs = 0;
  // Fault switch: the connection is cut (without flushing) once it has received this many
  // payload bytes; 0 turns it off.
  uint64_t dropAfter = 0;
};

class SimConnection {
public:
  SimConnection(Reactor& reactor, int fd, uint64_t id, std::string peerAddress,
                const std::map<uint8_t, ChannelHandlerFactory>& registry,
                std::function<void(uint64_t)> onGone, const ConnectionLimits& limits = {});
  ~SimConnection();
  SimConnection(const SimConnection&) = delete;
  SimConnection& operator=(const SimConnection&) = delete;

  // Queues one send on `channel`, framed as the router frames it; ignored once closing.
  void send(uint8_t channel, ByteSpan payload);
  // AfterFlush: closes once the queued output is written; Now drops it.
  void close(CloseMode mode = CloseMode::AfterFlush);

  // The connection has passed its handshake: the handshake time-out no longer applies.
  void markEstablished();

  uint64_t id() const { return id_; }
  // The client's numeric address, without the port.
  const std::string& peerAddress() const { return peerAddress_; }
  bool closed() const { return fd_ < 0; }
  // True while reading is paused because too much output waits; for tests.
  bool readingPaused() const { return paused_; }
  size_t pendingOutput() const { return output_.size(); }
  // Total payload bytes received on all channels; for fault switches and tests.
  uint64_t bytesReceived() const { return bytesReceived_; }

private:
  void onEvent(unsigned int events);
  void readSome();
  void frame(ByteSpan data);
  void writeSome();
  void updateWatch();
  void shutDown();
  void startTimers();
  void armIdleTimer(uint32_t ms);
  void onIdleCheck();
  void dropTimers();

  Reactor& reactor_;
  int fd_;
  uint64_t id_;
  std::string peerAddress_;
  ConnectionLimits limits_;
  bool paused_ = false;
  int64_t lastReceived_ = 0;
  Reactor::TimerId handshakeTimer_ = 0;
  Reactor::TimerId idleTimer_ = 0;
  std::map<uint8_t, std::unique_ptr<ChannelHandler>> handlers_;
  std::function<void(uint64_t)> onGone_;
  ChunkReader reader_;
  Bytes output_;
  bool closeAfterFlush_ = false;
  uint64_t bytesReceived_ = 0;
};

class SimServer {
public:
  explicit SimServer(Reactor& reactor) : reactor_(reactor) {}
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Every new connection gets a handler for `channel` from `factory`; replaces an earlier one.
  void registerChannel(uint8_t channel, ChannelHandlerFactory factory);

  // Fault switch: every connection accepted from now on is cut (without flushing) once it has
  // received this many payload bytes; 0 turns it off.
  void setDropAfterBytes(uint64_t bytes) { limits_.dropAfter = bytes; }
  // The limits of the connections accepted from now on.
  ConnectionLimits& limits() { return limits_; }
  Reactor& reactor() { return reactor_; }
  // Takes one pending connection from the listener like accept4(2) (non-blocking, close-on-exec):
  // the descriptor, or -1 with errno set. Tests put failures in its place.
  using Acceptor = std::function<int(int listenFd, sockaddr_storage& from, socklen_t& length)>;
  void setAcceptor(Acceptor acceptor) { acceptor_ = std::move(acceptor); }
  // True while accepting is paused after running out of descriptors; for tests.
  bool acceptPaused() const { return acceptTimer_ != 0; }

  // Listens on host:port, host a numeric IPv4 or IPv6 address (port 0 picks a free one);
  // returns the bound port, or the failure.
  Expected<uint16_t> listen(uint16_t port, const std::string& host = "127.0.0.1");
  uint16_t port() const { return port_; }

  // Serves an already connected non-blocking socket (a socketpair end in tests and fuzzing) as
  // if it had been accepted from `peerAddress`; takes the descriptor.
  SimConnection& serve(int fd, std::string peerAddress);

  size_t connectionCount() const { return connections_.size(); }
  // Calls `fn` on every live connection.
  void forEachConnection(const std::function<void(SimConnection&)>& fn);
  // Closes every connection at once (the router went away), keeping the listener.
  void dropAll();

  // How long accepting pauses when the process or system is out of descriptors or memory.
  static constexpr uint32_t kAcceptPauseMs = 200;
  // Pending connections the kernel queues for the listener.
  static constexpr int kListenBacklog = 4096;

private:
  void onAccept();
  // Accepts one connection; false when there is nothing more to accept for now.
  bool acceptOne();
  void pauseAccepting(int error);
  void closeListener();

  Reactor& reactor_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  uint64_t nextId_ = 1;
  ConnectionLimits limits_;
  Acceptor acceptor_;
  Reactor::TimerId acceptTimer_ = 0;
  bool acceptErrorLogged_ = false;
  std::map<uint8_t, ChannelHandlerFactory> registry_;
  std::map<uint64_t, std::unique_ptr<SimConnection>> connections_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Sends every chunk back on the same channel; for demos and transport tests.
std::unique_ptr<ChannelHandler> createEchoHandler(uint8_t channel);

} // namespace kestel::sim
