// Feeds arbitrary datagrams to the MAC-layer packet parser, and what it accepts to a stream as
// data or acknowledgements (manual clock). Checks that an accepted packet, written again, gives
// the same bytes, and that the stream never delivers more than it acknowledges.
#include "api/net/MacPacket.h"
#include "api/net/MacStream.h"
#include "api/net/PollReactor.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  PollReactor reactor(PollReactor::Clock::Manual);
  size_t delivered = 0;
  uint32_t lastAck = 0;
  MacStream stream(reactor, MacStream::Hooks{
                                [](uint32_t, ByteSpan) {},
                                [&](uint32_t n) { lastAck = n; },
                                [&](ByteSpan b) { delivered += b.size(); },
                                [] {},
                                [] {},
                            });
  stream.queue(Bytes(5000, 'x'));
  reactor.advance(1);
  // The input is a run of datagrams, each prefixed by a length byte.
  size_t pos = 0;
  while (pos < size) {
    size_t announced = data[pos++];
    size_t n = std::min(announced, size - pos);
    ByteSpan datagram(data + pos, n);
    pos += n;
    auto packet = parseMacPacket(datagram);
    if (!packet)
      continue;
    if (buildMacPacket(*packet) != Bytes(datagram.begin(), datagram.end()))
      std::abort();
    if (packet->type == 1)
      stream.onData(packet->number, packet->payload);
    else if (packet->type == 2)
      stream.onAck(packet->number);
    reactor.advance(packet->sourcePort % 200);
  }
  if (delivered != stream.receiveOffset() || (delivered > 0 && lastAck != stream.receiveOffset()))
    std::abort();
  return 0;
}
