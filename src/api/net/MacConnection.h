// The MAC-layer connection: reaches a router that has no usable IP address by its MAC address.
// It tries each local interface in turn (100 ms each, broadcasting to 255.255.255.255 and to
// the interface's own broadcast address on alternate passes, 10 passes in all) until the router
// acknowledges the connect packet, then carries the chunk-framed channels of the TCP connection
// over a MacStream. It offers exactly the IConnection interface, so the logins and everything
// above run over it unchanged. Interfaces, the socket and the client port are injectable so that
// tests need no network.
#pragma once

#include "api/net/Framing.h"
#include "api/net/IConnection.h"
#include "api/net/MacLink.h"
#include "api/net/MacPacket.h"
#include "api/net/MacStream.h"

#include <functional>
#include <memory>

namespace kestel {

inline constexpr uint32_t kMacConnectStepMs = 100;
inline constexpr unsigned kMacConnectPasses = 10;

struct MacConnectionOptions {
  std::function<std::vector<NetInterface>()> interfaces; // default: listInterfaces()
  std::unique_ptr<MacLink> link;                         // default: createUdpMacLink()
  std::function<uint16_t()> randomPort;                  // default: getrandom(2)
};

class MacConnection;
Reference<MacConnection> createMacConnection(Reactor& reactor, MacConnectionOptions options = {});

class MacConnection final : public IConnection {
public:
  MacConnection(Reactor& reactor, MacConnectionOptions options);

  const std::string& address() const override { return address_; }
  uint32_t port() const override { return 0; }
  // `address` is the router's MAC address text; the port is not used. A text that is not a MAC
  // address closes the connection with "bad router address".
  void connect(const std::string& address, uint32_t port) override;
  void close(CloseMode mode, const std::string& reason = {}) override;
  // Key 1 address, 3 socket, 4 true (a MAC connection), 5 router MAC, 6 interface MAC, 7 send
  // offset, 8 receive offset, 9 client port, 10 broadcast mode. Pending output is not included.
  nv::message describe() const override;
  void addReceiver(uint8_t channel, IChannelReceiver* receiver) override;
  void removeReceiver(uint8_t channel, IChannelReceiver* receiver) override;
  void send(uint8_t channel, const uint8_t* data, size_t length) override;
  void addListener(EventListener* listener) override;
  void removeListener(EventListener* listener) override;
  // ("macrfile", "<socket>,<send offset>,<receive offset>,<client port>") and ("srcaddr", the
  // interface's MAC address). With `release` the socket is left open for another owner.
  std::vector<std::pair<std::string, std::string>> textDescription(bool release) override;
  [[nodiscard]] bool adopt(const nv::message& description) override;
  bool isUp() const override { return state_ == State::Up; }
  bool isClosed() const override { return state_ == State::Closed; }

  uint16_t clientPort() const { return clientPort_; }
  const MacStream& stream() const { return stream_; }

private:
  ~MacConnection() override;

  enum class State { Idle, Connecting, Up, Closed };

  void tryInterface();
  void onConnectTimer();
  void onDatagrams(const std::vector<Bytes>& datagrams);
  void onPacket(const MacPacket& packet);
  void goUp();
  void sendPacket(MacPacketType type, uint32_t number, ByteSpan payload);
  void deliver(ByteSpan bytes);
  bool loginChannelAllowed(uint8_t channel);
  void fail(const std::string& reason);
  void notify(IConnectionEvent::State state, const std::string& reason);
  MacLink::Receive receiveHook();
  MacLink::Failure failureHook();

  Reactor& reactor_;
  MacConnectionOptions options_;
  MacStream stream_;
  std::string address_;
  MacAddress routerMac_{};
  std::vector<NetInterface> interfaces_;
  size_t interfaceIndex_ = 0;
  bool limitedBroadcast_ = true; // the broadcast mode: 255.255.255.255, else the interface's
  unsigned passes_ = 0;
  uint16_t clientPort_ = 0;
  State state_ = State::Idle;
  bool closeAfterFlush_ = false;
  Bytes early_; // output queued before the connection came up
  Reactor::TimerId connectTimer_ = 0;
  ChunkReader reader_;
  std::vector<std::pair<uint8_t, IChannelReceiver*>> receivers_;
  uint8_t loginChannel_ = 0;
  std::vector<Reference<EventListener>> listeners_;
};

} // namespace kestel
