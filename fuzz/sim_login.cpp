// The simulator's router side of both logins, fed a hostile client's byte stream: the chunk
// framing, the secure first challenge and response on channel 6, the legacy handshake value and
// frames on channel 5, and both channels mixed on one connection. The first byte picks the user
// table (bit 0: with a salted user) and the size of the writes (bits 1-7); the rest is the stream.
#include "api/net/PollReactor.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"

#include <cstddef>
#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace kestel;

// One router per user table, kept across inputs (making users costs curve arithmetic). Failed
// logins are not limited, so that an input behaves the same whatever ran before it.
struct Router {
  explicit Router(bool salted) {
    login.addUser("admin", "pw");
    if (salted)
      login.addSaltedUser("bob", "pw");
    login.limits().enabled = false;
    login.install(server);
  }
  PollReactor reactor{PollReactor::Clock::Manual};
  sim::SimServer server{reactor};
  sim::RouterLogin login;
};

void drain(int fd) {
  uint8_t buf[4096];
  while (::read(fd, buf, sizeof buf) > 0) {
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Router plain(false), mixed(true);
  if (size < 1)
    return 0;
  Router& router = (data[0] & 1) ? mixed : plain;
  size_t step = size_t(data[0] >> 1) + 1;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
    return 0;
  // The connection object goes away on a later turn once the simulator closed it: the count says.
  router.server.serve(fds[0], "fuzz");
  for (size_t pos = 1; pos < size && router.server.connectionCount() > 0; pos += step) {
    size_t n = std::min(step, size - pos);
    if (::send(fds[1], data + pos, n, MSG_NOSIGNAL) != ssize_t(n))
      break;
    router.reactor.runOnce(0);
    drain(fds[1]);
  }
  ::close(fds[1]); // the client goes away: the simulator sees the end and drops the connection
  for (int i = 0; i < 8 && router.server.connectionCount() > 0; ++i)
    router.reactor.runOnce(0);
  return 0;
}
