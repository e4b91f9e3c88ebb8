#include "sim/MenuSamples.h"

#include "api/wire/Vocabulary.h"
#include "sim/SampleAddresses.h"

#include <ctime>

namespace kestel::sim {
namespace {

using namespace sample;
using nv::addr6_array_id;
using nv::addr6_id;
using nv::bool_id;
using nv::message_id;
using nv::raw_id;
using nv::string_array_id;
using nv::string_id;
using nv::u32_array_id;
using nv::u32_id;
using nv::u64_id;

constexpr uint32_t kUnlimited = 0xFFFFFFFF;
constexpr uint32_t kNoMaster = 0xFFFFFFFF;
// Sample timestamps count back from this moment (2026-12-01 00:00 UTC).
constexpr uint32_t kEpoch = 1796083200;

MemberRule rule(u32_id id, uint32_t min, uint32_t max, const char* title) {
  return {id.id(), min, max, title};
}
MemberRule rule(string_id id, uint32_t min, uint32_t max, const char* title) {
  return {id.id(), min, max, title};
}

// ---- Interfaces (20, 1) and its inheriting maps: ethernet, VLAN, bridge
namespace iface {
constexpr string_id name{0x1}, comment{0x4};
constexpr u32_id type{0x2}, mtu{0x3}, l2mtu{0x4}, master{0x7}, lastup{0x10}, slave{0x12};
constexpr raw_id mac{0x5};
constexpr bool_id running{0x6}, disabled{0x1}, autoneg{0x21};
constexpr u64_id txrate{0x8}, rxrate{0x9}, txbytes{0xA}, txpackets{0xB}, linkdowns{0xE}, drops{0xF};
constexpr u32_id speed{0x20}, arp{0x24};
constexpr u32_id vid{0x30}, vlanIface{0x31};
constexpr u32_array_id ports{0x40};
constexpr u32_id prio{0x42}, ageing{0x43};
enum Type : uint32_t { Ether = 0, Vlan = 1, Bridge = 2, Wlan = 3 };
} // namespace iface

nv::message interfaceRow(uint32_t n) {
  nv::message o;
  o.set(iface::name, "ether" + std::to_string(n + 1));
  o.set(iface::type, uint32_t(iface::Ether));
  o.set(iface::mtu, 1500u);
  o.set(iface::l2mtu, 1598u);
  o.set(iface::mac, mac(uint8_t(n + 1)));
  o.set(iface::running, n % 4 != 3);
  o.set(iface::disabled, false);
  o.set(iface::master, kNoMaster);
  o.set(iface::txbytes, uint64_t(n + 1) * 7340032);
  o.set(iface::txpackets, uint64_t(n + 1) * 5120);
  o.set(iface::txrate, uint64_t(n % 4 != 3) * 2000000 * (n + 1));
  o.set(iface::rxrate, uint64_t(n % 4 != 3) * 3500000 * (n + 1));
  o.set(iface::linkdowns, uint64_t(n % 3));
  o.set(iface::drops, 0ull);
  o.set(iface::lastup, kEpoch - 3600 * (n + 1));
  o.set(iface::speed, 1000000000u);
  o.set(iface::autoneg, true);
  o.set(iface::arp, 0u);
  return o;
}

MenuDefinition interfaces() {
  MenuDefinition d;
  d.name = "interfaces";
  d.shape.title = "Interfaces";
  d.shape.path = {20, 1};
  d.shape.addable = false; // "nonaddable"
  d.shape.rules = {rule(iface::name, 1, 64, "Name"), rule(iface::mtu, 68, 65535, "MTU"),
                   rule(iface::vid, 1, 4094, "VLAN ID")};
  d.shape.defaults.set(iface::mtu, 1500u);
  d.shape.uniqueField = iface::name.id();
  d.row = interfaceRow;
  d.seed = [](MenuStore& s) {
    for (uint32_t n = 0; n < 5; ++n)
      s.append(interfaceRow(n));
    nv::message vlan = interfaceRow(5);
    vlan.set(iface::name, "vlan10");
    vlan.set(iface::type, uint32_t(iface::Vlan));
    vlan.set(iface::vid, 10u);
    vlan.set(iface::vlanIface, 2u); // on ether2
    vlan.set(iface::comment, "guests");
    s.append(vlan);
    nv::message bridge = interfaceRow(6);
    bridge.set(iface::name, "bridge1");
    bridge.set(iface::type, uint32_t(iface::Bridge));
    bridge.set(iface::ports, std::vector<uint32_t>{3, 4});
    bridge.set(iface::prio, 0x8000u);
    bridge.set(iface::ageing, 300u);
    s.append(bridge);
    // ether3 and ether4 are the bridge's ports.
    for (uint32_t port : {3u, 4u}) {
      nv::message slaveOf;
      slaveOf.set(iface::master, 7u);
      slaveOf.set(iface::slave, 1u);
      s.change(port, slaveOf);
    }
  };
  return d;
}

// ---- IP addresses (21, 1)
namespace addr {
constexpr u32_id address{0x1}, interface { 0x3 }, netmask{0x5}, broadcast{0x6};
constexpr bool_id disabled{0x7};
constexpr string_id comment{0x4};
} // namespace addr

nv::message addressRow(uint32_t n) {
  nv::message o;
  o.set(addr::address, benchmarkHost(n));
  o.set(addr::interface, 1 + n % 5);
  o.set(addr::netmask, netmask(24));
  o.set(addr::broadcast, benchmarkHost(n) | 0xFF000000);
  o.set(addr::disabled, false);
  return o;
}

MenuDefinition addresses() {
  MenuDefinition d;
  d.name = "addresses";
  d.shape.title = "Address List";
  d.shape.path = {21, 1};
  d.row = addressRow;
  d.seed = [](MenuStore& s) {
    struct Sample {
      uint32_t address, bits, interface;
      const char* comment;
    } samples[] = {{ipv4(192, 0, 2, 1), 24, 1, "uplink"},
                   {ipv4(198, 18, 0, 1), 24, 2, "lab"},
                   {ipv4(198, 18, 10, 1), 24, 6, "guests"},
                   {ipv4(198, 19, 0, 1), 16, 7, ""}};
    for (const Sample& a : samples) {
      nv::message o;
      o.set(addr::address, a.address);
      o.set(addr::interface, a.interface);
      o.set(addr::netmask, netmask(a.bits));
      o.set(addr::broadcast, a.address | ~netmask(a.bits));
      o.set(addr::disabled, false);
      if (*a.comment)
        o.set(addr::comment, a.comment);
      s.append(o);
    }
  };
  return d;
}

// ---- Routes (21, 2)
namespace route {
constexpr u32_id dst{0x1}, gwaddr{0x3}, distance{0x6}, scope{0x7}, bgpas{0x9};
constexpr string_id gwiface{0x5};
constexpr u32_array_id ecmp{0x8};
} // namespace route

nv::message routeRow(uint32_t n) {
  nv::message o;
  o.set(route::dst, ipv4(198, 18 + (n >> 16) % 2, n >> 8 & 0xFF, n & 0xFF));
  o.set(route::gwaddr, documentationHost(n));
  o.set(route::distance, 1 + n % 20);
  o.set(route::scope, 30u);
  return o;
}

MenuDefinition routes() {
  MenuDefinition d;
  d.name = "routes";
  d.shape.title = "Routes";
  d.shape.path = {21, 2};
  d.shape.rules = {rule(route::distance, 0, 255, "Distance")};
  d.shape.defaults.set(route::distance, 1u);
  d.shape.defaults.set(route::scope, 30u);
  d.row = routeRow;
  d.seed = [](MenuStore& s) {
    nv::message def;
    def.set(route::dst, 0u);
    def.set(route::gwaddr, ipv4(192, 0, 2, 254));
    def.set(route::distance, 1u);
    def.set(route::scope, 30u);
    s.append(def);
    nv::message lab;
    lab.set(route::dst, ipv4(198, 18, 0, 0));
    lab.set(route::gwiface, "ether2");
    lab.set(route::distance, 0u);
    lab.set(route::scope, 10u);
    s.append(lab);
    nv::message multi;
    multi.set(route::dst, ipv4(198, 19, 128, 0));
    multi.set(route::gwaddr, ipv4(198, 18, 0, 2));
    multi.set(route::ecmp, std::vector<uint32_t>{ipv4(198, 18, 0, 2), ipv4(198, 18, 0, 3)});
    multi.set(route::distance, 10u);
    multi.set(route::scope, 30u);
    multi.set(route::bgpas, 64500u); // a documentation AS number
    s.append(multi);
  };
  return d;
}

// ---- DHCP leases (21, 3)
namespace lease {
constexpr u32_id address{0x1}, expires{0x5}, lastseen{0x6}, server{0x7}, status{0xA};
constexpr raw_id mac{0x2};
constexpr string_id hostname{0x4};
constexpr string_array_id options{0x8};
} // namespace lease

nv::message leaseRow(uint32_t n) {
  static const char* hosts[] = {"laptop", "printer", "phone", "tv", "camera", "nas"};
  nv::message o;
  o.set(lease::address, benchmarkHost(n + 256));
  o.set(lease::mac, mac(uint8_t(0x80 + n % 128)));
  o.set(lease::hostname, std::string(hosts[n % 6]) + "-" + std::to_string(n + 1));
  o.set(lease::expires, 600 + n * 37 % 3000);
  o.set(lease::lastseen, n * 13 % 600);
  o.set(lease::server, 1u);
  o.set(lease::status, n % 5 == 4 ? 0u : 1u);
  return o;
}

MenuDefinition leases() {
  MenuDefinition d;
  d.name = "leases";
  d.shape.title = "Leases";
  d.shape.path = {21, 3};
  d.shape.ordered = false;
  d.row = leaseRow;
  d.seed = [](MenuStore& s) {
    for (uint32_t n = 0; n < 6; ++n) {
      nv::message o = leaseRow(n);
      o.set(lease::address, ipv4(192, 0, 2, 100 + n));
      if (n == 0)
        o.set(lease::options, std::vector<std::string>{"router", "dns"});
      s.append(o);
    }
  };
  return d;
}

// ---- Firewall filter rules (21, 4): ordered and movable
namespace rule4 {
constexpr u32_id chain{0x1}, action{0x2}, dst{0x4}, protocol{0x6};
constexpr u32_id bytes{0xE}, packets{0x10}, port{0x12};
constexpr string_id logprefix{0x15}, comment{0x1E};
constexpr u32_array_id srclist{0x19};
constexpr bool_id disabled{0x1D};
enum Chain : uint32_t { Input = 0, Forward = 1, Output = 2 };
enum Action : uint32_t { Accept = 0, Drop = 1, Reject = 2, Log = 3, Jump = 4 };
enum Protocol : uint32_t { Any = 0, Icmp = 1, Tcp = 6, Udp = 17 };
} // namespace rule4

nv::message firewallRow(uint32_t n) {
  nv::message o;
  o.set(rule4::chain, n % 3);
  o.set(rule4::action, n % 2 ? uint32_t(rule4::Drop) : uint32_t(rule4::Accept));
  o.set(rule4::protocol, uint32_t(rule4::Tcp));
  o.set(rule4::port, 1024 + n % 60000);
  o.set(rule4::dst, benchmarkHost(n));
  o.set(rule4::bytes, n * 1500);
  o.set(rule4::packets, n);
  o.set(rule4::disabled, false);
  o.set(rule4::comment, "rule " + std::to_string(n + 1));
  return o;
}

MenuDefinition firewall() {
  MenuDefinition d;
  d.name = "firewall";
  d.shape.title = "Filter Rules";
  d.shape.path = {21, 4};
  d.shape.removable = true;
  d.shape.movable = true;
  d.shape.writePolicy = 64; // "writeperm"
  d.shape.capacity = 1000;  // "maxobjs": a larger table could not be fetched
  d.shape.rules = {rule(rule4::port, 0, 65535, "Port")};
  d.shape.defaults.set(rule4::chain, uint32_t(rule4::Input));
  d.shape.defaults.set(rule4::action, uint32_t(rule4::Accept));
  d.shape.defaults.set(rule4::disabled, false);
  d.row = firewallRow;
  d.seed = [](MenuStore& s) {
    struct Sample {
      uint32_t chain, action, protocol, port;
      const char* comment;
    } samples[] = {{rule4::Input, rule4::Accept, rule4::Any, 0, "accept established"},
                   {rule4::Input, rule4::Accept, rule4::Icmp, 0, "accept ping"},
                   {rule4::Input, rule4::Accept, rule4::Tcp, 22, "admin from the lab"},
                   {rule4::Forward, rule4::Jump, rule4::Any, 0, "guests"},
                   {rule4::Input, rule4::Log, rule4::Udp, 53, "log dns"},
                   {rule4::Input, rule4::Drop, rule4::Any, 0, "drop the rest"}};
    for (const Sample& r : samples) {
      nv::message o;
      o.set(rule4::chain, r.chain);
      o.set(rule4::action, r.action);
      o.set(rule4::protocol, r.protocol);
      if (r.port)
        o.set(rule4::port, r.port);
      if (r.action == rule4::Log)
        o.set(rule4::logprefix, "dns");
      if (r.port == 22)
        o.set(rule4::srclist, std::vector<uint32_t>{ipv4(198, 18, 0, 0)});
      o.set(rule4::disabled, false);
      o.set(rule4::comment, r.comment);
      s.append(o);
    }
  };
  return d;
}

// ---- Users (22, 5) and groups (22, 6)
namespace user {
constexpr string_id name{0x1}, comment{0x8};
constexpr u32_id group{0x2}, lastlogin{0x5};
constexpr u32_array_id allowed{0x3};
} // namespace user

MenuDefinition users() {
  MenuDefinition d;
  d.name = "users";
  d.shape.title = "Users";
  d.shape.path = {22, 5};
  d.shape.rules = {rule(user::name, 1, 64, "Name")};
  d.shape.uniqueField = user::name.id();
  d.shape.defaults.set(user::group, 2u);
  d.seed = [](MenuStore& s) {
    struct Sample {
      const char* name;
      uint32_t group;
      const char* comment;
    } samples[] = {{"admin", 1, "the router's owner"},
                   {"monitor", 2, "dashboards"},
                   {"backup", 3, "nightly backups"}};
    for (uint32_t n = 0; n < 3; ++n) {
      nv::message o;
      o.set(user::name, samples[n].name);
      o.set(user::group, samples[n].group);
      o.set(user::allowed, std::vector<uint32_t>{ipv4(192, 0, 2, 0), ipv4(198, 18, 0, 0)});
      o.set(user::lastlogin, kEpoch - 86400 * n);
      o.set(user::comment, samples[n].comment);
      s.append(o);
    }
  };
  return d;
}

namespace group {
constexpr string_id name{0x1};
constexpr u32_array_id policy{0x2};
} // namespace group

MenuDefinition groups() {
  MenuDefinition d;
  d.name = "groups";
  d.shape.title = "Groups";
  d.shape.path = {22, 6};
  d.shape.rules = {rule(group::name, 1, 64, "Name")};
  d.shape.uniqueField = group::name.id();
  d.seed = [](MenuStore& s) {
    struct Sample {
      const char* name;
      std::vector<uint32_t> policy;
    } samples[] = {{"full", {0x40, 0x80, 0x100}}, {"read", {0x40}}, {"write", {0x40, 0x80}}};
    for (const Sample& g : samples) {
      nv::message o;
      o.set(group::name, g.name);
      o.set(group::policy, g.policy);
      s.append(o);
    }
  };
  return d;
}

// ---- Log (22, 7): read only
namespace logline {
constexpr u32_id time{0x1};
constexpr string_array_id topics{0x2};
constexpr string_id message{0x3};
} // namespace logline

nv::message logRow(uint32_t n) {
  static const char* texts[] = {"user admin logged in from 192.0.2.10",
                                "ether2 link up (speed 1G, full duplex)",
                                "dhcp leased 198.18.1.23 to 00:00:5E:00:53:2A",
                                "route to 198.19.128.0/17 changed",
                                "user monitor logged out from 192.0.2.11",
                                "firewall dropped 198.18.7.7 -> 192.0.2.1:23"};
  static const char* topics[][2] = {{"system", "info"}, {"interface", "info"},
                                    {"dhcp", "info"},   {"route", "debug"},
                                    {"system", "info"}, {"firewall", "warning"}};
  nv::message o;
  o.set(logline::time, kEpoch + n);
  o.set(logline::topics, std::vector<std::string>{topics[n % 6][0], topics[n % 6][1]});
  o.set(logline::message, texts[n % 6]);
  return o;
}

MenuDefinition log() {
  MenuDefinition d;
  d.name = "log";
  d.shape.title = "Log";
  d.shape.path = {22, 7};
  d.shape.readOnly = true;
  d.shape.addable = false;
  d.row = logRow;
  d.seed = [](MenuStore& s) {
    for (uint32_t n = 0; n < 24; ++n)
      s.append(logRow(n));
  };
  return d;
}

// ---- Files (22, 8)
namespace file {
constexpr string_id name{0x1}, ftype{0x2}, contents{0x5};
constexpr u64_id size{0x3};
constexpr u32_id created{0x4};
} // namespace file

MenuDefinition files() {
  MenuDefinition d;
  d.name = "files";
  d.shape.title = "Files";
  d.shape.path = {22, 8};
  d.shape.rules = {rule(file::name, 1, 255, "Name")};
  d.shape.uniqueField = file::name.id();
  d.shape.defaults.set(file::ftype, "file");
  d.seed = [](MenuStore& s) {
    struct Sample {
      const char* name;
      const char* type;
      uint64_t size;
      const char* contents;
    } samples[] = {{"flash", "disk", 134217728, nullptr},
                   {"flash/backup-2026-11-30.backup", "backup", 48213, nullptr},
                   {"flash/nimbalux-7.15.pkg", "package", 12582912, nullptr},
                   {"flash/hello.script", "script", 34, ":log info \"hello from the script\""}};
    uint32_t n = 0;
    for (const Sample& f : samples) {
      nv::message o;
      o.set(file::name, f.name);
      o.set(file::ftype, f.type);
      o.set(file::size, f.size);
      o.set(file::created, kEpoch - 86400 * ++n);
      if (f.contents)
        o.set(file::contents, f.contents);
      s.append(o);
    }
  };
  return d;
}

// ---- IPv6 addresses (24, 1) and neighbours (24, 2)
namespace v6 {
constexpr addr6_id address{0x1}, gateway{0x3};
constexpr addr6_array_id prefixes{0x5};
constexpr bool_id eui64{0x7};
constexpr raw_id mac{0x2};
constexpr u32_id iface{0x3};
} // namespace v6

MenuDefinition ipv6Addresses() {
  MenuDefinition d;
  d.name = "ipv6-addresses";
  d.shape.title = "IPv6 Addresses";
  d.shape.path = {24, 1};
  d.seed = [](MenuStore& s) {
    for (uint16_t n = 1; n <= 2; ++n) {
      nv::message o;
      o.set(v6::address, ipv6(1, n));
      o.set(v6::gateway, ipv6(0xFFFE, n));
      o.set(v6::prefixes, std::vector<nv::addr6>{ipv6(0, n)});
      o.set(v6::eui64, n == 2);
      s.append(o);
    }
  };
  return d;
}

MenuDefinition ipv6Neighbors() {
  MenuDefinition d;
  d.name = "ipv6-neighbors";
  d.shape.title = "Neighbors";
  d.shape.path = {24, 2};
  d.shape.readOnly = true;
  d.shape.addable = false;
  d.seed = [](MenuStore& s) {
    for (uint16_t n = 1; n <= 3; ++n) {
      nv::message o;
      o.set(v6::address, ipv6(0x10 + n, 1));
      o.set(v6::mac, mac(uint8_t(0x40 + n)));
      o.set(v6::iface, uint32_t(n));
      s.append(o);
    }
  };
  return d;
}

} // namespace

std::vector<MenuDefinition> sampleMenus() {
  return {interfaces(), addresses(), routes(), leases(),        firewall(),     users(),
          groups(),     log(),       files(),  ipv6Addresses(), ipv6Neighbors()};
}

std::vector<ItemDefinition> sampleItems(std::function<uint32_t()> uptimeSeconds,
                                        std::function<uint32_t()> cpuLoad) {
  std::vector<ItemDefinition> items;
  {
    ItemDefinition dns;
    dns.name = "dns";
    // As its descriptor names them: the set command 0xFE0002 and the get command 0xFE0003.
    dns.shape = {.title = "DNS", .path = {22, 1}, .getCommand = 0xFE0003, .setCommand = 0xFE0002};
    dns.object.set(u32_array_id(0x1), std::vector<uint32_t>{ipv4(192, 0, 2, 53)});
    dns.object.set(addr6_array_id(0x2), std::vector<nv::addr6>{ipv6(0x53)});
    dns.object.set(bool_id(0x4), false);
    dns.object.set(u32_id(0x5), 2048u);
    dns.object.set(u32_id(0x6), 311296u);
    dns.object.set(u32_id(0x7), 604800u);
    dns.object.set(string_id(0x8), "example.net");
    items.push_back(std::move(dns));
  }
  {
    ItemDefinition identity;
    identity.name = "identity";
    identity.shape = {
        .title = "Identity", .path = {22, 2}, .rules = {rule(string_id(0x1), 1, 64, "Identity")}};
    identity.object.set(string_id(0x1), "Router");
    items.push_back(std::move(identity));
  }
  {
    ItemDefinition clock;
    clock.name = "clock";
    clock.shape = {.title = "Clock", .path = {22, 3}};
    clock.object.set(u32_id(0x3), 0u);
    clock.object.set(bool_id(0x4), false);
    clock.object.set(u32_id(0x5), 0u);
    // The time zones its zone enumeration asks for with 0xFE0020: the zone numbers (U1) and
    // each zone's offset from UTC in minutes (U2).
    nv::message zones;
    zones.set(u32_array_id(0x1), std::vector<uint32_t>{0, 1, 2, 3, 4});
    zones.set(u32_array_id(0x2), std::vector<uint32_t>{0, 60, 120, 330, 540});
    clock.shape.lookups[0xFE0020] = zones;
    clock.live = [](nv::message& o) {
      auto now = static_cast<uint32_t>(std::time(nullptr));
      o.set(u32_id(0x1), now - now % 86400);
      o.set(u32_id(0x2), now % 86400);
    };
    items.push_back(std::move(clock));
  }
  {
    ItemDefinition resources;
    resources.name = "resources";
    resources.shape = {.title = "Resources", .path = {22, 4}, .setCommand = kUnlimited};
    resources.object.set(string_id(0x2), "7.15");
    resources.object.set(u32_id(0x3), 201326592u);
    resources.object.set(u32_id(0x5), 880u);
    resources.object.set(string_id(0x6), "mipsbe");
    resources.object.set(string_id(0x7), "hex-s");
    resources.object.set(u64_id(0x8), 134217728ull);
    resources.object.set(u32_id(0x9), 2u);
    resources.live = [uptimeSeconds, cpuLoad](nv::message& o) {
      uint32_t up = uptimeSeconds();
      o.set(u32_id(0x1), up);
      o.set(u32_id(0x4), cpuLoad ? cpuLoad() : 3 + up * 7 % 23); // percent
    };
    items.push_back(std::move(resources));
  }
  return items;
}

} // namespace kestel::sim
