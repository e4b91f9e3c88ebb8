#include "api/net/Interfaces.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace kestel {

namespace {

NetInterface& entryFor(std::vector<NetInterface>& list, const ifaddrs& i) {
  auto it = std::find_if(list.begin(), list.end(),
                         [&](const NetInterface& n) { return n.name == i.ifa_name; });
  if (it != list.end())
    return *it;
  NetInterface n;
  n.name = i.ifa_name;
  n.index = ::if_nametoindex(i.ifa_name);
  n.loopback = (i.ifa_flags & IFF_LOOPBACK) != 0;
  list.push_back(std::move(n));
  return list.back();
}

} // namespace

std::vector<NetInterface> listInterfaces() {
  std::vector<NetInterface> out;
  ifaddrs* all = nullptr;
  if (::getifaddrs(&all) != 0)
    return out;
  for (ifaddrs* i = all; i; i = i->ifa_next) {
    if (!i->ifa_addr || !(i->ifa_flags & IFF_UP))
      continue;
    if (i->ifa_addr->sa_family == AF_PACKET) {
      const auto* ll = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
      if (ll->sll_halen == 6)
        entryFor(out, *i).mac.assign(ll->sll_addr, ll->sll_addr + 6);
    } else if (i->ifa_addr->sa_family == AF_INET && i->ifa_netmask) {
      uint32_t address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
      uint32_t mask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr;
      entryFor(out, *i).ipv4.push_back({address, address | ~mask});
    }
  }
  ::freeifaddrs(all);
  return out;
}

std::optional<NetInterface> interfaceWithAddress(const std::vector<NetInterface>& interfaces,
                                                 const std::string& text) {
  in_addr wanted{};
  if (::inet_pton(AF_INET, text.c_str(), &wanted) != 1)
    return std::nullopt;
  for (const NetInterface& n : interfaces)
    for (const InterfaceAddress& a : n.ipv4)
      if (a.address == wanted.s_addr)
        return n;
  return std::nullopt;
}

} // namespace kestel
