// The machine's network interfaces as the link-layer features see them: name, index, MAC
// address and IPv4 addresses with their broadcast addresses, from getifaddrs(). Read-only; it
// opens no socket.
#pragma once

#include "util/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestel {

struct InterfaceAddress {
  uint32_t address = 0;   // network byte order
  uint32_t broadcast = 0; // the address with its host bits set, network byte order
};

struct NetInterface {
  std::string name;
  unsigned index = 0;
  Bytes mac; // 6 bytes; empty when the interface has none (loopback has six zeros)
  bool loopback = false;
  std::vector<InterfaceAddress> ipv4;
};

// Every interface that is up, in the order getifaddrs lists them; empty when the list cannot be
// read.
std::vector<NetInterface> listInterfaces();

// The interface holding IPv4 address `text` (dotted quad); nullopt when none does or the text is
// not an address.
std::optional<NetInterface> interfaceWithAddress(const std::vector<NetInterface>& interfaces,
                                                 const std::string& text);

} // namespace kestel
