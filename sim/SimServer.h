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

class SimConnection {
public:
  SimConnection(Reactor& reactor, int fd, uint64_t id,
                const std::map<uint8_t, ChannelHandlerFactory>& registry,
                std::function<void(uint64_t)> onGone, uint64_t dropAfter = 0);
  ~SimConnection();
  SimConnection(const SimConnection&) = delete;
  SimConnection& operator=(const SimConnection&) = delete;

  // Queues one send on `channel`, framed as the router frames it; ignored once closing.
  void send(uint8_t channel, ByteSpan payload);
  // AfterFlush: closes once the queued output is written; Now drops it.
  void close(CloseMode mode = CloseMode::AfterFlush);

  uint64_t id() const { return id_; }
  bool closed() const { return fd_ < 0; }
  // Total payload bytes received on all channels; for fault switches and tests.
  uint64_t bytesReceived() const { return bytesReceived_; }

private:
  void onEvent(unsigned int events);
  void readSome();
  void frame(ByteSpan data);
  void writeSome();
  void updateWatch();
  void shutDown();

  Reactor& reactor_;
  int fd_;
  uint64_t id_;
  std::map<uint8_t, std::unique_ptr<ChannelHandler>> handlers_;
  std::function<void(uint64_t)> onGone_;
  ChunkReader reader_;
  Bytes output_;
  bool closeAfterFlush_ = false;
  uint64_t bytesReceived_ = 0;
  uint64_t dropAfter_;
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
  void setDropAfterBytes(uint64_t bytes) { dropAfter_ = bytes; }

  // Listens on host:port, host a numeric IPv4 or IPv6 address (port 0 picks a free one);
  // returns the bound port, or the failure.
  Expected<uint16_t> listen(uint16_t port, const std::string& host = "127.0.0.1");
  uint16_t port() const { return port_; }

  size_t connectionCount() const { return connections_.size(); }
  // Calls `fn` on every live connection.
  void forEachConnection(const std::function<void(SimConnection&)>& fn);
  // Closes every connection at once (the router went away), keeping the listener.
  void dropAll();

private:
  void onAccept();

  Reactor& reactor_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  uint64_t nextId_ = 1;
  uint64_t dropAfter_ = 0;
  std::map<uint8_t, ChannelHandlerFactory> registry_;
  std::map<uint64_t, std::unique_ptr<SimConnection>> connections_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Sends every chunk back on the same channel; for demos and transport tests.
std::unique_ptr<ChannelHandler> createEchoHandler(uint8_t channel);

} // namespace kestel::sim
