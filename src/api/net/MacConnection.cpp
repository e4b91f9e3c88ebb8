#include "api/net/MacConnection.h"

#include "api/net/Connection.h"
#include "api/wire/Message.h"
#include "util/Log.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/random.h>

namespace kestel {

namespace {

constexpr uint8_t kLoginChannels[] = {5, 6};

uint16_t randomPort() {
  uint16_t port = 0;
  if (::getrandom(&port, sizeof port, 0) != sizeof port)
    port = static_cast<uint16_t>(::getpid() ^ 0x5A5A); // still differs between processes
  return port;
}

std::string macString(const MacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

MacAddress macOf(const NetInterface& i) {
  MacAddress mac{};
  std::copy_n(i.mac.begin(), std::min<size_t>(6, i.mac.size()), mac.begin());
  return mac;
}

} // namespace

Reference<MacConnection> createMacConnection(Reactor& reactor, MacConnectionOptions options) {
  return Reference<MacConnection>(new MacConnection(reactor, std::move(options)));
}

MacConnection::MacConnection(Reactor& reactor, MacConnectionOptions options)
    : reactor_(reactor), options_(std::move(options)),
      stream_(reactor, MacStream::Hooks{
                           [this](uint32_t offset, ByteSpan payload) {
                             sendPacket(MacPacketType::Data, offset, payload);
                           },
                           [this](uint32_t next) { sendPacket(MacPacketType::Ack, next, {}); },
                           [this](ByteSpan bytes) { deliver(bytes); },
                           [this] {
                             if (closeAfterFlush_)
                               fail({});
                           },
                           [this] { fail("timed out"); },
                       }) {
  if (!options_.interfaces)
    options_.interfaces = listInterfaces;
  if (!options_.link)
    options_.link = createUdpMacLink(reactor);
  if (!options_.randomPort)
    options_.randomPort = randomPort;
}

MacConnection::~MacConnection() {
  reactor_.removeTimer(connectTimer_);
  stream_.stopTimers();
}

void MacConnection::connect(const std::string& address, uint32_t) {
  if (state_ == State::Connecting || state_ == State::Up)
    return;
  address_ = address;
  state_ = State::Connecting;
  closeAfterFlush_ = false;
  reader_ = ChunkReader();
  loginChannel_ = 0;
  if (!parseMacAddress(address, routerMac_)) {
    fail("bad router address");
    return;
  }
  clientPort_ = options_.randomPort();
  interfaces_.clear();
  for (NetInterface& i : options_.interfaces())
    if (!i.loopback && i.mac.size() == 6)
      interfaces_.push_back(std::move(i));
  if (interfaces_.empty()) {
    fail("Could not connect");
    return;
  }
  interfaceIndex_ = 0;
  limitedBroadcast_ = true;
  passes_ = 0;
  tryInterface();
}

void MacConnection::tryInterface() {
  stream_.reset();
  connectTimer_ = reactor_.addTimer(
      kMacConnectStepMs, [this] { onConnectTimer(); }, false);
  // A socket that cannot be made is passed over when the timer fires.
  if (options_.link->open(interfaces_[interfaceIndex_], receiveHook(), failureHook()))
    sendPacket(MacPacketType::Connect, 0, {});
}

void MacConnection::onConnectTimer() {
  connectTimer_ = 0;
  if (++interfaceIndex_ == interfaces_.size()) {
    interfaceIndex_ = 0;
    limitedBroadcast_ = !limitedBroadcast_;
    if (++passes_ >= kMacConnectPasses) {
      fail("Could not connect");
      return;
    }
  }
  tryInterface();
}

MacLink::Receive MacConnection::receiveHook() {
  return [this](const std::vector<Bytes>& datagrams) { onDatagrams(datagrams); };
}

MacLink::Failure MacConnection::failureHook() {
  return [this](int error) { fail(reasonForErrno(error)); };
}

void MacConnection::onDatagrams(const std::vector<Bytes>& datagrams) {
  Reference<MacConnection> self(this); // a receiver may drop the last other reference
  const MacAddress own = macOf(interfaces_[interfaceIndex_]);
  for (const Bytes& d : datagrams) {
    if (state_ != State::Connecting && state_ != State::Up)
      return;
    auto packet = parseMacPacket(d);
    // Packets for other clients or from other routers share the broadcast domain; each is
    // passed over alone so that it cannot hide ours behind it.
    if (!packet || packet->source != routerMac_ || packet->destination != own ||
        packet->destinationPort != clientPort_)
      continue;
    onPacket(*packet);
  }
}

void MacConnection::onPacket(const MacPacket& packet) {
  auto type = static_cast<MacPacketType>(packet.type);
  if (state_ == State::Connecting) {
    if (type == MacPacketType::Ack && packet.number == 0 && stream_.sendOffset() == 0)
      goUp();
    return;
  }
  switch (type) {
  case MacPacketType::Data:
    stream_.onData(packet.number, packet.payload);
    return;
  case MacPacketType::Ack:
    stream_.onAck(packet.number);
    return;
  case MacPacketType::Connect:
    return;
  }
  logf("unknown type=", unsigned(packet.type));
}

void MacConnection::goUp() {
  reactor_.removeTimer(std::exchange(connectTimer_, 0));
  stream_.reset();
  state_ = State::Up;
  notify(IConnectionEvent::Up, {});
  if (state_ == State::Up && !early_.empty()) {
    stream_.queue(early_);
    early_.clear();
  }
}

void MacConnection::sendPacket(MacPacketType type, uint32_t number, ByteSpan payload) {
  const NetInterface& i = interfaces_[interfaceIndex_];
  MacPacket p;
  p.type = static_cast<uint8_t>(type);
  p.source = macOf(i);
  p.destination = routerMac_;
  p.sourcePort = clientPort_;
  p.destinationPort = kMacRouterPort;
  p.number = number;
  p.payload = payload;
  uint32_t to = INADDR_BROADCAST;
  if (!limitedBroadcast_ && !i.ipv4.empty())
    to = i.ipv4.front().broadcast;
  options_.link->send(buildMacPacket(p), to);
}

void MacConnection::deliver(ByteSpan bytes) {
  reader_.feed(bytes, [this](uint8_t raw, uint8_t channel, ByteSpan payload) {
    for (auto& [ch, receiver] : receivers_) {
      if (ch != channel)
        continue;
      if (loginChannelAllowed(channel))
        receiver->receive(raw, payload.data(), payload.size());
      break;
    }
    return state_ == State::Up;
  });
}

// As on TCP: once a session has data on one login channel, the other one is dropped.
bool MacConnection::loginChannelAllowed(uint8_t channel) {
  bool login = std::find(std::begin(kLoginChannels), std::end(kLoginChannels), channel) !=
               std::end(kLoginChannels);
  if (!login || loginChannel_ == channel)
    return true;
  if (loginChannel_ != 0)
    return false;
  loginChannel_ = channel;
  return true;
}

void MacConnection::send(uint8_t channel, const uint8_t* data, size_t length) {
  if (closeAfterFlush_ || state_ == State::Closed || state_ == State::Idle)
    return;
  Bytes framed;
  appendChunks(framed, channel, ByteSpan(data, length));
  if (state_ == State::Connecting) {
    early_.insert(early_.end(), framed.begin(), framed.end());
    return;
  }
  stream_.queue(framed);
}

void MacConnection::close(CloseMode mode, const std::string& reason) {
  if (state_ == State::Closed)
    return;
  if (mode == CloseMode::AfterFlush && state_ == State::Up && !stream_.idle()) {
    closeAfterFlush_ = true;
    return;
  }
  fail(reason);
}

void MacConnection::fail(const std::string& reason) {
  if (state_ == State::Closed)
    return;
  Reference<MacConnection> self(this);
  state_ = State::Closed;
  reactor_.removeTimer(std::exchange(connectTimer_, 0));
  stream_.reset();
  early_.clear();
  options_.link->close();
  notify(IConnectionEvent::Closed, reason);
}

void MacConnection::notify(IConnectionEvent::State state, const std::string& reason) {
  Reference<Event> event = createConnectionEvent(state, reason);
  auto listeners = listeners_;
  for (auto& listener : listeners)
    listener->onEvent(*event);
}

void MacConnection::addReceiver(uint8_t channel, IChannelReceiver* receiver) {
  receivers_.emplace_back(channel, receiver);
}

void MacConnection::removeReceiver(uint8_t channel, IChannelReceiver* receiver) {
  std::erase(receivers_, std::make_pair(channel, receiver));
}

void MacConnection::addListener(EventListener* listener) {
  if (listener)
    listeners_.emplace_back(listener);
}

void MacConnection::removeListener(EventListener* listener) {
  std::erase_if(listeners_, [&](const Reference<EventListener>& l) { return l.get() == listener; });
}

nv::message MacConnection::describe() const {
  nv::message m;
  m.set(nv::string_id(1), address_);
  m.set(nv::u64_id(3), static_cast<uint64_t>(static_cast<int64_t>(options_.link->descriptor())));
  m.set(nv::bool_id(4), true);
  m.set(nv::raw_id(5), Bytes(routerMac_.begin(), routerMac_.end()));
  MacAddress own = interfaces_.empty() ? MacAddress{} : macOf(interfaces_[interfaceIndex_]);
  m.set(nv::raw_id(6), Bytes(own.begin(), own.end()));
  m.set(nv::u32_id(7), stream_.sendOffset());
  m.set(nv::u32_id(8), stream_.receiveOffset());
  m.set(nv::u32_id(9), clientPort_);
  m.set(nv::bool_id(10), limitedBroadcast_);
  return m;
}

std::vector<std::pair<std::string, std::string>> MacConnection::textDescription(bool release) {
  int fd = options_.link->descriptor();
  MacAddress own = interfaces_.empty() ? MacAddress{} : macOf(interfaces_[interfaceIndex_]);
  std::vector<std::pair<std::string, std::string>> out{
      {"macrfile", std::to_string(fd) + "," + std::to_string(stream_.sendOffset()) + "," +
                       std::to_string(stream_.receiveOffset()) + "," + std::to_string(clientPort_)},
      {"srcaddr", macString(own)}};
  if (!release || fd < 0)
    return out;
  logLine("MacConnection release socket");
  reactor_.removeTimer(std::exchange(connectTimer_, 0));
  stream_.reset();
  early_.clear();
  int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0)
    ::fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC);
  options_.link->release();
  state_ = State::Closed;
  return out;
}

bool MacConnection::adopt(const nv::message& description) {
  if (state_ == State::Connecting || state_ == State::Up)
    return false;
  Bytes router = description.get(nv::raw_id(5));
  Bytes own = description.get(nv::raw_id(6));
  uint64_t handle = description.get(nv::u64_id(3), ~0ull);
  if (!description.get(nv::bool_id(4)) || router.size() != 6 || own.size() != 6 ||
      handle > uint64_t(INT32_MAX))
    return false;
  auto all = options_.interfaces();
  auto it =
      std::find_if(all.begin(), all.end(), [&](const NetInterface& i) { return i.mac == own; });
  if (it == all.end())
    return false;
  if (!options_.link->adopt(static_cast<int>(handle), receiveHook(), failureHook()))
    return false;
  interfaces_ = {*it};
  interfaceIndex_ = 0;
  std::copy(router.begin(), router.end(), routerMac_.begin());
  address_ = description.get(nv::string_id(1));
  clientPort_ = static_cast<uint16_t>(description.get(nv::u32_id(9)));
  limitedBroadcast_ = description.get(nv::bool_id(10));
  stream_.reset(description.get(nv::u32_id(7)), description.get(nv::u32_id(8)));
  reader_ = ChunkReader();
  loginChannel_ = 0;
  closeAfterFlush_ = false;
  state_ = State::Up;
  return true;
}

} // namespace kestel
