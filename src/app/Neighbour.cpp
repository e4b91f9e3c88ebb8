#include "app/Neighbour.h"

#include "api/wire/Vocabulary.h"
#include "miw/ConvertorAddress.h"
#include "miw/ConvertorTime.h"

#include <cstring>

namespace kestel {

namespace {

std::string text(const std::optional<Bytes>& value) {
  return value ? std::string(value->begin(), value->end()) : std::string();
}

bool isZero(const nv::addr6& a) {
  for (uint8_t b : a)
    if (b != 0)
      return false;
  return true;
}

uint32_t mappedIpv4(const nv::addr6& a) {
  // ipv4Text wants the first octet in the lowest byte.
  return uint32_t(a[12]) | uint32_t(a[13]) << 8 | uint32_t(a[14]) << 16 | uint32_t(a[15]) << 24;
}

std::string addressText(const Neighbour& n) {
  if (n.isIpv4())
    return ipv4Text(mappedIpv4(n.address));
  return ipv6Text(n.address, Ipv4InIpv6::No);
}

} // namespace

std::optional<Neighbour> neighbourFromAnswer(const DiscoveryPacket& answer,
                                             const sockaddr_storage& sender) {
  const auto& mac = answer.field(kDiscoveryMac);
  if (!mac || mac->size() != 6)
    return std::nullopt;
  Neighbour n;
  if (sender.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&sender);
    n.address[10] = n.address[11] = 0xFF;
    std::memcpy(n.address.data() + 12, &in->sin_addr, 4);
    n.type = 0;
  } else if (sender.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&sender);
    std::memcpy(n.address.data(), &in6->sin6_addr, 16);
    n.interfaceIndex = in6->sin6_scope_id;
    n.type = 1;
  } else {
    return std::nullopt;
  }
  n.mac = *mac;
  n.identity = text(answer.field(kDiscoveryIdentity));
  n.version = text(answer.field(kDiscoveryVersion));
  n.board = text(answer.field(kDiscoveryBoard));
  if (const auto& up = answer.field(kDiscoveryUptime); up && up->size() == 4) {
    ByteReader r(*up);
    uint32_t seconds = 0;
    if (r.u32le(seconds))
      n.uptime = seconds;
  }
  n.kavo = answer.field(kDiscoveryKavo).has_value();
  return n;
}

nv::message neighbourRecord(const Neighbour& n) {
  using namespace neighbour_key;
  nv::message m;
  m.set(STD_ID, n.id);
  m.set(kMac, n.mac);
  m.set(kAddress, n.address);
  m.set(kInterface, n.interfaceIndex);
  m.set(kIdentity, n.identity);
  m.set(kVersion, n.version);
  m.set(kBoard, n.board);
  if (n.uptime)
    m.set(kUptime, *n.uptime);
  m.set(kKavo, n.kavo);
  m.set(kType, n.type);
  return m;
}

const std::vector<std::string>& neighbourColumns() {
  static const std::vector<std::string> columns{"MAC Address", "IP Address", "Identity",
                                                "Version",     "Board",      "Uptime",
                                                "Interface",   "Kavo",       "Type"};
  return columns;
}

std::vector<std::string> neighbourColumnTexts(const Neighbour& n) {
  return {macText(n.mac, MacForm::Full),
          addressText(n),
          n.identity,
          n.version,
          n.board,
          n.uptime ? intervalText(*n.uptime, 1) : std::string(),
          std::to_string(n.interfaceIndex),
          n.kavo ? "yes" : "no",
          n.isIpv4() ? "IPv4 only" : "IPv6 only"};
}

std::string neighbourConnectText(const Neighbour& n) {
  if (n.kavo) {
    // A URL needs an IPv6 address in brackets; a bare one would not open.
    std::string host = n.isIpv4() ? addressText(n) : "[" + addressText(n) + "]";
    return "http://" + host + "/";
  }
  if (isZero(n.address) || (n.isIpv4() && mappedIpv4(n.address) == 0))
    return macText(n.mac, MacForm::Full);
  if (n.isIpv4())
    return addressText(n);
  return "[" + addressText(n) + "%" + std::to_string(n.interfaceIndex) + "]";
}

} // namespace kestel
