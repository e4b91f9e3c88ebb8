// The text of "Connect To:" read as a router address: a MAC address (as the MAC convertor reads
// it) selects the MAC-layer transport; otherwise "[<ipv6>[%<scope>]][:<port>]" or
// "<host>[:<port>]" (an IPv4 address or a name) selects TCP. A port is 1 to 65535, all digits;
// none means the transport's default. An IPv6 address outside brackets is refused.
#pragma once

#include "util/Expected.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestel {

struct ConnectAddress {
  enum class Transport { Tcp, Mac };
  Transport transport = Transport::Tcp;
  std::string host;  // the MAC address text, the IPv6 address (with "%scope") or the host
  uint32_t port = 0; // 0: the default
};

// Fails with "invalid address - " and the text.
[[nodiscard]] Expected<ConnectAddress> parseConnectAddress(std::string_view text);

} // namespace kestel
