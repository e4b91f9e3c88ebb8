// Feeds arbitrary datagrams to the discovery packet parser and what it accepts on to the
// neighbour record and its column texts (with an IPv4 and an IPv6 sender). Checks that an
// accepted packet's kept fields, written again, parse to the same fields.
#include "api/net/DiscoveryPacket.h"
#include "app/Neighbour.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  if (size > kDiscoveryMaxDatagram)
    return 0;
  auto packet = parseDiscoveryPacket(ByteSpan(data, size));
  if (!packet)
    return 0;
  std::vector<std::pair<uint16_t, Bytes>> kept;
  for (uint16_t type = 0; type < kDiscoveryFieldTypes; ++type)
    if (packet->fields[type])
      kept.emplace_back(type, *packet->fields[type]);
  auto again = parseDiscoveryPacket(buildDiscoveryPacket(kept));
  if (!again || again->fields != packet->fields)
    std::abort();
  for (int family : {AF_INET, AF_INET6}) {
    sockaddr_storage sender{};
    sender.ss_family = static_cast<sa_family_t>(family);
    if (auto n = neighbourFromAnswer(*packet, sender)) {
      (void)neighbourColumnTexts(*n);
      (void)neighbourConnectText(*n);
      Bytes encoded;
      (void)neighbourRecord(*n).flatten(encoded);
    }
  }
  return 0;
}
