#include "api/net/Framing.h"

#include <cerrno>
#include <cstddef>
#include <sys/socket.h>

namespace kestel {

void appendChunks(Bytes& out, uint8_t channel, ByteSpan payload) {
  ByteWriter w(out);
  uint8_t tag = channel;
  do {
    size_t n = payload.size() < kMaxChunkPayload ? payload.size() : kMaxChunkPayload;
    w.u8(static_cast<uint8_t>(n));
    w.u8(tag);
    w.bytes(payload.first(n));
    payload = payload.subspan(n);
    tag = kSameChannel;
  } while (!payload.empty());
}

size_t ChunkReader::frame(ByteSpan in, const Sink& sink) {
  ByteReader r(in);
  for (;;) {
    ByteReader start = r;
    uint8_t len = 0;
    uint8_t channel = 0;
    ByteSpan payload;
    if (!r.u8(len) || !r.u8(channel) || !r.span(len, payload)) {
      r = start; // a partial chunk waits for more bytes
      break;
    }
    if (channel != kSameChannel)
      current_ = channel;
    if (!sink(channel, current_, payload))
      return SIZE_MAX;
  }
  return r.position();
}

bool ChunkReader::feed(ByteSpan data, const Sink& sink) {
  if (held_.empty()) {
    // Common case: frame straight from the caller's bytes and keep only the tail.
    size_t used = frame(data, sink);
    if (used == SIZE_MAX)
      return false;
    held_.assign(data.begin() + static_cast<ptrdiff_t>(used), data.end());
    return true;
  }
  held_.insert(held_.end(), data.begin(), data.end());
  size_t used = frame(held_, sink);
  if (used == SIZE_MAX) {
    held_.clear();
    return false;
  }
  held_.erase(held_.begin(), held_.begin() + static_cast<ptrdiff_t>(used));
  return true;
}

int sendPending(int fd, Bytes& output) {
  size_t sent = 0;
  int error = 0;
  while (sent < output.size()) {
    ssize_t n = ::send(fd, output.data() + sent, output.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      break;
    if (n < 0) {
      error = errno;
      break;
    }
    sent += static_cast<size_t>(n);
  }
  output.erase(output.begin(), output.begin() + static_cast<ptrdiff_t>(sent));
  return error;
}

} // namespace kestel
