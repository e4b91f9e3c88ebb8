// The router socket a crash report goes to, and the report's framing on it. The TCP connection
// registers its socket while it is up and withdraws it when it closes or hands it over; the crash
// handler reads it and sends the report as chunks on channel 4. Everything here is safe inside a
// signal handler: no allocation, no locks, and every wait is bounded by a deadline, so a router
// that stops reading cannot keep a crashing process alive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestel {

inline constexpr uint8_t kCrashReportChannel = 4;

// Makes `fd` the socket crash reports go to.
void registerCrashSocket(int fd);
// Withdraws `fd`; a different registered socket stays.
void unregisterCrashSocket(int fd);
// The registered socket, or -1.
int registeredCrashSocket();

// Sends a crash report's parts on one socket until the deadline passes; after the first failure
// (deadline, error, peer gone) every later send does nothing and returns false.
class CrashSender {
public:
  CrashSender(int fd, int timeoutMs);

  // 256 zero bytes, a byte 1 and two zero bytes. Whatever partial chunk the connection left on
  // the stream, the router's de-framer stands on a chunk boundary after them.
  bool sendPrelude();
  // One send on the crash channel: a first chunk on channel 4, then continuation chunks.
  bool sendPacket(const char* text, size_t length);
  // The bytes 1, 255, 0: a last chunk holding a NUL that ends the report.
  bool sendClosing();

  bool ok() const { return fd_ >= 0; }

private:
  bool sendAll(const uint8_t* data, size_t length);

  int fd_;
  int64_t deadlineMs_;
};

} // namespace kestel
