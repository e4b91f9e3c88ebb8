// The sockets of one discovery scan: a socket bound to UDP port 5678 on every IPv4 address,
// one socket connected to each IPv4 broadcast address of the machine (255.255.255.255 when it
// has none), and an IPv6 socket bound to port 5678 and joined to ff02::1. The discovery handler
// opens them at the start of a scan and closes them at the end of its collection window.
// Sending here broadcasts on every interface: only the discovery handler calls it, and only
// when discovery was switched on.
#pragma once

#include "api/net/Reactor.h"
#include "util/Bytes.h"
#include "util/Expected.h"

#include <functional>
#include <memory>
#include <sys/socket.h>
#include <vector>

namespace kestel {

struct Datagram {
  Bytes bytes;
  sockaddr_storage sender{};
};

class DiscoveryTransport {
public:
  // Gets the datagrams read on one readability signal, in arrival order.
  using Receive = std::function<void(const std::vector<Datagram>& datagrams)>;

  virtual ~DiscoveryTransport() = default;
  // Opens the scan's sockets. Fails (everything closed) with "bind" and the socket error when
  // the IPv4 socket cannot be bound; the others only log their failures and are left out.
  [[nodiscard]] virtual Expected<void> open(Receive onReceive) = 0;
  // Sends `request` on every open socket; failures are logged and the rest still go out.
  virtual void send(ByteSpan request) = 0;
  // Closes every socket; nothing is delivered afterwards. Closing twice is fine.
  virtual void close() = 0;
};

// The real sockets on `reactor`, which must outlive the transport.
std::unique_ptr<DiscoveryTransport> createUdpDiscoveryTransport(Reactor& reactor);

// The broadcast address of each IPv4 address of the machine's interfaces that are up (the address
// with its host bits set), in network byte order; 255.255.255.255 alone when there is none.
std::vector<uint32_t> ipv4BroadcastAddresses();

} // namespace kestel
