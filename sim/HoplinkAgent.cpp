#include "sim/HoplinkAgent.h"

#include "api/net/DiscoveryPacket.h"
#include "api/net/Interfaces.h"
#include "api/net/LoginHandler.h"
#include "api/net/MacConnection.h"
#include "api/net/SecureSession.h"
#include "api/wire/Vocabulary.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kestel::sim {

namespace {

const std::vector<uint32_t> kAttachHandler{127, 2};
constexpr uint32_t kAttachCommand = 9;
constexpr uint32_t kConnectCommand = 2001;
constexpr nv::raw_id kTargetMac{4};
constexpr nv::bool_id kSecure{6};
constexpr nv::string_id kLogin{7};
constexpr nv::string_id kPassword{8};
constexpr nv::bool_id kEnabled{1};
// The return path of the agent's own login request to a target.
constexpr uint32_t kAgentSelf = 0x7FFFFFFF;
const std::vector<uint32_t> kNeighbourHandler{127, 3};
constexpr uint32_t kNeighbourStart = 1;
constexpr uint32_t kNeighbourListId = 1;
constexpr size_t kMaxNeighbours = 1024;
constexpr size_t kReadsPerSignal = 64;

nv::message replyTo(const nv::message& request, nv::message reply) {
  reply.set(SYS_TO, request.get(SYS_FROM));
  reply.set(SYS_FROM, request.get(SYS_TO));
  reply.set(SYS_TYPE, TYPE_REPLY);
  if (!reply.has(SYS_STATUS))
    reply.set(SYS_STATUS, STATUS_OK);
  if (request.has(SYS_REQID))
    reply.set(SYS_REQID, request.get(SYS_REQID));
  return reply;
}

nv::message errorReply(const nv::message& request, uint32_t code) {
  nv::message m;
  m.set(SYS_STATUS, STATUS_ERROR);
  m.set(SYS_ERRNO, code);
  return replyTo(request, m);
}

} // namespace

// One router reached for a client: its MAC-layer connection and session, and the client's
// session that its messages go back to.
class HoplinkAgent::Target final : public EventListener {
public:
  Target(HoplinkAgent& owner, uint32_t id, nv::message request, OverlaySend client)
      : owner_(owner), id_(id), request_(std::move(request)), client_(std::move(client)) {}

  void start(const std::string& interface) {
    MacConnectionOptions o;
    o.interfaces = [interface] {
      std::vector<NetInterface> mine;
      for (NetInterface& i : listInterfaces())
        if (i.name == interface)
          mine.push_back(std::move(i));
      return mine;
    };
    connection_ = createMacConnection(owner_.reactor_, std::move(o));
    connection_->addListener(this);
    Bytes mac = request_.get(kTargetMac);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    connection_->connect(text, 0);
  }

  void stop() {
    if (session_)
      session_->stop();
    if (connection_) {
      connection_->removeListener(this);
      connection_->close(CloseMode::Now);
    }
  }

  // A client's message for the target: [2, id, rest...] goes on as [rest...].
  void forward(nv::message message) {
    std::vector<uint32_t> to = message.get(SYS_TO);
    message.set(SYS_TO, std::vector<uint32_t>(to.begin() + 2, to.end()));
    if (session_ && ready_)
      session_->post(message);
  }

  void onEvent(Event& event) override {
    if (auto* c = static_cast<IConnectionEvent*>(event.cast(kConnectionEventInterface))) {
      if (c->state() == IConnectionEvent::Up)
        return login();
      return end(ERROR_FAILED);
    }
    if (event.cast(kLoginResultEventInterface))
      end(ERROR_NOTALLOWED);
  }

private:
  void login() {
    SessionHooks hooks{[this](const nv::message& m) { fromTarget(m); }, [this] { probe(); }};
    session_ = makeRef<SecureSession>(owner_.reactor_, *connection_, hooks);
    session_->start(request_.get(kLogin), request_.get(kPassword), this);
    nv::message ask;
    ask.set(SYS_TO, kLoginHandler);
    ask.set(SYS_FROM, std::vector<uint32_t>{kAgentSelf});
    ask.set(SYS_CMD, kLoginCommand);
    ask.set(SYS_REPLYEXP, true);
    ask.set(SYS_REQID, 1u);
    session_->post(ask);
  }

  void probe() {
    nv::message noop;
    noop.set(SYS_TO, std::vector<uint32_t>{1});
    noop.set(SYS_FROM, std::vector<uint32_t>{kAgentSelf});
    noop.set(SYS_CMD, CMD_NOOP);
    session_->post(noop);
  }

  void fromTarget(const nv::message& m) {
    if (m.get(SYS_TO) == std::vector<uint32_t>{kAgentSelf}) {
      if (ready_ || m.get(SYS_REQID) != 1u)
        return;
      if (isError(m))
        return end(ERROR_NOTALLOWED);
      ready_ = true;
      nv::message ok;
      ok.set(STD_ID, id_);
      ok.set(kSecure, true);
      if (!client_(replyTo(request_, ok)))
        owner_.drop(id_);
      return;
    }
    nv::message back = m;
    std::vector<uint32_t> from{2, id_};
    for (uint32_t hop : m.get(SYS_FROM))
      from.push_back(hop);
    back.set(SYS_FROM, from);
    if (!client_(back))
      owner_.drop(id_);
  }

  // Before the target was reached the client gets the error; afterwards it is told the
  // target went away.
  void end(uint32_t code) {
    if (!ready_) {
      client_(errorReply(request_, code));
    } else {
      nv::message gone;
      gone.set(SYS_FROM, std::vector<uint32_t>{2, id_});
      gone.set(SYS_CMD, CMD_DISCONNECTED);
      client_(gone);
    }
    owner_.drop(id_);
  }

  HoplinkAgent& owner_;
  uint32_t id_;
  nv::message request_;
  OverlaySend client_;
  Reference<IConnection> connection_;
  Reference<SecureSession> session_;
  bool ready_ = false;
};

// The routers that answer discovery on the agent's interface: a socket on the discovery port
// of that interface only, a request at each ask(), the answers kept by MAC address.
class HoplinkAgent::NeighbourScan {
public:
  NeighbourScan(Reactor& reactor, std::string interface)
      : reactor_(reactor), interface_(std::move(interface)) {}
  ~NeighbourScan() {
    if (fd_ >= 0) {
      reactor_.unwatch(fd_);
      ::close(fd_);
    }
  }

  void ask() {
    if (fd_ < 0 && !open())
      return;
    sockaddr_in all{};
    all.sin_family = AF_INET;
    all.sin_port = htons(kDiscoveryPort);
    all.sin_addr.s_addr = INADDR_BROADCAST;
    Bytes request = discoveryRequest();
    ::sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&all), sizeof all);
  }

  std::vector<nv::message> records() const {
    std::vector<nv::message> out;
    for (const auto& [mac, record] : heard_)
      out.push_back(record);
    return out;
  }

private:
  bool open() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kDiscoveryPort);
    if (fd_ < 0 || ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, interface_.c_str(),
                     socklen_t(interface_.size())) != 0 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
      if (fd_ >= 0)
        ::close(fd_);
      fd_ = -1;
      return false;
    }
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", interface_.c_str());
    if (::ioctl(fd_, SIOCGIFMTU, &request) == 0)
      mtu_ = uint32_t(request.ifr_mtu);
    reactor_.watch(fd_, IoRead, [this](unsigned int) { read(); });
    return true;
  }

  void read() {
    for (size_t i = 0; i < kReadsPerSignal; ++i) {
      Bytes d(kDiscoveryMaxDatagram);
      ssize_t n = ::recv(fd_, d.data(), d.size(), 0);
      if (n < 0)
        return;
      d.resize(size_t(n));
      auto packet = parseDiscoveryPacket(d);
      if (!packet || !packet->field(kDiscoveryMac) || packet->field(kDiscoveryMac)->size() != 6)
        continue;
      const Bytes& mac = *packet->field(kDiscoveryMac);
      if (heard_.size() >= kMaxNeighbours && !heard_.count(mac))
        continue;
      auto text = [&](DiscoveryField f) {
        const auto& v = packet->field(f);
        return v ? std::string(v->begin(), v->end()) : std::string();
      };
      nv::message r;
      r.set(nv::raw_id(1), mac);
      r.set(nv::u32_id(2), 1u);
      r.set(nv::u32_id(3), 1u);
      r.set(nv::string_id(4), interface_);
      r.set(nv::u32_id(5), mtu_);
      r.set(nv::string_id(6), text(kDiscoveryIdentity));
      r.set(nv::string_id(7), text(kDiscoveryVersion));
      r.set(nv::string_id(8), text(kDiscoveryBoard));
      r.set(nv::bool_id(9), true);
      heard_[mac] = r;
    }
  }

  Reactor& reactor_;
  std::string interface_;
  int fd_ = -1;
  uint32_t mtu_ = 1500;
  std::map<Bytes, nv::message> heard_;
};

int applyHoplinkOption(HoplinkOptions& options, int argc, char** argv, int i) {
  std::string arg = argv[i];
  if (arg == "--hoplink-disabled" || arg == "--hoplink-old") {
    options.attach =
        arg == "--hoplink-old" ? HoplinkOptions::Attach::Old : HoplinkOptions::Attach::Disabled;
    return 1;
  }
  if (arg != "--hoplink")
    return 0;
  if (i + 1 >= argc)
    return -1;
  options.interface = argv[i + 1];
  return 2;
}

const char* hoplinkOptionsUsage() {
  return "  Hoplink agent (off by default): --hoplink <interface to reach routers by MAC>\n"
         "         --hoplink-disabled --hoplink-old\n";
}

HoplinkAgent::HoplinkAgent(Reactor& reactor, HoplinkOptions options)
    : reactor_(reactor), options_(std::move(options)) {}

HoplinkAgent::~HoplinkAgent() {
  for (auto& [id, target] : targets_)
    target->stop();
}

void HoplinkAgent::install(RouterLogin& login) {
  login.addHandler(kAttachHandler, [this](const RouterRequest& r) { return attach(r); });
  login.addHandler(kNeighbourHandler, [this](const RouterRequest& r) { return neighbours(r); });
  login.setOverlayHandler(
      [this](const RouterRequest& r, OverlaySend send) { onOverlay(r, std::move(send)); });
}

std::optional<nv::message> HoplinkAgent::attach(const RouterRequest& request) {
  uint32_t cmd = request.message.get(SYS_CMD);
  nv::message reply;
  if (cmd == CMD_GET) {
    reply.set(kEnabled, options_.attach != HoplinkOptions::Attach::Disabled);
    return reply;
  }
  if (cmd != kAttachCommand || options_.attach != HoplinkOptions::Attach::On) {
    reply.set(SYS_STATUS, STATUS_ERROR);
    reply.set(SYS_ERRNO, cmd != kAttachCommand                            ? ERROR_NOTIMP
                         : options_.attach == HoplinkOptions::Attach::Old ? ERROR_NOTALLOWED
                                                                          : ERROR_FAILED);
  }
  return reply;
}

std::optional<nv::message> HoplinkAgent::neighbours(const RouterRequest& request) {
  uint32_t cmd = request.message.get(SYS_CMD);
  nv::message reply;
  if (!scan_)
    scan_ = std::make_unique<NeighbourScan>(reactor_, options_.interface);
  if (cmd == kNeighbourStart) {
    scan_->ask();
    reply.set(STD_ID, kNeighbourListId);
    return reply;
  }
  if (cmd != CMD_GETALL || request.message.get(STD_ID) != kNeighbourListId) {
    reply.set(SYS_STATUS, STATUS_ERROR);
    reply.set(SYS_ERRNO, cmd != CMD_GETALL ? ERROR_NOTIMP : ERROR_UNKNOWNID);
    return reply;
  }
  reply.set(STD_OBJS, scan_->records());
  scan_->ask(); // the next fetch sees who answered since
  return reply;
}

void HoplinkAgent::onOverlay(const RouterRequest& request, OverlaySend send) {
  std::vector<uint32_t> to = request.message.get(SYS_TO);
  if (to.size() == 1 && request.message.get(SYS_CMD) == kConnectCommand)
    return connectTarget(request.message, std::move(send));
  if (to.size() >= 2)
    return relay(request.message, std::move(send));
  if (request.message.get(SYS_REPLYEXP))
    send(errorReply(request.message, ERROR_NOTIMP));
}

void HoplinkAgent::connectTarget(const nv::message& request, OverlaySend send) {
  if (request.get(kTargetMac).size() != 6 || !request.get(kSecure)) {
    send(errorReply(request, ERROR_FAILED));
    return;
  }
  uint32_t id = nextId_++;
  auto target = makeRef<Target>(*this, id, request, std::move(send));
  targets_[id] = target;
  target->start(options_.interface);
}

void HoplinkAgent::relay(const nv::message& request, OverlaySend send) {
  auto it = targets_.find(request.get(SYS_TO)[1]);
  if (it == targets_.end()) {
    if (request.get(SYS_REPLYEXP))
      send(errorReply(request, ERROR_BRKPATH));
    return;
  }
  it->second->forward(request);
}

void HoplinkAgent::drop(uint32_t id) {
  auto it = targets_.find(id);
  if (it == targets_.end())
    return;
  Reference<Target> keep = it->second; // the caller may be the target itself
  targets_.erase(it);
  keep->stop();
  // Let the current callback finish before the target goes.
  reactor_.addTimer(
      0, [keep] {}, false);
}

} // namespace kestel::sim
