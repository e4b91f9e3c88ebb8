// The simulator's answer to neighbour discovery: on one interface (the one holding the address
// given with --announce) it listens on UDP port 5678, IPv4 and the IPv6 group ff02::1, and
// answers every request with its identity, version, board, MAC address, IPv4 address and uptime,
// sent to the asker alone. It never sends anything unasked. Off unless --announce is given; with
// --announce-count n it answers as n routers (MAC addresses counting up from the interface's),
// for tests and benchmarks of many neighbours.
#pragma once

#include "api/net/Interfaces.h"
#include "api/net/Reactor.h"
#include "util/Expected.h"

#include <memory>
#include <string>
#include <sys/socket.h>

namespace kestel::sim {

struct AnnounceOptions {
  std::string address; // IPv4 address of the interface to answer on; empty: off
  std::string identity = "Nimbalux";
  std::string board = "SIM-1";
  unsigned count = 1;
  bool kavo = false;
};

// Takes the announce switches at argv[i]: 0 when it is none of them, the number of arguments
// used, or -1 on a bad value.
int applyAnnounceOption(AnnounceOptions& options, int argc, char** argv, int i);
const char* announceOptionsUsage();

class DiscoveryResponder {
public:
  // Opens the sockets on the interface holding options.address. Fails when no interface holds
  // it, the interface is the loopback one, or a socket cannot be bound.
  [[nodiscard]] static Expected<std::unique_ptr<DiscoveryResponder>>
  start(Reactor& reactor, const AnnounceOptions& options, std::string version);
  ~DiscoveryResponder();
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

  const NetInterface& interface() const { return interface_; }

private:
  DiscoveryResponder(Reactor& reactor, AnnounceOptions options, std::string version,
                     NetInterface interface);
  Expected<void> open();
  void readFrom(int fd);
  void answer(int fd, const sockaddr_storage& asker, socklen_t length);

  Reactor& reactor_;
  AnnounceOptions options_;
  std::string version_;
  NetInterface interface_;
  int64_t startedAt_;
  int socket4_ = -1;
  int socket6_ = -1;
};

} // namespace kestel::sim
