// The neighbour discovery datagram, sent and answered on UDP port 5678: a 4-byte header, then
// fields of [type, u16 big-endian] [value length, u16 big-endian] [value]. Types 0 to 13 are kept
// (a later field of a type replaces an earlier one); other types are skipped. A packet is whole
// only when it holds the header and its fields exactly fill the rest. This module only reads and
// writes the bytes; what the fields mean to a neighbour list lives with the discovery handler.
#pragma once

#include "util/Bytes.h"
#include "util/Expected.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kestel {

inline constexpr uint16_t kDiscoveryPort = 5678;
// The most a receiver reads of one datagram: a whole Ethernet frame's UDP payload.
inline constexpr size_t kDiscoveryMaxDatagram = 1472;
inline constexpr size_t kDiscoveryHeaderSize = 4;
inline constexpr uint16_t kDiscoveryFieldTypes = 14; // types 0..13 are recognised

// Field types an answer carries.
enum DiscoveryField : uint16_t {
  kDiscoveryMac = 1,      // 6 bytes
  kDiscoveryIdentity = 5, // text
  kDiscoveryAddress = 6,  // the IPv4 address the answer was sent for (4 bytes)
  kDiscoveryVersion = 7,  // text
  kDiscoveryUptime = 10,  // seconds, 4 bytes little-endian
  kDiscoveryBoard = 12,   // text
  kDiscoveryKavo = 13,    // present: the neighbour is a web-managed device
};

struct DiscoveryPacket {
  std::array<std::optional<Bytes>, kDiscoveryFieldTypes> fields;

  const std::optional<Bytes>& field(DiscoveryField type) const { return fields[type]; }
};

// Fails with a text naming the fault when the datagram is shorter than the header or a field
// runs past its end.
[[nodiscard]] Expected<DiscoveryPacket> parseDiscoveryPacket(ByteSpan datagram);

// The request: the header alone, all zeros.
Bytes discoveryRequest();

// An answer: the zero header and the fields in the order given. Values longer than 65535 bytes
// are a programming error (asserted).
Bytes buildDiscoveryPacket(const std::vector<std::pair<uint16_t, Bytes>>& fields);

} // namespace kestel
