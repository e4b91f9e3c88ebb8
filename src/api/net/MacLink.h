// The UDP socket the MAC-layer transport sends its broadcasts through: one at a time, bound to
// any address and port and to one interface (so that a broadcast leaves through the interface
// being tried), with broadcast allowed. Datagrams go to port 20561 of a broadcast address.
// Tests put a fake in its place; the real one broadcasts and so runs only where the user asked
// for a MAC address or inside a test's private network namespace.
#pragma once

#include "api/net/Interfaces.h"
#include "api/net/Reactor.h"

#include <functional>
#include <memory>
#include <vector>

namespace kestel {

class MacLink {
public:
  using Receive = std::function<void(const std::vector<Bytes>& datagrams)>;
  using Failure = std::function<void(int error)>;

  virtual ~MacLink() = default;
  // Opens a fresh socket on `interface` (closing any earlier one); false when it cannot be made
  // ("could not make socket broadcast" or "could not bind socket" in the log).
  virtual bool open(const NetInterface& interface, Receive onReceive, Failure onFailure) = 0;
  // Sends to `broadcast` (network byte order), port 20561; "sendto failed" in the log on error.
  virtual void send(ByteSpan datagram, uint32_t broadcast) = 0;
  virtual void close() = 0;
  // The socket's descriptor (-1 when closed).
  virtual int descriptor() const = 0;
  // Stops watching the socket and forgets it without closing it (handed to another owner).
  virtual int release() = 0;
  // Takes over an open datagram socket; false (nothing changed) when `fd` is not one.
  virtual bool adopt(int fd, Receive onReceive, Failure onFailure) = 0;
};

std::unique_ptr<MacLink> createUdpMacLink(Reactor& reactor);

} // namespace kestel
