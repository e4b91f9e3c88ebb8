#include "api/net/MacPacket.h"

#include "util/Ascii.h"

namespace kestel {

Expected<MacPacket> parseMacPacket(ByteSpan datagram) {
  ByteReader in(datagram);
  MacPacket p;
  uint8_t version = 0;
  if (!in.u8(version) || !in.u8(p.type) || !in.copy(p.source.data(), 6) ||
      !in.copy(p.destination.data(), 6) || !in.u16be(p.sourcePort) ||
      !in.u16be(p.destinationPort) || !in.u32be(p.number))
    return makeError("link packet shorter than its header");
  if (version != 1)
    return makeError("link packet of unknown version");
  p.payload = in.rest();
  return p;
}

Bytes buildMacPacket(const MacPacket& p) {
  Bytes out;
  out.reserve(kMacHeaderSize + p.payload.size());
  ByteWriter w(out);
  w.u8(1);
  w.u8(p.type);
  w.bytes(ByteSpan(p.source));
  w.bytes(ByteSpan(p.destination));
  w.u16be(p.sourcePort);
  w.u16be(p.destinationPort);
  w.u32be(p.number);
  w.bytes(p.payload);
  return out;
}

bool parseMacAddress(std::string_view text, MacAddress& out) {
  // Six groups of one or two hex digits, all separated by ':' or all by '-'.
  if (text.empty())
    return false;
  char separator = text.find('-') != std::string_view::npos ? '-' : ':';
  MacAddress mac{};
  size_t pos = 0;
  for (size_t group = 0; group < 6; ++group) {
    int value = 0;
    size_t digits = 0;
    while (pos < text.size() && digits < 3 &&
           hexDigitValue(static_cast<unsigned char>(text[pos])) >= 0) {
      value = value * 16 + hexDigitValue(static_cast<unsigned char>(text[pos++]));
      ++digits;
    }
    if (digits == 0 || digits > 2)
      return false;
    mac[group] = static_cast<uint8_t>(value);
    if (group < 5) {
      if (pos >= text.size() || text[pos] != separator)
        return false;
      ++pos;
    }
  }
  if (pos != text.size())
    return false;
  out = mac;
  return true;
}

} // namespace kestel
