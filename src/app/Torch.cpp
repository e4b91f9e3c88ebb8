#include "app/Torch.h"

#include "api/net/Events.h"
#include "api/wire/Vocabulary.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <cstdio>

namespace kestel {

namespace {

struct ProtocolName {
  const char* name;
  uint32_t number;
};
constexpr ProtocolName kProtocols[] = {{"icmp", 1},  {"igmp", 2},   {"tcp", 6},   {"udp", 17},
                                       {"gre", 47},  {"esp", 50},   {"ah", 51},   {"icmpv6", 58},
                                       {"ospf", 89}, {"vrrp", 112}, {"sctp", 132}};

std::optional<uint32_t> number(const std::string& text, uint32_t max) {
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > max)
    return std::nullopt;
  return value;
}

std::optional<uint32_t> protocolNumber(const std::string& text) {
  for (const ProtocolName& p : kProtocols)
    if (text == p.name)
      return p.number;
  return number(text, 255);
}

std::string protocolName(uint32_t protocol) {
  for (const ProtocolName& p : kProtocols)
    if (protocol == p.number)
      return p.name;
  return std::to_string(protocol);
}

// An IPv4 or IPv6 address, optionally with a prefix length.
bool addressOrPrefix(const std::string& text) {
  size_t slash = text.find('/');
  std::string address = text.substr(0, slash);
  unsigned char buffer[16];
  int family = address.find(':') != std::string::npos ? AF_INET6 : AF_INET;
  if (::inet_pton(family, address.c_str(), buffer) != 1)
    return false;
  return slash == std::string::npos ||
         number(text.substr(slash + 1), family == AF_INET ? 32 : 128).has_value();
}

} // namespace

Expected<nv::message> torchQuery(const TorchFilterText& filter) {
  nv::message query;
  auto fail = [](size_t field, const std::string& why) {
    return makeError(std::string(kTorchFilterFields[field]) + ": " + why);
  };
  const std::string& protocol = filter[0];
  if (!protocol.empty() && protocol != "any") {
    auto n = protocolNumber(protocol);
    if (!n)
      return fail(0, "not a protocol name or number 0-255");
    query.set(kTorchProtocol, *n);
  }
  const nv::string_id addresses[] = {kTorchSrcAddress, kTorchDstAddress};
  const nv::u32_id ports[] = {kTorchSrcPort, kTorchDstPort};
  for (size_t side = 0; side < 2; ++side) {
    const std::string& address = filter[1 + 2 * side];
    if (!address.empty()) {
      if (!addressOrPrefix(address))
        return fail(1 + 2 * side, "not an address or prefix");
      query.set(addresses[side], address);
    }
    const std::string& port = filter[2 + 2 * side];
    if (!port.empty()) {
      auto n = number(port, 65535);
      if (!n)
        return fail(2 + 2 * side, "not a port 0-65535");
      query.set(ports[side], *n);
    }
  }
  if (!filter[5].empty()) {
    auto n = number(filter[5], 4095);
    if (!n)
      return fail(5, "not a VLAN id 0-4095");
    query.set(kTorchVlan, *n);
  }
  if (!filter[6].empty())
    query.set(kTorchPort, filter[6]);
  return query;
}

std::vector<TorchFlow> torchFlows(const nv::message& reply) {
  std::vector<TorchFlow> flows;
  reply.forEach(STD_OBJS, [&](const nv::message& m) {
    if (flows.size() >= kTorchMaxFlows)
      return;
    TorchFlow f;
    f.protocol = m.get(kFlowProtocol);
    f.srcAddress = m.get(kFlowSrcAddress);
    f.srcPort = m.get(kFlowSrcPort);
    f.dstAddress = m.get(kFlowDstAddress);
    f.dstPort = m.get(kFlowDstPort);
    if (m.has(kFlowVlan))
      f.vlan = m.get(kFlowVlan);
    f.txBits = m.get(kFlowTxBits);
    f.rxBits = m.get(kFlowRxBits);
    f.txPackets = m.get(kFlowTxPackets);
    f.rxPackets = m.get(kFlowRxPackets);
    flows.push_back(std::move(f));
  });
  // Sums saturate: a router's nonsense must not reorder by wrap-around.
  auto load = [](const TorchFlow& f) {
    return f.txBits > UINT64_MAX - f.rxBits ? UINT64_MAX : f.txBits + f.rxBits;
  };
  std::stable_sort(flows.begin(), flows.end(),
                   [&](const TorchFlow& a, const TorchFlow& b) { return load(a) > load(b); });
  return flows;
}

std::string torchRate(uint64_t bits) {
  static const char* const units[] = {"bps", "kbps", "Mbps", "Gbps", "Tbps", "Pbps", "Ebps"};
  if (bits < 1000)
    return std::to_string(bits) + " bps";
  double value = double(bits);
  size_t unit = 0;
  while (value >= 999.95 && unit + 1 < std::size(units)) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

std::string torchCell(const TorchFlow& flow, size_t column) {
  switch (column) {
  case 0:
    return protocolName(flow.protocol);
  case 1:
    return flow.srcAddress;
  case 2:
    return flow.srcPort ? std::to_string(flow.srcPort) : std::string();
  case 3:
    return flow.dstAddress;
  case 4:
    return flow.dstPort ? std::to_string(flow.dstPort) : std::string();
  case 5:
    return flow.vlan ? std::to_string(*flow.vlan) : std::string();
  case 6:
    return torchRate(flow.txBits);
  case 7:
    return torchRate(flow.rxBits);
  case 8:
    return std::to_string(flow.txPackets);
  case 9:
    return std::to_string(flow.rxPackets);
  default:
    return {};
  }
}

class TorchMonitor::Link final : public EventListener, public IHandlerHooks {
public:
  explicit Link(TorchMonitor* owner) : owner_(owner), handler_(createHandler(this)) {}
  void detach() {
    owner_ = nullptr;
    handler_->cancel(this);
    handler_->detach();
  }
  IHandler& handler() { return *handler_; }
  void onEvent(Event& event) override {
    if (const nv::message* reply = messageOf(event); reply && owner_)
      owner_->onReply(*reply);
  }
  void onRequest(IHandler*, const nv::message&) override {}
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}

private:
  TorchMonitor* owner_;
  Reference<IHandler> handler_;
};

TorchMonitor::TorchMonitor(Reactor& reactor, std::function<void()> changed)
    : reactor_(reactor), changed_(std::move(changed)), link_(makeRef<Link>(this)) {}

TorchMonitor::~TorchMonitor() {
  reactor_.removeTimer(timer_);
  link_->detach();
}

bool TorchMonitor::start(const TorchFilterText& filter) {
  auto query = torchQuery(filter);
  if (!query) {
    error_ = query.error().text;
    return false;
  }
  stop();
  error_.clear();
  query_ = std::move(*query);
  running_ = true;
  ask();
  return true;
}

void TorchMonitor::stop() {
  running_ = false;
  reactor_.removeTimer(std::exchange(timer_, 0));
  if (waiting_)
    link_->handler().cancel(link_.get());
  waiting_ = false;
}

void TorchMonitor::ask() {
  waiting_ = true;
  link_->handler().request(kTorchQuery, Path(kTorchHandler), query_, link_.get(), kReplyTimeoutMs);
}

void TorchMonitor::onReply(const nv::message& reply) {
  waiting_ = false;
  if (!running_)
    return;
  unsigned int code = 0;
  std::string text;
  if (isError(reply, &code, &text)) {
    error_ = "torch failed (" + std::to_string(code) + ")" + (text.empty() ? "" : ": " + text);
    running_ = false;
  } else {
    error_.clear();
    flows_ = torchFlows(reply);
    timer_ = reactor_.addTimer(
        kPeriodMs,
        [this] {
          timer_ = 0;
          ask();
        },
        false);
  }
  if (changed_)
    changed_();
}

} // namespace kestel
