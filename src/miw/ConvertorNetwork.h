// Convertors of address pairs and raw bytes.
//
// - Address and port (Ipv4Pair, second = port): "192.0.2.1:8080"; a text without ":port" takes
//   the slot's default port; ports 0 to 65535.
// - IPv4 network (Ipv4Pair, second = netmask held like the address, first octet in the lowest
//   byte) and IPv6 network (Ipv6Prefix, prefix length 0..128): "192.0.2.0/24", "2001:db8::/32".
//   A contiguous netmask shows as its length; one that is not (only ever stored by others) shows
//   dotted ("/255.0.255.0") and is never accepted. Reading takes "/length" or a dotted
//   contiguous netmask; a text without either takes the slot's default mask or length. The host
//   bits (those past the prefix) are free, as a gateway's "192.168.88.1/24" needs, unless the
//   slot is marked "hostnonzero": then they must not all be zero ("2001:db8::/64" is refused
//   there; a full-length prefix such as "/32" has none and passes). A zero address is refused with
//   "zeroinvalid".
// - Raw bytes (Bytes): lower-case hex pairs without separators ("01a2ff"); reading also accepts
//   the pairs separated by ":", "-" or blanks, and upper-case digits; at most 65535 bytes.
#pragma once

#include "miw/Convertor.h"
#include "miw/ConvertorAddress.h"

namespace kestel {

Reference<IConvertor> addressAndPortConvertor(uint32_t defaultPort);

enum class HostBits { Any, NonZero };
struct NetworkShape {
  uint32_t defaultMask = 0xFFFFFFFF; // IPv4: netmask held like the address
  uint32_t defaultLength = 128;      // IPv6: prefix length
  HostBits host = HostBits::Any;
  ZeroAddress zero = ZeroAddress::Valid;
};
// The netmask of `length` leading ones (0..32), held like an address.
uint32_t ipv4Netmask(uint32_t length);
// The number of leading ones of a contiguous netmask held like an address; -1 otherwise.
int ipv4MaskLength(uint32_t mask);
Reference<IConvertor> ipv4NetworkConvertor(const NetworkShape& shape);
Reference<IConvertor> ipv6NetworkConvertor(const NetworkShape& shape);

std::string rawText(const Bytes& bytes);
bool parseRaw(std::string_view text, Bytes& bytes);
Reference<IConvertor> rawConvertor();

} // namespace kestel
