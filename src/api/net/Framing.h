// Chunk framing of the router's TCP stream, used by the client's connection and the simulator.
// A chunk is [length L (0..255)] [channel, 0xFF = same as before] [L payload bytes]. Chunk
// boundaries carry no message boundary; the receiver of a channel reassembles its own units.
// The de-framer accepts the stream in pieces split anywhere and never reads past what it holds.
#pragma once

#include "util/Bytes.h"

#include <cstdint>
#include <functional>

namespace kestel {

inline constexpr uint8_t kSameChannel = 0xFF;
inline constexpr size_t kMaxChunkPayload = 255;

// Appends the chunks of one send: (min(n, 255), channel) then (min(rest, 255), 0xFF) while bytes
// remain. An empty send is one empty chunk.
void appendChunks(Bytes& out, uint8_t channel, ByteSpan payload);

// Sends from the front of `output` on the non-blocking socket until it is empty or the socket
// would block, and drops what went out. Returns 0, or the errno of a send that failed.
int sendPending(int fd, Bytes& output);

class ChunkReader {
public:
  // Called per complete chunk with the channel byte as it stood (0xFF for continuations), the
  // channel it belongs to, and its payload (valid only during the call). Returning false stops
  // the reader: the rest of the input is dropped (the owner is closing).
  using Sink = std::function<bool(uint8_t rawChannel, uint8_t channel, ByteSpan payload)>;

  // Frames `data` after whatever is still held from earlier calls; a partial chunk is kept for
  // the next call. Returns false when the sink stopped it.
  bool feed(ByteSpan data, const Sink& sink);

  uint8_t currentChannel() const { return current_; }
  size_t pending() const { return held_.size(); }
  // The partial chunk still held.
  const Bytes& held() const { return held_; }
  // Continues where another reader of the same stream stopped: its current channel and the
  // partial chunk it held.
  void resume(uint8_t currentChannel, ByteSpan held) {
    current_ = currentChannel;
    held_.assign(held.begin(), held.end());
  }

private:
  // Frames whole chunks from `in`; returns how many bytes were consumed, or SIZE_MAX when stopped.
  size_t frame(ByteSpan in, const Sink& sink);

  Bytes held_;
  uint8_t current_ = 0xFF;
};

} // namespace kestel
