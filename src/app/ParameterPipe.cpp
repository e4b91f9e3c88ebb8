#include "app/ParameterPipe.h"

#include "util/Bytes.h"
#include "util/Log.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace kestel {
namespace {

// Reads until `length` bytes are in or the writer is gone: returns the count, or -1 with errno.
ssize_t readFully(int fd, uint8_t* out, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::read(fd, out + done, length - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return -1;
    if (n == 0)
      break;
    done += size_t(n);
  }
  return ssize_t(done);
}

// Writes everything unless an error comes first: returns the count written, -1 with errno when
// nothing could be written.
ssize_t writeFully(int fd, const uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::write(fd, data + done, length - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return done ? ssize_t(done) : -1;
    done += size_t(n);
  }
  return ssize_t(done);
}

// Holds SIGPIPE back while writing to a pipe whose reader may be gone, and throws away the one
// that was raised, so a dead child is an EPIPE error here and not the end of this process.
class SigpipeBlock {
public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
  }
  ~SigpipeBlock() {
    if (!alreadyPending_) {
      timespec zero{};
      while (sigtimedwait(&pipe_, nullptr, &zero) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
  sigset_t pipe_, saved_;
  bool alreadyPending_ = false;
};

} // namespace

Expected<nv::message> decodeSessionParameters(ByteSpan bytes) {
  bool ok = false;
  nv::message m = nv::message::fromBytes(bytes, &ok);
  if (!ok)
    return makeError("session parameters do not decode");
  return m;
}

nv::message readSessionParameters(int fd) {
  uint8_t header[4];
  ssize_t n = readFully(fd, header, sizeof header);
  if (n < 0) {
    logf("read len failed ", errno);
    return {};
  }
  if (n != sizeof header) {
    logLine("bad read len");
    return {};
  }
  uint32_t length = uint32_t(header[0]) | uint32_t(header[1]) << 8 | uint32_t(header[2]) << 16 |
                    uint32_t(header[3]) << 24;
  if (length > kMaxParameterBytes) {
    logf("ERROR: session parameters of ", length, " bytes refused");
    return {};
  }
  Bytes body(length);
  n = readFully(fd, body.data(), body.size());
  if (n < 0) {
    logf("read msg failed ", errno);
    return {};
  }
  if (size_t(n) != body.size()) {
    logLine("read trimmed msg");
    return {};
  }
  auto decoded = decodeSessionParameters(body);
  if (!decoded) {
    logf("ERROR: ", decoded.error().text);
    return {};
  }
  return std::move(*decoded);
}

Expected<void> writeSessionParameters(int fd, const nv::message& parameters) {
  Bytes body;
  if (!parameters.flatten(body) || body.size() > kMaxParameterBytes)
    return makeError("session parameters cannot be encoded");
  uint32_t length = uint32_t(body.size());
  uint8_t header[4] = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                       uint8_t(length >> 24)};
  SigpipeBlock block;
  if (writeFully(fd, header, sizeof header) != sizeof header) {
    int error = errno;
    logf("write len failed ", error);
    return makeError("write len failed " + std::to_string(error));
  }
  ssize_t n = writeFully(fd, body.data(), body.size());
  if (n < 0) {
    int error = errno;
    logf("write msg failed ", error);
    return makeError("write msg failed " + std::to_string(error));
  }
  if (size_t(n) != body.size()) {
    logf("partial write ", n, ", size=", body.size());
    return makeError("partial write " + std::to_string(n));
  }
  return {};
}

} // namespace kestel
