// Addresses of the simulator's made-up data, all from ranges reserved for documentation and
// benchmarks (192.0.2.0/24, 198.18.0.0/15, 2001:db8::/32, MAC 00:00:5e:00:53:xx). An IPv4
// address is held as the router holds it: the first octet in the lowest byte.
#pragma once

#include "api/wire/Message.h"

#include <cstdint>
#include <vector>

namespace kestel::sim::sample {

constexpr uint32_t ipv4(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return a | b << 8 | c << 16 | d << 24;
}
constexpr uint32_t toNetworkOrder(uint32_t held) {
  return (held & 0xFF) << 24 | (held >> 8 & 0xFF) << 16 | (held >> 16 & 0xFF) << 8 | held >> 24;
}
constexpr uint32_t fromNetworkOrder(uint32_t value) { return toNetworkOrder(value); }
// A netmask of `bits` leading ones, held like an address.
constexpr uint32_t netmask(uint32_t bits) {
  return fromNetworkOrder(bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits));
}
// A host of 192.0.2.0/24 (never .0 or .255) picked by `n`.
constexpr uint32_t documentationHost(uint32_t n) { return ipv4(192, 0, 2, 1 + n % 254); }
// A host of 198.18.0.0/15 picked by `n`.
constexpr uint32_t benchmarkHost(uint32_t n) {
  return ipv4(198, 18 + (n >> 16) % 2, n >> 8 & 0xFF, 1 + n % 254);
}
inline std::vector<uint8_t> mac(uint8_t n) { return {0x00, 0x00, 0x5E, 0x00, 0x53, n}; }
inline nv::addr6 ipv6(uint16_t last, uint16_t subnet = 0) {
  nv::addr6 a{0x20, 0x01, 0x0D, 0xB8};
  a[6] = uint8_t(subnet >> 8);
  a[7] = uint8_t(subnet);
  a[14] = uint8_t(last >> 8);
  a[15] = uint8_t(last);
  return a;
}

} // namespace kestel::sim::sample
