#include "sim/Torch.h"

#include "api/net/TorchHandler.h"
#include "api/wire/Vocabulary.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstdlib>
#include <string>

namespace kestel::sim {

namespace {

const char* const kInterfaces[] = {"ether1", "ether2", "ether3", "bridge"};

uint64_t mix(uint64_t a, uint64_t b) {
  uint64_t x = a * 0x9E3779B97F4A7C15ull ^ (b + 0xD1B54A32D192ED03ull);
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  return x ^ (x >> 29);
}

struct Flow {
  uint32_t protocol;
  std::string src, dst;
  uint32_t srcPort, dstPort;
  std::optional<uint32_t> vlan;
  const char* port;
};

Flow flow(unsigned i) {
  static const uint32_t protocols[] = {6, 6, 17, 6, 1, 17};
  Flow f;
  f.protocol = protocols[i % 6];
  f.src = "198.18." + std::to_string(i % 4) + "." + std::to_string(10 + i);
  f.dst = i % 5 == 0 ? "2001:db8::" + std::to_string(i) : "198.19.0." + std::to_string(1 + i % 7);
  if (i % 5 == 0)
    f.src = "2001:db8:1::" + std::to_string(i);
  bool ports = f.protocol != 1;
  f.srcPort = ports ? 40000 + i * 37 : 0;
  static const uint32_t services[] = {443, 80, 53, 22, 8291, 123};
  f.dstPort = ports ? services[i % 6] : 0;
  if (i % 3 == 0)
    f.vlan = 10 * (1 + i % 4);
  f.port = kInterfaces[i % 4];
  return f;
}

// Whether `address` lies in `filter` (an address or a prefix); both as the query spells them.
bool matches(const std::string& address, const std::string& filter) {
  size_t slash = filter.find('/');
  std::string base = filter.substr(0, slash);
  int family = base.find(':') != std::string::npos ? AF_INET6 : AF_INET;
  if ((address.find(':') != std::string::npos) != (family == AF_INET6))
    return false;
  std::array<uint8_t, 16> a{}, b{};
  if (::inet_pton(family, address.c_str(), a.data()) != 1 ||
      ::inet_pton(family, base.c_str(), b.data()) != 1)
    return false;
  int bits = family == AF_INET ? 32 : 128;
  if (slash != std::string::npos)
    bits = std::min(bits, std::atoi(filter.c_str() + slash + 1));
  for (int i = 0; i < bits; ++i) {
    uint8_t mask = uint8_t(0x80 >> (i % 8));
    if ((a[size_t(i / 8)] & mask) != (b[size_t(i / 8)] & mask))
      return false;
  }
  return true;
}

} // namespace

void TorchSource::install(RouterLogin& login) {
  login.addHandler(kTorchHandler, [this](const RouterRequest& r) { return handle(r); });
}

std::optional<nv::message> TorchSource::handle(const RouterRequest& request) const {
  if (request.message.get(SYS_CMD) != kTorchQuery) {
    nv::message error;
    error.set(SYS_STATUS, STATUS_ERROR);
    error.set(SYS_ERRNO, ERROR_NOTIMP);
    return error;
  }
  return answer(request.message);
}

nv::message TorchSource::answer(const nv::message& q) const {
  uint64_t second = uint64_t(reactor_.now() / 1000);
  std::vector<nv::message> rows;
  for (unsigned i = 0; i < kFlows; ++i) {
    if ((second + i * 7) % 40 >= 30) // each flow rests ten seconds in forty
      continue;
    Flow f = flow(i);
    if ((q.has(kTorchProtocol) && q.get(kTorchProtocol) != f.protocol) ||
        (q.has(kTorchSrcAddress) && !matches(f.src, q.get(kTorchSrcAddress))) ||
        (q.has(kTorchDstAddress) && !matches(f.dst, q.get(kTorchDstAddress))) ||
        (q.has(kTorchSrcPort) && q.get(kTorchSrcPort) != f.srcPort) ||
        (q.has(kTorchDstPort) && q.get(kTorchDstPort) != f.dstPort) ||
        (q.has(kTorchVlan) && (!f.vlan || q.get(kTorchVlan) != *f.vlan)) ||
        (q.has(kTorchPort) && q.get(kTorchPort) != f.port))
      continue;
    uint64_t r = mix(i, second);
    uint64_t scale = uint64_t(1) << (8 + i % 24); // from a trickle to a few gigabits
    nv::message m;
    m.set(kFlowProtocol, f.protocol);
    m.set(kFlowSrcAddress, f.src);
    m.set(kFlowSrcPort, f.srcPort);
    m.set(kFlowDstAddress, f.dst);
    m.set(kFlowDstPort, f.dstPort);
    if (f.vlan)
      m.set(kFlowVlan, *f.vlan);
    uint64_t tx = scale + r % scale, rx = (scale + (r >> 20) % scale) / 4;
    m.set(kFlowTxBits, tx);
    m.set(kFlowRxBits, rx);
    m.set(kFlowTxPackets, uint32_t(tx / 8 / 700 + 1));
    m.set(kFlowRxPackets, uint32_t(rx / 8 / 120 + 1));
    rows.push_back(std::move(m));
  }
  nv::message reply;
  reply.set(STD_OBJS, rows);
  return reply;
}

} // namespace kestel::sim
