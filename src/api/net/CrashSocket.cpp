#include "api/net/CrashSocket.h"

#include "api/net/Framing.h"

#include <atomic>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

namespace kestel {
namespace {

std::atomic<int> gCrashSocket{-1};
static_assert(std::atomic<int>::is_always_lock_free);

int64_t monotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

void registerCrashSocket(int fd) { gCrashSocket.store(fd); }

void unregisterCrashSocket(int fd) {
  int expected = fd;
  gCrashSocket.compare_exchange_strong(expected, -1);
}

int registeredCrashSocket() { return gCrashSocket.load(); }

CrashSender::CrashSender(int fd, int timeoutMs) : fd_(fd), deadlineMs_(monotonicMs() + timeoutMs) {}

bool CrashSender::sendAll(const uint8_t* data, size_t length) {
  while (fd_ >= 0 && length > 0) {
    // The connection's socket is non-blocking; rather than switch it to blocking (and wait for
    // ever on a router that stopped reading) every wait is a poll bounded by the deadline.
    ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      length -= size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    int64_t left = deadlineMs_ - monotonicMs();
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && left > 0) {
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, int(left)) >= 0)
        continue;
      if (errno == EINTR)
        continue;
    }
    fd_ = -1;
  }
  return fd_ >= 0;
}

bool CrashSender::sendPrelude() {
  uint8_t prelude[259] = {};
  prelude[256] = 1;
  return sendAll(prelude, sizeof prelude);
}

bool CrashSender::sendPacket(const char* text, size_t length) {
  uint8_t chunk[2 + kMaxChunkPayload];
  uint8_t channel = kCrashReportChannel;
  do {
    size_t piece = length < kMaxChunkPayload ? length : kMaxChunkPayload;
    chunk[0] = uint8_t(piece);
    chunk[1] = channel;
    for (size_t i = 0; i < piece; ++i)
      chunk[2 + i] = uint8_t(text[i]);
    if (!sendAll(chunk, 2 + piece))
      return false;
    text += piece;
    length -= piece;
    channel = kSameChannel;
  } while (length > 0);
  return true;
}

bool CrashSender::sendClosing() {
  const uint8_t closing[3] = {1, kSameChannel, 0};
  return sendAll(closing, sizeof closing);
}

} // namespace kestel
