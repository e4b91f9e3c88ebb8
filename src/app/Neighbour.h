// One router heard by neighbour discovery, as the loader's "Neighbors" tab shows it: built from a
// parsed answer and the address it came from, turned into the typed neighbour record, into the
// tab's column texts, and into the text that "Connect To:" receives when the user picks it.
#pragma once

#include "api/net/DiscoveryPacket.h"
#include "api/wire/Message.h"

#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace kestel {

struct Neighbour {
  uint32_t id = 0xFFFFFFFF;    // STD_ID, given by the neighbour table
  Bytes mac;                   // 6 bytes
  nv::addr6 address{};         // the sender; IPv4 in IPv4-mapped form
  uint32_t interfaceIndex = 0; // the sender's scope id (0 for IPv4)
  std::string identity;
  std::string version;
  std::string board;
  std::optional<uint32_t> uptime; // seconds
  bool kavo = false;
  uint32_t type = 0; // 0 IPv4 sender, 1 IPv6 sender

  bool isIpv4() const { return type == 0; }
  bool sameRouter(const Neighbour& other) const {
    return mac == other.mac && address == other.address;
  }
  bool operator==(const Neighbour&) const = default;
};

// Neighbour record keys (the "Neighbors" container's objects).
namespace neighbour_key {
inline constexpr nv::raw_id kMac{1};
inline constexpr nv::addr6_id kAddress{2};
inline constexpr nv::string_id kIdentity{3};
inline constexpr nv::string_id kVersion{4};
inline constexpr nv::string_id kBoard{5};
inline constexpr nv::bool_id kKavo{6};
inline constexpr nv::u32_id kInterface{7};
inline constexpr nv::u32_id kType{8};
inline constexpr nv::u32_id kUptime{9};
} // namespace neighbour_key

// The neighbour an answer describes; nullopt when its field 1 is not exactly 6 bytes (the
// answer names no router). `sender` is an AF_INET or AF_INET6 address; others give nullopt.
std::optional<Neighbour> neighbourFromAnswer(const DiscoveryPacket& answer,
                                             const sockaddr_storage& sender);

// The typed record: keys as in neighbour_key, plus STD_ID.
nv::message neighbourRecord(const Neighbour& neighbour);

// Column titles of the "Neighbors" tab, in order.
const std::vector<std::string>& neighbourColumns();
// The texts of those columns for one neighbour (an unset uptime shows empty).
std::vector<std::string> neighbourColumnTexts(const Neighbour& neighbour);

// What "Connect To:" becomes when the user picks the neighbour: "http://<ip>/" for a Kavo
// device, the IPv4 address, "[<ipv6>%<interface>]", or the MAC address when the sender address
// is all zeros.
std::string neighbourConnectText(const Neighbour& neighbour);

} // namespace kestel
