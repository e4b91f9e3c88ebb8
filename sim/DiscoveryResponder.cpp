#include "sim/DiscoveryResponder.h"

#include "api/net/DiscoveryPacket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <unistd.h>

namespace kestel::sim {

namespace {

constexpr unsigned kMaxAnnounceCount = 20000;
constexpr size_t kReadsPerSignal = 64;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Error socketError(const char* what) {
  return makeError(std::string("discovery responder: ") + what + ": " + std::strerror(errno));
}

} // namespace

int applyAnnounceOption(AnnounceOptions& options, int argc, char** argv, int i) {
  std::string arg = argv[i];
  if (arg == "--announce-kavo") {
    options.kavo = true;
    return 1;
  }
  if (arg != "--announce" && arg != "--identity" && arg != "--board" && arg != "--announce-count")
    return 0;
  if (i + 1 >= argc)
    return -1;
  std::string value = argv[i + 1];
  if (arg == "--announce") {
    options.address = value;
  } else if (arg == "--identity") {
    options.identity = value;
  } else if (arg == "--board") {
    options.board = value;
  } else {
    char* end = nullptr;
    unsigned long n = std::strtoul(value.c_str(), &end, 10);
    if (!end || *end || n < 1 || n > kMaxAnnounceCount)
      return -1;
    options.count = static_cast<unsigned>(n);
  }
  return 2;
}

const char* announceOptionsUsage() {
  return "  discovery (off by default): --announce <ipv4 of a non-loopback interface>\n"
         "         --identity <text> --board <text> --announce-count <n> --announce-kavo\n";
}

Expected<std::unique_ptr<DiscoveryResponder>>
DiscoveryResponder::start(Reactor& reactor, const AnnounceOptions& options, std::string version) {
  auto interface = interfaceWithAddress(listInterfaces(), options.address);
  if (!interface)
    return makeError("discovery responder: no interface holds " + options.address);
  if (interface->loopback || interface->mac.size() != 6)
    return makeError("discovery responder: " + interface->name + " has no MAC address");
  std::unique_ptr<DiscoveryResponder> responder(
      new DiscoveryResponder(reactor, options, std::move(version), std::move(*interface)));
  if (auto opened = responder->open(); !opened)
    return opened.error();
  return responder;
}

DiscoveryResponder::DiscoveryResponder(Reactor& reactor, AnnounceOptions options,
                                       std::string version, NetInterface interface)
    : reactor_(reactor), options_(std::move(options)), version_(std::move(version)),
      interface_(std::move(interface)), startedAt_(reactor.now()) {}

DiscoveryResponder::~DiscoveryResponder() {
  for (int fd : {socket4_, socket6_}) {
    if (fd < 0)
      continue;
    reactor_.unwatch(fd);
    ::close(fd);
  }
}

Expected<void> DiscoveryResponder::open() {
  int on = 1;
  const std::string& device = interface_.name;
  socket4_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket4_ < 0)
    return socketError("socket");
  ::setsockopt(socket4_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Requests come to the broadcast address: bind to any address, but hear only this interface.
  if (::setsockopt(socket4_, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                   socklen_t(device.size())) != 0)
    return socketError("bind to device");
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(kDiscoveryPort);
  if (::bind(socket4_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
    return socketError("bind");
  reactor_.watch(socket4_, IoRead, [this](unsigned int) { readFrom(socket4_); });

  socket6_ = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket6_ < 0)
    return {}; // IPv4 alone still answers
  ::setsockopt(socket6_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  ::setsockopt(socket6_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ::setsockopt(socket6_, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(), socklen_t(device.size()));
  sockaddr_in6 any6{};
  any6.sin6_family = AF_INET6;
  any6.sin6_port = htons(kDiscoveryPort);
  ipv6_mreq join{};
  ::inet_pton(AF_INET6, "ff02::1", &join.ipv6mr_multiaddr);
  join.ipv6mr_interface = interface_.index;
  if (::bind(socket6_, reinterpret_cast<sockaddr*>(&any6), sizeof any6) != 0 ||
      ::setsockopt(socket6_, IPPROTO_IPV6, IPV6_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
    ::close(socket6_);
    socket6_ = -1;
    return {};
  }
  reactor_.watch(socket6_, IoRead, [this](unsigned int) { readFrom(socket6_); });
  return {};
}

void DiscoveryResponder::readFrom(int fd) {
  for (size_t i = 0; i < kReadsPerSignal; ++i) {
    Bytes buffer(kDiscoveryMaxDatagram);
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                           &length);
    if (n < 0)
      return;
    buffer.resize(static_cast<size_t>(n));
    auto packet = parseDiscoveryPacket(buffer);
    // Answers of other routers carry a MAC address; only a request is answered.
    if (packet && !packet->field(kDiscoveryMac))
      answer(fd, from, length);
  }
}

void DiscoveryResponder::answer(int fd, const sockaddr_storage& asker, socklen_t length) {
  // Answers go to the discovery port of the asker, where its listening socket is bound.
  sockaddr_storage to = asker;
  if (to.ss_family == AF_INET)
    reinterpret_cast<sockaddr_in*>(&to)->sin_port = htons(kDiscoveryPort);
  else
    reinterpret_cast<sockaddr_in6*>(&to)->sin6_port = htons(kDiscoveryPort);
  uint32_t uptime = static_cast<uint32_t>((reactor_.now() - startedAt_) / 1000);
  Bytes uptimeBytes(4);
  std::memcpy(uptimeBytes.data(), &uptime, 4); // little-endian on the hosts we run on
  Bytes address(4);
  std::memcpy(address.data(), &interface_.ipv4.front().address, 4);
  for (unsigned i = 0; i < options_.count; ++i) {
    Bytes mac = interface_.mac;
    mac[4] = static_cast<uint8_t>(mac[4] + (i >> 8));
    mac[5] = static_cast<uint8_t>(mac[5] + i);
    std::string identity =
        options_.count == 1 ? options_.identity : options_.identity + "-" + std::to_string(i + 1);
    std::vector<std::pair<uint16_t, Bytes>> fields{
        {kDiscoveryMac, mac},
        {kDiscoveryIdentity, text(identity)},
        {kDiscoveryAddress, address},
        {kDiscoveryVersion, text(version_)},
        {kDiscoveryUptime, uptimeBytes},
        {kDiscoveryBoard, text(options_.board)},
    };
    if (options_.kavo)
      fields.emplace_back(kDiscoveryKavo, Bytes{});
    Bytes packet = buildDiscoveryPacket(fields);
    ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), length);
  }
}

} // namespace kestel::sim
