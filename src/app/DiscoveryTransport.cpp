#include "app/DiscoveryTransport.h"

#include "api/net/DiscoveryPacket.h"
#include "api/net/Interfaces.h"
#include "util/Log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace kestel {

namespace {

// Datagrams read per readability signal: a flood is read in rounds, so timers and other
// sockets still get their turn.
constexpr size_t kReadsPerSignal = 64;

int udpSocket(int family) { return ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

void enable(int fd, int level, int option) {
  int on = 1;
  ::setsockopt(fd, level, option, &on, sizeof on);
}

sockaddr_in ipv4(uint32_t addressNetworkOrder, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = addressNetworkOrder;
  a.sin_port = htons(port);
  return a;
}

std::string ipv4String(uint32_t addressNetworkOrder) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &addressNetworkOrder, text, sizeof text);
  return text;
}

class UdpDiscoveryTransport final : public DiscoveryTransport {
public:
  explicit UdpDiscoveryTransport(Reactor& reactor) : reactor_(reactor) {}
  ~UdpDiscoveryTransport() override { close(); }

  Expected<void> open(Receive onReceive) override {
    close();
    onReceive_ = std::move(onReceive);
    if (auto bound = openBound(); !bound)
      return bound;
    openBroadcastSockets();
    openIpv6();
    watch(bound_);
    watch(bound6_);
    return {};
  }

  void send(ByteSpan request) override {
    sockaddr_in all = ipv4(INADDR_BROADCAST, kDiscoveryPort);
    if (::sendto(bound_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&all),
                 sizeof all) < 0)
      logf("sendto old ", errno);
    for (int fd : broadcast_)
      if (::send(fd, request.data(), request.size(), 0) < 0)
        logf("sendto ", errno);
    if (bound6_ < 0)
      return;
    sockaddr_in6 group{};
    group.sin6_family = AF_INET6;
    group.sin6_port = htons(kDiscoveryPort);
    ::inet_pton(AF_INET6, "ff02::1", &group.sin6_addr);
    if (::sendto(bound6_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&group),
                 sizeof group) < 0)
      logf("sendto6 ", errno);
  }

  void close() override {
    for (int* fd : {&bound_, &bound6_}) {
      if (*fd < 0)
        continue;
      reactor_.unwatch(*fd);
      ::close(*fd);
      *fd = -1;
    }
    for (int fd : broadcast_)
      ::close(fd);
    broadcast_.clear();
  }

private:
  Expected<void> openBound() {
    bound_ = udpSocket(AF_INET);
    if (bound_ < 0)
      return makeError("bind " + std::to_string(errno));
    enable(bound_, SOL_SOCKET, SO_BROADCAST);
    enable(bound_, SOL_SOCKET, SO_REUSEADDR);
    sockaddr_in any = ipv4(INADDR_ANY, kDiscoveryPort);
    if (::bind(bound_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
      int error = errno;
      ::close(bound_);
      bound_ = -1;
      return makeError("bind " + std::to_string(error));
    }
    return {};
  }

  void openBroadcastSockets() {
    for (uint32_t address : ipv4BroadcastAddresses()) {
      int fd = udpSocket(AF_INET);
      if (fd < 0) {
        logf("socket ", errno);
        continue;
      }
      enable(fd, SOL_SOCKET, SO_BROADCAST);
      logf("connecting to ", ipv4String(address));
      sockaddr_in to = ipv4(address, kDiscoveryPort);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        logf("connect ", errno);
        ::close(fd);
        continue;
      }
      broadcast_.push_back(fd);
    }
  }

  void openIpv6() {
    bound6_ = udpSocket(AF_INET6);
    if (bound6_ < 0)
      return;
    enable(bound6_, IPPROTO_IPV6, IPV6_V6ONLY);
    enable(bound6_, SOL_SOCKET, SO_REUSEADDR);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_port = htons(kDiscoveryPort);
    if (::bind(bound6_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
      logf("bind6 ", errno);
      closeIpv6();
      return;
    }
    ipv6_mreq join{};
    ::inet_pton(AF_INET6, "ff02::1", &join.ipv6mr_multiaddr);
    if (::setsockopt(bound6_, IPPROTO_IPV6, IPV6_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
      logf("IPV6_ADD_MEMBERSHIP ", errno);
      closeIpv6();
    }
  }

  void closeIpv6() {
    ::close(bound6_);
    bound6_ = -1;
  }

  void watch(int fd) {
    if (fd >= 0)
      reactor_.watch(fd, IoRead, [this, fd](unsigned int) { readFrom(fd); });
  }

  void readFrom(int fd) {
    std::vector<Datagram> batch;
    for (size_t i = 0; i < kReadsPerSignal; ++i) {
      Datagram d;
      d.bytes.resize(kDiscoveryMaxDatagram);
      socklen_t length = sizeof d.sender;
      ssize_t n = ::recvfrom(fd, d.bytes.data(), d.bytes.size(), MSG_TRUNC,
                             reinterpret_cast<sockaddr*>(&d.sender), &length);
      if (n < 0)
        break;
      if (static_cast<size_t>(n) > d.bytes.size())
        continue; // larger than any answer: not one
      d.bytes.resize(static_cast<size_t>(n));
      batch.push_back(std::move(d));
    }
    if (!batch.empty() && onReceive_)
      onReceive_(batch);
  }

  Reactor& reactor_;
  Receive onReceive_;
  int bound_ = -1;
  int bound6_ = -1;
  std::vector<int> broadcast_;
};

} // namespace

std::unique_ptr<DiscoveryTransport> createUdpDiscoveryTransport(Reactor& reactor) {
  return std::make_unique<UdpDiscoveryTransport>(reactor);
}

std::vector<uint32_t> ipv4BroadcastAddresses() {
  std::vector<uint32_t> out;
  for (const NetInterface& n : listInterfaces())
    for (const InterfaceAddress& a : n.ipv4)
      out.push_back(a.broadcast);
  if (out.empty())
    out.push_back(INADDR_BROADCAST);
  return out;
}

} // namespace kestel
