// The packet of the MAC-layer transport, carried in UDP datagrams to port 20561: a 22-byte
// header (version 1, type, source and destination MAC addresses, source and destination ports,
// a big-endian stream number) and, for data packets, the payload. The number is the stream
// offset of the first payload byte (data), the next expected offset (acknowledgement), or 0
// (connect). This module only reads and writes the bytes.
#pragma once

#include "util/Bytes.h"
#include "util/Expected.h"

#include <array>
#include <cstdint>

namespace kestel {

inline constexpr uint16_t kMacUdpPort = 20561;
inline constexpr uint16_t kMacRouterPort = 3984;
inline constexpr size_t kMacHeaderSize = 22;
inline constexpr size_t kMacMaxDatagram = 1472; // the most read of one datagram
inline constexpr size_t kMacMaxSegment = 1450;  // payload bytes per data packet

using MacAddress = std::array<uint8_t, 6>;

enum class MacPacketType : uint8_t { Connect = 0, Data = 1, Ack = 2 };

struct MacPacket {
  uint8_t type = 0; // a MacPacketType, or anything else the peer sent
  MacAddress source{};
  MacAddress destination{};
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  uint32_t number = 0;
  ByteSpan payload; // points into the parsed datagram
};

// Fails when the datagram is shorter than the header or its first byte is not 1. The payload
// of a packet of any type is whatever follows the header.
[[nodiscard]] Expected<MacPacket> parseMacPacket(ByteSpan datagram);

// The datagram of `packet` (header, then its payload).
Bytes buildMacPacket(const MacPacket& packet);

// MAC address text to bytes ("01:AB:..." or "01-ab-..."); false on anything else.
bool parseMacAddress(std::string_view text, MacAddress& out);

} // namespace kestel
