// Feeds arbitrary bytes to the chunk de-framer in pieces whose sizes come from the input itself,
// and checks against a one-piece run that no chunk is lost, repeated or changed by the split.
#include "api/net/Framing.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Seen {
  kestel::Bytes flat; // raw channel, channel, length, payload of every chunk, in order
  void add(uint8_t raw, uint8_t channel, kestel::ByteSpan payload) {
    flat.push_back(raw);
    flat.push_back(channel);
    flat.push_back(static_cast<uint8_t>(payload.size()));
    flat.insert(flat.end(), payload.begin(), payload.end());
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  // The first byte seeds the split sizes; the rest is the stream.
  uint32_t seed = data[0];
  kestel::ByteSpan stream(data + 1, size - 1);

  Seen whole, split;
  kestel::ChunkReader one, many;
  one.feed(stream, [&](uint8_t raw, uint8_t ch, kestel::ByteSpan p) {
    whole.add(raw, ch, p);
    return true;
  });
  size_t pos = 0;
  while (pos < stream.size()) {
    seed = seed * 1103515245u + 12345u;
    size_t piece = 1 + (seed >> 16) % 300;
    if (piece > stream.size() - pos)
      piece = stream.size() - pos;
    // A copy of exactly the piece, so reading past it is caught by the sanitizer.
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(piece));
    std::memcpy(copy, stream.data() + pos, piece);
    many.feed(kestel::ByteSpan(copy, piece), [&](uint8_t raw, uint8_t ch, kestel::ByteSpan p) {
      split.add(raw, ch, p);
      return true;
    });
    std::free(copy);
    pos += piece;
  }
  if (whole.flat != split.flat || one.pending() != many.pending() ||
      one.currentChannel() != many.currentChannel())
    std::abort();
  return 0;
}
