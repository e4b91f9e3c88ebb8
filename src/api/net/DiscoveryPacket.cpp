#include "api/net/DiscoveryPacket.h"

#include "util/Assert.h"

namespace kestel {

Expected<DiscoveryPacket> parseDiscoveryPacket(ByteSpan datagram) {
  ByteReader in(datagram);
  if (!in.skip(kDiscoveryHeaderSize))
    return makeError("discovery packet shorter than its header");
  DiscoveryPacket packet;
  while (!in.atEnd()) {
    uint16_t type = 0;
    uint16_t length = 0;
    ByteSpan value;
    if (!in.u16be(type) || !in.u16be(length) || !in.span(length, value))
      return makeError("discovery field runs past the end of the packet");
    if (type < kDiscoveryFieldTypes)
      packet.fields[type] = Bytes(value.begin(), value.end());
  }
  return packet;
}

Bytes discoveryRequest() { return Bytes(kDiscoveryHeaderSize, 0); }

Bytes buildDiscoveryPacket(const std::vector<std::pair<uint16_t, Bytes>>& fields) {
  Bytes out(kDiscoveryHeaderSize, 0);
  ByteWriter w(out);
  for (const auto& [type, value] : fields) {
    KESTEL_ASSERT(value.size() <= 0xFFFF, "api/net/discovery");
    w.u16be(type);
    w.u16be(static_cast<uint16_t>(value.size()));
    w.bytes(value);
  }
  return out;
}

} // namespace kestel
