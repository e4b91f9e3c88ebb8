#include "sim/MacResponder.h"

#include "api/net/Interfaces.h"
#include "util/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestel::sim {

namespace {

constexpr size_t kReadsPerSignal = 64;
constexpr size_t kMaxQueued = size_t(1) << 20; // server output waiting for the link
constexpr uint32_t kHeldMs = 5;

bool parsePercent(const char* text, unsigned& out) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 10);
  if (!end || *end || end == text || v > 100)
    return false;
  out = static_cast<unsigned>(v);
  return true;
}

} // namespace

// One client: its stream, and the socket-pair end whose other end the server serves.
class MacResponder::Session {
public:
  Session(MacResponder& owner, Key key, uint16_t udpPort, int fd)
      : owner_(owner), key_(key), udpPort_(udpPort), fd_(fd),
        stream_(owner.reactor_,
                MacStream::Hooks{
                    [this](uint32_t o, ByteSpan p) {
                      owner_.send(key_, udpPort_, MacPacketType::Data, o, p);
                    },
                    [this](uint32_t n) { owner_.send(key_, udpPort_, MacPacketType::Ack, n, {}); },
                    [this](ByteSpan b) { toServer(b); },
                    [this] {
                      if (serverGone_)
                        owner_.endSession(key_);
                      updateWatch();
                    },
                    [this] { owner_.endSession(key_); },
                }) {
    updateWatch();
  }
  ~Session() {
    owner_.reactor_.unwatch(fd_);
    ::close(fd_);
  }

  void onPacket(const MacPacket& p, uint16_t udpPort) {
    udpPort_ = udpPort;
    if (p.type == uint8_t(MacPacketType::Data))
      stream_.onData(p.number, p.payload);
    else if (p.type == uint8_t(MacPacketType::Ack))
      stream_.onAck(p.number);
    updateWatch();
  }

private:
  void toServer(ByteSpan bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    writeSome();
  }

  void writeSome() {
    while (!pending_.empty()) {
      ssize_t n = ::send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL);
      if (n <= 0)
        break;
      pending_.erase(pending_.begin(), pending_.begin() + n);
    }
    updateWatch();
  }

  void onEvent(unsigned int events) {
    if (events & IoWrite)
      writeSome();
    if (!(events & (IoRead | IoHangUp | IoError)))
      return;
    uint8_t buffer[16384];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
      stream_.queue(ByteSpan(buffer, size_t(n)));
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      // The server closed this connection: end once the link has carried what it sent.
      serverGone_ = true;
      if (stream_.idle())
        owner_.endSession(key_);
    }
    updateWatch();
  }

  void updateWatch() {
    unsigned int events = 0;
    if (!serverGone_ && stream_.queuedBytes() < kMaxQueued)
      events |= IoRead;
    if (!pending_.empty())
      events |= IoWrite;
    if (events == 0) {
      owner_.reactor_.unwatch(fd_);
      return;
    }
    owner_.reactor_.watch(fd_, events, [this](unsigned int ev) { onEvent(ev); });
  }

  MacResponder& owner_;
  Key key_;
  uint16_t udpPort_;
  int fd_;
  MacStream stream_;
  Bytes pending_; // for the server, not yet written
  bool serverGone_ = false;

  friend class MacResponder;
};

int applyMacOption(MacOptions& options, int argc, char** argv, int i) {
  std::string arg = argv[i];
  if (arg != "--mac" && arg != "--mac-loss" && arg != "--mac-reorder" && arg != "--mac-duplicate" &&
      arg != "--mac-seed")
    return 0;
  if (i + 1 >= argc)
    return -1;
  const char* value = argv[i + 1];
  if (arg == "--mac") {
    options.interface = value;
    return 2;
  }
  if (arg == "--mac-seed") {
    char* end = nullptr;
    unsigned long seed = std::strtoul(value, &end, 10);
    if (!end || *end || end == value || seed > 0xFFFFFFFFul)
      return -1;
    options.seed = static_cast<uint32_t>(seed);
    return 2;
  }
  unsigned& target = arg == "--mac-loss"      ? options.lossPercent
                     : arg == "--mac-reorder" ? options.reorderPercent
                                              : options.duplicatePercent;
  return parsePercent(value, target) ? 2 : -1;
}

const char* macOptionsUsage() {
  return "  MAC-layer transport (off by default): --mac <interface>\n"
         "         faults in percent: --mac-loss <p> --mac-reorder <p> --mac-duplicate <p>\n"
         "         --mac-seed <n>\n";
}

Expected<std::unique_ptr<MacResponder>> MacResponder::start(Reactor& reactor, SimServer& server,
                                                            const MacOptions& options) {
  auto all = listInterfaces();
  auto it = std::find_if(all.begin(), all.end(),
                         [&](const NetInterface& n) { return n.name == options.interface; });
  if (it == all.end() || it->loopback || it->mac.size() != 6)
    return makeError("mac transport: no interface " + options.interface + " with a MAC address");
  MacAddress mac{};
  std::copy_n(it->mac.begin(), 6, mac.begin());
  std::unique_ptr<MacResponder> responder(new MacResponder(reactor, server, options, mac));
  if (auto opened = responder->open(); !opened)
    return opened.error();
  return responder;
}

MacResponder::MacResponder(Reactor& reactor, SimServer& server, MacOptions options, MacAddress mac)
    : reactor_(reactor), server_(server), options_(std::move(options)), mac_(mac),
      random_(options_.seed) {}

MacResponder::~MacResponder() {
  reactor_.removeTimer(reapTimer_);
  reactor_.removeTimer(heldTimer_);
  sessions_.clear();
  if (fd_ >= 0) {
    reactor_.unwatch(fd_);
    ::close(fd_);
  }
}

Expected<void> MacResponder::open() {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    return makeError(std::string("mac transport: socket: ") + std::strerror(errno));
  int on = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const std::string& device = options_.interface;
  if (::setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(), socklen_t(device.size())) != 0)
    return makeError(std::string("mac transport: bind to device: ") + std::strerror(errno));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(kMacUdpPort);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
    return makeError(std::string("mac transport: bind: ") + std::strerror(errno));
  reactor_.watch(fd_, IoRead, [this](unsigned int) { onReadable(); });
  return {};
}

bool MacResponder::chance(unsigned percent) { return percent > 0 && random_() % 100 < percent; }

void MacResponder::onReadable() {
  for (size_t i = 0; i < kReadsPerSignal; ++i) {
    Bytes d(kMacMaxDatagram);
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n = ::recvfrom(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0)
      return;
    d.resize(size_t(n));
    auto packet = parseMacPacket(d);
    if (!packet || packet->destination != mac_ || packet->destinationPort != kMacRouterPort)
      continue;
    if (chance(options_.lossPercent))
      continue;
    uint16_t udpPort = ntohs(from.sin_port);
    onPacket(*packet, udpPort);
    if (chance(options_.duplicatePercent))
      onPacket(*packet, udpPort);
  }
}

void MacResponder::onPacket(const MacPacket& packet, uint16_t udpPort) {
  Key key{packet.source, packet.sourcePort};
  if (packet.type == uint8_t(MacPacketType::Connect)) {
    accept(packet, udpPort);
    return;
  }
  auto it = sessions_.find(key);
  if (it != sessions_.end())
    it->second->onPacket(packet, udpPort);
}

void MacResponder::accept(const MacPacket& packet, uint16_t udpPort) {
  Key key{packet.source, packet.sourcePort};
  auto it = sessions_.find(key);
  // A repeated connect (our acknowledgement was lost) before any data keeps the session.
  if (it == sessions_.end() || it->second->stream_.receiveOffset() != 0 ||
      it->second->stream_.sendOffset() != 0) {
    if (it != sessions_.end())
      sessions_.erase(it);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
      logf("WARNING: mac transport: socketpair ", errno);
      return;
    }
    char peer[24];
    std::snprintf(peer, sizeof peer, "%02x:%02x:%02x:%02x:%02x:%02x", key.first[0], key.first[1],
                  key.first[2], key.first[3], key.first[4], key.first[5]);
    sessions_[key] = std::make_unique<Session>(*this, key, udpPort, pair[0]);
    server_.serve(pair[1], peer);
  }
  send(key, udpPort, MacPacketType::Ack, 0, {});
}

void MacResponder::send(const Key& key, uint16_t udpPort, MacPacketType type, uint32_t number,
                        ByteSpan payload) {
  MacPacket p;
  p.type = uint8_t(type);
  p.source = mac_;
  p.destination = key.first;
  p.sourcePort = kMacRouterPort;
  p.destinationPort = key.second;
  p.number = number;
  p.payload = payload;
  Bytes datagram = buildMacPacket(p);
  if (chance(options_.lossPercent))
    return;
  if (chance(options_.duplicatePercent))
    transmit(datagram, udpPort);
  if (chance(options_.reorderPercent) && !held_) {
    held_.emplace(std::move(datagram), udpPort);
    heldTimer_ = reactor_.addTimer(
        kHeldMs,
        [this] {
          heldTimer_ = 0;
          flushHeld();
        },
        false);
    return;
  }
  transmit(std::move(datagram), udpPort);
  flushHeld();
}

void MacResponder::flushHeld() {
  if (!held_)
    return;
  reactor_.removeTimer(std::exchange(heldTimer_, 0));
  auto [datagram, port] = std::move(*held_);
  held_.reset();
  transmit(std::move(datagram), port);
}

void MacResponder::transmit(Bytes datagram, uint16_t udpPort) {
  // The client may have no address: answer by broadcast, on this interface only.
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = INADDR_BROADCAST;
  to.sin_port = htons(udpPort);
  ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void MacResponder::endSession(const Key& key) {
  ended_.push_back(key);
  if (reapTimer_ == 0)
    reapTimer_ = reactor_.addTimer(
        0,
        [this] {
          reapTimer_ = 0;
          for (const Key& k : std::exchange(ended_, {}))
            sessions_.erase(k);
        },
        false);
}

} // namespace kestel::sim
