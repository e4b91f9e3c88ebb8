// The router end of the MAC-layer transport: on one interface it listens on UDP port 20561 for
// packets addressed to the interface's MAC address, accepts connect packets, and relays each
// client's byte stream to the simulator's server as if it were a TCP connection (through a
// socket pair), so logins and handlers run over it unchanged. Answers go to 255.255.255.255 on
// that interface only (the client may have no IP address). Off unless --mac names an interface;
// fault switches drop, reorder and duplicate packets in both directions from a seeded source.
#pragma once

#include "api/net/MacPacket.h"
#include "api/net/MacStream.h"
#include "sim/SimServer.h"

#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>

namespace kestel::sim {

struct MacOptions {
  std::string interface; // empty: off
  unsigned lossPercent = 0;
  unsigned reorderPercent = 0;
  unsigned duplicatePercent = 0;
  uint32_t seed = 1;
};

// Takes the MAC transport switches at argv[i]: 0 when it is none of them, the number of
// arguments used, or -1 on a bad value.
int applyMacOption(MacOptions& options, int argc, char** argv, int i);
const char* macOptionsUsage();

class MacResponder {
public:
  // Fails when the interface does not exist, has no MAC address, or the socket cannot be bound.
  [[nodiscard]] static Expected<std::unique_ptr<MacResponder>>
  start(Reactor& reactor, SimServer& server, const MacOptions& options);
  ~MacResponder();
  MacResponder(const MacResponder&) = delete;
  MacResponder& operator=(const MacResponder&) = delete;

  const MacAddress& mac() const { return mac_; }
  size_t sessionCount() const { return sessions_.size(); }

private:
  class Session;
  using Key = std::pair<MacAddress, uint16_t>; // client MAC, client port

  MacResponder(Reactor& reactor, SimServer& server, MacOptions options, MacAddress mac);
  Expected<void> open();
  void onReadable();
  void onPacket(const MacPacket& packet, uint16_t udpPort);
  void accept(const MacPacket& packet, uint16_t udpPort);
  void send(const Key& key, uint16_t udpPort, MacPacketType type, uint32_t number,
            ByteSpan payload);
  void transmit(Bytes datagram, uint16_t udpPort);
  void flushHeld();
  void endSession(const Key& key);
  bool chance(unsigned percent);

  Reactor& reactor_;
  SimServer& server_;
  MacOptions options_;
  MacAddress mac_;
  int fd_ = -1;
  std::mt19937 random_;
  std::map<Key, std::unique_ptr<Session>> sessions_;
  std::vector<Key> ended_; // removed once the current callback is done
  Reactor::TimerId reapTimer_ = 0;
  // A packet held back to be sent after the next one (the reorder switch).
  std::optional<std::pair<Bytes, uint16_t>> held_;
  Reactor::TimerId heldTimer_ = 0;
};

} // namespace kestel::sim
