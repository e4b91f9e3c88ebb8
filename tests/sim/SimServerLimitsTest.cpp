// What a connection may cost the simulator: reading stops while a client leaves its replies
// unread, connections that never log in or fall silent are closed on the manual clock, and
// running out of descriptors pauses accepting instead of spinning.
#include "api/net/NetTestSupport.h"

#include "sim/SimServer.h"
#include "util/Log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestel::test {
namespace {

int connectTo(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  return fd;
}

// True once the simulator has closed the client's socket (end of stream or reset).
bool peerGone(int fd) {
  uint8_t buf[4096];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0)
      continue;
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
  }
}

// Marks its connection established on the first chunk, as a completed login does.
class LoginDone final : public sim::ChannelHandler {
public:
  void onChunk(sim::SimConnection& connection, uint8_t, ByteSpan) override {
    connection.markEstablished();
  }
};

class SimServerLimitsTest : public ReactorTest {
protected:
  SimServerLimitsTest() {
    server.registerChannel(6, [](sim::SimConnection&) { return sim::createEchoHandler(6); });
    server.registerChannel(7, [](sim::SimConnection&) { return std::make_unique<LoginDone>(); });
  }
  ~SimServerLimitsTest() override {
    for (int fd : clients)
      ::close(fd);
  }
  int client() {
    EXPECT_TRUE(server.listen(0).ok());
    int fd = connectTo(server.port());
    clients.push_back(fd);
    EXPECT_TRUE(runUntil(reactor, [&] { return server.connectionCount() == 1; }));
    return fd;
  }
  void sendChunk(int fd, uint8_t channel, size_t size) {
    Bytes chunk{uint8_t(size), channel};
    chunk.resize(2 + size, 0x42);
    EXPECT_EQ(ssize_t(chunk.size()), ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL));
  }
  sim::SimConnection* only() {
    sim::SimConnection* found = nullptr;
    server.forEachConnection([&](sim::SimConnection& c) { found = &c; });
    return found;
  }

  sim::SimServer server{reactor};
  std::vector<int> clients;
};

TEST_F(SimServerLimitsTest, ClientThatDoesNotReadStopsBeingRead) {
  server.limits().maxBacklog = 64 * 1024;
  // A socket pair with small buffers, so the backlog builds in the simulator and not the kernel.
  int pair[2];
  ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair));
  int small = 4096;
  ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ::setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  int fd = pair[1];
  clients.push_back(fd);
  server.serve(pair[0], "local");
  Bytes chunk{255, 6};
  chunk.resize(257, 0x42);
  size_t sent = 0;
  // Echoes of everything sent pile up in the simulator until it stops reading; then the
  // client's own sends back up too.
  ASSERT_TRUE(runUntil(reactor, [&] {
    for (int i = 0; i < 64; ++i) {
      ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
      if (n > 0)
        sent += size_t(n);
    }
    return only() && only()->readingPaused();
  }));
  for (int i = 0; i < 50; ++i)
    reactor.runOnce(0);
  EXPECT_TRUE(only()->readingPaused());
  // Bounded: at most one read's worth of echoes past the bound.
  EXPECT_LE(only()->pendingOutput(), server.limits().maxBacklog + 2 * 16384 + 2 * 16384 / 255);
  EXPECT_GT(sent, server.limits().maxBacklog);
  // Once the client reads, the simulator reads again and everything comes back.
  size_t received = 0;
  uint8_t buf[65536];
  ASSERT_TRUE(runUntil(reactor, [&] {
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
      received += size_t(n);
    return received == sent;
  }));
  EXPECT_FALSE(only()->readingPaused());
}

TEST_F(SimServerLimitsTest, ConnectionsWithoutLoginOrSilentTooLongAreClosed) {
  struct Case {
    const char* name;
    uint32_t handshakeMs, idleMs;
    std::vector<std::pair<int64_t, uint8_t>> chunks; // at time, on channel (7 = login done)
    int64_t openUntil; // still open at this time, closed 1 ms later; -1: never closed
  } cases[] = {
      {"no login", 5000, 0, {}, 4999},
      {"no login despite traffic", 5000, 0, {{1000, 6}, {4000, 6}}, 4999},
      {"logged in", 5000, 0, {{1000, 7}}, -1},
      {"idle off by default", 0, 0, {}, -1},
      {"idle from the start", 0, 3000, {}, 2999},
      {"idle after traffic", 0, 3000, {{2000, 6}}, 4999},
      {"idle after login", 5000, 3000, {{1000, 7}, {3500, 6}}, 6499},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.limits().handshakeMs = c.handshakeMs;
    server.limits().idleMs = c.idleMs;
    int fd = client();
    int64_t start = reactor.now();
    for (const auto& [at, channel] : c.chunks) {
      reactor.advance(start + at - reactor.now());
      sendChunk(fd, channel, 10);
      ASSERT_TRUE(runUntil(reactor, [&] { return only()->bytesReceived() > 0; }));
      reactor.runOnce(0);
    }
    int64_t until = c.openUntil < 0 ? 60000 : c.openUntil;
    reactor.advance(start + until - reactor.now());
    reactor.runOnce(0);
    EXPECT_EQ(1u, server.connectionCount());
    EXPECT_FALSE(peerGone(fd));
    if (c.openUntil >= 0) {
      reactor.advance(1);
      EXPECT_TRUE(runUntil(reactor, [&] { return server.connectionCount() == 0; }));
      EXPECT_TRUE(peerGone(fd));
    }
    server.dropAll();
    EXPECT_TRUE(runUntil(reactor, [&] { return server.connectionCount() == 0; }));
  }
}

TEST_F(SimServerLimitsTest, OutOfDescriptorsPausesAcceptingAndSaysSoOnce) {
  ASSERT_TRUE(server.listen(0).ok());
  // accept(2) as it behaves when the process has no descriptor left, until `shortage` ends.
  bool shortage = true;
  int attempts = 0;
  server.setAcceptor([&](int listenFd, sockaddr_storage& from, socklen_t& length) {
    ++attempts;
    if (shortage) {
      errno = EMFILE;
      return -1;
    }
    return ::accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
  });
  CaptureLogSink log;
  clients.push_back(connectTo(server.port())); // stays ready in the listener's queue
  for (int i = 0; i < 50; ++i)
    reactor.runOnce(1);
  // One attempt, then no more until the pause is over: the queued client does not make it spin.
  EXPECT_EQ(1, attempts);
  EXPECT_TRUE(server.acceptPaused());
  for (int round = 0; round < 5; ++round) { // still short: one attempt per pause, quietly
    reactor.advance(sim::SimServer::kAcceptPauseMs);
    for (int i = 0; i < 10; ++i)
      reactor.runOnce(1);
    EXPECT_TRUE(server.acceptPaused());
  }
  EXPECT_EQ(6, attempts);
  EXPECT_EQ(0u, server.connectionCount());
  ASSERT_EQ(1u, log.lines().size()) << log.text();
  EXPECT_TRUE(log.contains("Too many open files")) << log.text();
  shortage = false;
  reactor.advance(sim::SimServer::kAcceptPauseMs - 1);
  reactor.runOnce(0);
  EXPECT_EQ(0u, server.connectionCount());
  reactor.advance(1);
  ASSERT_TRUE(runUntil(reactor, [&] { return server.connectionCount() == 1; }));
  EXPECT_FALSE(server.acceptPaused());
}

TEST_F(SimServerLimitsTest, BurstOfConnectsIsTakenInOneTurn) {
  ASSERT_TRUE(server.listen(0).ok());
  for (int i = 0; i < 100; ++i)
    clients.push_back(connectTo(server.port()));
  // One readiness event takes everything queued.
  ASSERT_TRUE(runUntil(reactor, [&] { return server.connectionCount() > 0; }));
  EXPECT_EQ(100u, server.connectionCount());
}

} // namespace
} // namespace kestel::test
