#include "NetTestSupport.h"

#include "api/net/Connection.h"
#include "api/wire/Message.h"
#include "sim/SimServer.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <mutex>
#include <netinet/in.h>
#include <unistd.h>

namespace kestel::test {
namespace {

using State = IConnectionEvent::State;

ResolvedAddress loopback(const char* ip, uint16_t port) {
  ResolvedAddress r;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, ip, &a.sin_addr);
  std::memcpy(&r.addr, &a, sizeof a);
  r.length = sizeof a;
  r.family = AF_INET;
  r.socktype = SOCK_STREAM;
  r.protocol = IPPROTO_TCP;
  return r;
}

// A port on 127.0.0.1 that is bound but not listening: connecting to it is refused, and no one
// else can take it while the test runs.
class RefusingPort {
public:
  RefusingPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, kLoopback, &a.sin_addr);
    socklen_t len = sizeof a;
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len), 0);
    port = ntohs(a.sin_port);
  }
  ~RefusingPort() { ::close(fd_); }
  uint16_t port = 0;

private:
  int fd_ = -1;
};

// Connector that plays a script per attempt; "hang" returns a pipe that never becomes writable,
// so the attempt only ends by the connect timer. Anything else goes to the real connector.
class ScriptedConnector final : public Connector {
public:
  enum Step { Real, Hang, SocketFails, Unreachable };
  explicit ScriptedConnector(std::vector<Step> steps) : steps_(std::move(steps)) {}
  ~ScriptedConnector() override {
    for (int fd : writeEnds_)
      ::close(fd);
  }
  Attempt start(const ResolvedAddress& a) override {
    Step step = attempts < steps_.size() ? steps_[attempts] : Real;
    ++attempts;
    if (step == SocketFails)
      return {Stage::SocketFailed, -1, EMFILE};
    if (step == Unreachable)
      return {Stage::Failed, -1, ENETUNREACH};
    if (step == Real)
      return real_->start(a);
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    writeEnds_.push_back(fds[1]);
    hung.push_back(fds[0]);
    return {Stage::Pending, fds[0], 0};
  }
  int result(int fd) override { return real_->result(fd); }
  size_t attempts = 0;
  std::vector<int> hung;

private:
  std::vector<Step> steps_;
  std::vector<int> writeEnds_;
  std::unique_ptr<Connector> real_ = createTcpConnector();
};

class ConnectionTest : public ReactorTest {
protected:
  ConnectionTest() {
    server.registerChannel(6, [](sim::SimConnection&) { return sim::createEchoHandler(6); });
    auto bound = server.listen(0);
    EXPECT_TRUE(bound.ok());
    port = server.port();
  }

  Reference<Connection> make(Resolver resolver = {}, std::unique_ptr<Connector> c = nullptr) {
    ConnectionOptions options;
    options.resolver = std::move(resolver);
    options.connector = std::move(c);
    auto conn = createConnection(reactor, std::move(options));
    conn->addListener(listener.get());
    return conn;
  }
  bool closed() const {
    return !listener->connection.empty() && listener->connection.back().first == State::Closed;
  }
  bool up() const {
    return !listener->connection.empty() && listener->connection.back().first == State::Up;
  }

  sim::SimServer server{reactor};
  uint16_t port = 0;
  Reference<RecordingListener> listener = makeRef<RecordingListener>();
};

TEST_F(ConnectionTest, ExchangesChunksWithTheSimulatorAndSeesPeerClose) {
  auto conn = make();
  Collector six, nine;
  conn->addReceiver(6, &six);
  conn->addReceiver(9, &nine);
  conn->connect(kLoopback, port);
  Bytes early(40, 'e'); // queued while resolving, sent once up
  conn->send(6, early.data(), early.size());
  ASSERT_TRUE(runUntil(reactor, [&] { return up(); }));

  Bytes big(600);
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<uint8_t>(i);
  conn->send(6, big.data(), big.size());
  ASSERT_TRUE(runUntil(reactor, [&] { return six.bytes.size() == 640; }));
  EXPECT_EQ(Bytes(six.bytes.begin(), six.bytes.begin() + 40), early);
  EXPECT_EQ(Bytes(six.bytes.begin() + 40, six.bytes.end()), big);
  EXPECT_EQ(six.rawChannels, (std::vector<uint8_t>{6, 6, 6, 6})); // echoed chunk by chunk
  EXPECT_TRUE(nine.bytes.empty());

  // One 600-byte send from the router side arrives as 255 (6), 255 (0xFF), 90 (0xFF).
  six = Collector();
  server.forEachConnection([&](sim::SimConnection& c) { c.send(6, big); });
  ASSERT_TRUE(runUntil(reactor, [&] { return six.bytes.size() == 600; }));
  EXPECT_EQ(six.bytes, big);
  EXPECT_EQ(six.rawChannels, (std::vector<uint8_t>{6, 0xFF, 0xFF}));

  server.dropAll();
  ASSERT_TRUE(runUntil(reactor, [&] { return closed(); }));
  using Ev = std::pair<State, std::string>;
  EXPECT_EQ(listener->connection,
            (std::vector<Ev>{{State::Up, ""}, {State::Closed, "peer closed connection"}}));
  conn->send(6, big.data(), big.size()); // ignored once closed
  EXPECT_EQ(conn->pendingOutput(), 0u);
  conn->removeListener(listener.get());
}

TEST_F(ConnectionTest, ChunksForAChannelNobodyReceivesAreSkipped) {
  server.registerChannel(9, [](sim::SimConnection&) { return sim::createEchoHandler(9); });
  auto conn = make();
  Collector six;
  conn->addReceiver(6, &six);
  conn->connect(kLoopback, port);
  ASSERT_TRUE(runUntil(reactor, [&] { return up(); }));
  uint8_t a[] = {1, 2, 3}, b[] = {4, 5};
  conn->send(9, a, sizeof a); // echoed on 9: nobody here receives it
  conn->send(6, b, sizeof b);
  ASSERT_TRUE(runUntil(reactor, [&] { return six.bytes.size() == 2; }));
  EXPECT_EQ(six.bytes, (Bytes{4, 5}));
  conn->removeListener(listener.get());
}

TEST_F(ConnectionTest, CloseAfterFlushSendsEverythingFirst) {
  Bytes got;
  struct Sink final : sim::ChannelHandler {
    explicit Sink(Bytes& b) : b_(b) {}
    void onChunk(sim::SimConnection&, uint8_t, ByteSpan p) override {
      b_.insert(b_.end(), p.begin(), p.end());
    }
    Bytes& b_;
  };
  server.registerChannel(2, [&](sim::SimConnection&) { return std::make_unique<Sink>(got); });
  auto conn = make();
  conn->connect(kLoopback, port);
  Bytes data(1 << 20, 0x5A);
  conn->send(2, data.data(), data.size()); // queued: the connection is not up yet
  conn->close(CloseMode::AfterFlush);
  EXPECT_FALSE(closed());
  ASSERT_TRUE(runUntil(reactor, [&] { return closed() && got.size() == data.size(); }));
  EXPECT_EQ(listener->connection.front().first, State::Up);
  EXPECT_EQ(listener->connection.back().second, "");
  EXPECT_EQ(listener->connection.size(), 2u);
  conn->removeListener(listener.get());
}

TEST_F(ConnectionTest, RefusedPortReportsTheReasonOnce) {
  RefusingPort refusing;
  auto conn = make();
  conn->connect(kLoopback, refusing.port);
  ASSERT_TRUE(runUntil(reactor, [&] { return closed(); }));
  ASSERT_EQ(listener->connection.size(), 1u);
  EXPECT_EQ(listener->connection[0].second, "connection refused");
  conn->removeListener(listener.get());
}

TEST_F(ConnectionTest, TriesEveryResolvedAddressInOrder) {
  // 127.0.0.2 is loopback too, but the simulator listens only on 127.0.0.1.
  std::vector<std::string> ports;
  std::mutex m;
  auto resolver = [&](const std::string&, const std::string& p) {
    std::lock_guard<std::mutex> lock(m);
    ports.push_back(p);
    return std::vector<ResolvedAddress>{loopback("127.0.0.2", port), loopback(kLoopback, port)};
  };
  auto conn = make(resolver);
  Collector six;
  conn->addReceiver(6, &six);
  conn->connect("router.test", port);
  ASSERT_TRUE(runUntil(reactor, [&] { return up(); }));
  EXPECT_EQ(listener->connection.size(), 1u);
  uint8_t hello[] = {'h', 'i'};
  conn->send(6, hello, 2);
  ASSERT_TRUE(runUntil(reactor, [&] { return six.bytes.size() == 2; }));
  std::lock_guard<std::mutex> lock(m);
  EXPECT_EQ(ports, std::vector<std::string>{std::to_string(port)});
  conn->removeListener(listener.get());
}

TEST_F(ConnectionTest, WhenEveryAddressFailsTheLastReasonIsReported) {
  struct Case {
    std::vector<ScriptedConnector::Step> steps;
    std::string reason;
  };
  const Case cases[] = {
      {{ScriptedConnector::Unreachable, ScriptedConnector::SocketFails}, "socket error"},
      {{ScriptedConnector::SocketFails, ScriptedConnector::Unreachable}, "network is unreachable"},
  };
  for (const auto& c : cases) {
    listener->connection.clear();
    auto resolver = [](const std::string&, const std::string&) {
      return std::vector<ResolvedAddress>{loopback(kLoopback, 1), loopback(kLoopback, 2)};
    };
    auto conn = make(resolver, std::make_unique<ScriptedConnector>(c.steps));
    conn->connect("router.test", 0);
    ASSERT_TRUE(runUntil(reactor, [&] { return closed(); }));
    ASSERT_EQ(listener->connection.size(), 1u);
    EXPECT_EQ(listener->connection[0].second, c.reason);
    conn->removeListener(listener.get());
  }
}

TEST_F(ConnectionTest, ConnectTimesOutAfterTenSecondsThenTriesTheNextAddress) {
  auto resolver = [this](const std::string&, const std::string&) {
    return std::vector<ResolvedAddress>{loopback(kLoopback, port), loopback(kLoopback, port)};
  };
  auto* script = new ScriptedConnector({ScriptedConnector::Hang, ScriptedConnector::Hang});
  auto conn = make(resolver, std::unique_ptr<Connector>(script));
  conn->connect("router.test", port);
  ASSERT_TRUE(runUntil(reactor, [&] { return script->attempts == 1; }));
  reactor.advance(kConnectTimeoutMs - 1);
  EXPECT_EQ(script->attempts, 1u);
  reactor.advance(1);
  EXPECT_EQ(script->attempts, 2u); // the first address timed out: on to the second
  EXPECT_TRUE(listener->connection.empty());
  reactor.advance(kConnectTimeoutMs);
  ASSERT_EQ(listener->connection.size(), 1u);
  EXPECT_EQ(listener->connection[0],
            std::make_pair(State::Closed, std::string("connection timed out")));
  EXPECT_EQ(reactor.timerCount(), 0u);
  reactor.advance(kConnectTimeoutMs * 3);
  EXPECT_EQ(listener->connection.size(), 1u);
  conn->removeListener(listener.get());
}

TEST_F(ConnectionTest, PortZeroKeepsThePreviousPortAndUnresolvableNamesFail) {
  std::vector<std::string> ports;
  std::mutex m;
  auto resolver = [&](const std::string&, const std::string& p) {
    std::lock_guard<std::mutex> lock(m);
    ports.push_back(p);
    return std::vector<ResolvedAddress>{};
  };
  auto conn = make(resolver);
  conn->connect("nowhere.test", 0);
  ASSERT_TRUE(runUntil(reactor, [&] { return closed(); }));
  EXPECT_EQ(listener->connection.back().second, "could not resolve nowhere.test");
  conn->connect("nowhere.test", 1234);
  ASSERT_TRUE(runUntil(reactor, [&] { return listener->connection.size() == 2; }));
  conn->connect("nowhere.test", 0);
  ASSERT_TRUE(runUntil(reactor, [&] { return listener->connection.size() == 3; }));
  std::lock_guard<std::mutex> lock(m);
  EXPECT_EQ(ports, (std::vector<std::string>{"8291", "1234", "1234"}));
  conn->removeListener(listener.get());
}

TEST_F(ConnectionTest, ResultOfALookupOutlivingItsConnectionIsDropped) {
  std::mutex m;
  std::condition_variable cv;
  bool release = false, finished = false;
  auto resolver = [&](const std::string&, const std::string&) {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return release; });
    finished = true;
    cv.notify_all();
    return std::vector<ResolvedAddress>{loopback(kLoopback, port)};
  };
  {
    auto conn = make(resolver);
    conn->connect("slow.test", port);
    conn->removeListener(listener.get());
  } // the connection is gone while the thread still resolves
  {
    std::unique_lock<std::mutex> lock(m);
    release = true;
    cv.notify_all();
    cv.wait(lock, [&] { return finished; });
  }
  for (int i = 0; i < 5; ++i)
    reactor.runOnce(10);
  EXPECT_TRUE(listener->connection.empty());
  EXPECT_EQ(server.connectionCount(), 0u);
}

TEST_F(ConnectionTest, HandOverTextNamesTheSocketAndReleaseLeavesItOpen) {
  auto conn = make();
  conn->connect(kLoopback, port);
  ASSERT_TRUE(runUntil(reactor, [&] { return up(); }));
  auto pairs = conn->textDescription(true);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].first, "rfile");
  EXPECT_EQ(pairs[1], std::make_pair(std::string("rport"), std::to_string(port)));
  int fd = std::stoi(pairs[0].second);
  EXPECT_LE(pairs[0].second.size(), 7u);
  // Still close-on-exec: only the child the socket is handed to gets it, never another one.
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  conn->removeListener(listener.get());
  conn = nullptr;
  EXPECT_EQ(::fcntl(fd, F_GETFD) >= 0, true); // not closed by the released object
  ::close(fd);
}

TEST_F(ConnectionTest, AnotherObjectAdoptsTheDescribedSocketAndCarriesOn) {
  auto first = make();
  first->connect(kLoopback, port);
  ASSERT_TRUE(runUntil(reactor, [&] { return up(); }));
  nv::message description = first->describe();
  EXPECT_EQ(description.get(nv::string_id(1)), kLoopback);
  EXPECT_EQ(description.get(nv::u32_id(2)), port);
  EXPECT_FALSE(description.get(nv::bool_id(4), true));
  first->textDescription(true); // released: the socket stays open for the adopter
  first->removeListener(listener.get());
  first = nullptr;

  auto second = createConnection(reactor);
  Collector six;
  second->addReceiver(6, &six);
  ASSERT_TRUE(second->adopt(description));
  EXPECT_TRUE(second->isUp());
  uint8_t ping[] = {'p', 'i', 'n', 'g'};
  second->send(6, ping, sizeof ping);
  ASSERT_TRUE(runUntil(reactor, [&] { return six.bytes.size() == 4; }));
  EXPECT_EQ(server.connectionCount(), 1u);

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  nv::message notSocket;
  notSocket.set(nv::u64_id(3), uint64_t(fds[0]));
  auto third = createConnection(reactor);
  EXPECT_FALSE(third->adopt(notSocket));
  EXPECT_FALSE(third->adopt(nv::message()));
  EXPECT_FALSE(second->adopt(description)); // already carrying a connection
  ::close(fds[0]);
  ::close(fds[1]);
}

// The stream state of one process carries on in the adopter: a chunk cut in two by the hand-over
// arrives whole and on its channel, and output the socket had not taken yet is sent, in order.
TEST_F(ConnectionTest, AdopterCarriesOnWithAPartialChunkAndUnsentOutput) {
  int sp[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sp), 0);
  int small = 4096;
  ::setsockopt(sp[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ::setsockopt(sp[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  nv::message start;
  start.set(nv::u64_id(3), uint64_t(sp[0]));
  auto first = createConnection(reactor);
  Collector six;
  first->addReceiver(6, &six);
  ASSERT_TRUE(first->adopt(start));

  // One whole chunk, then three bytes of a continuation chunk of four.
  const uint8_t in[] = {2, 6, 'a', 'b', 4, 0xFF, 'c'};
  ASSERT_EQ(::write(sp[1], in, sizeof in), ssize_t(sizeof in));
  ASSERT_TRUE(runUntil(reactor, [&] { return six.bytes.size() == 2; }));
  Bytes sent;
  for (uint8_t round = 0; first->pendingOutput() == 0 && round < 200; ++round) {
    Bytes piece(1000, round);
    first->send(7, piece.data(), piece.size());
    appendChunks(sent, 7, piece);
  }
  ASSERT_GT(first->pendingOutput(), 0u);
  ASSERT_LE(first->pendingOutput(), kMaxHandedOverOutput);
  nv::message description = first->describe();
  first->textDescription(true);
  first = nullptr;

  auto second = createConnection(reactor);
  Collector carried;
  second->addReceiver(6, &carried);
  ASSERT_TRUE(second->adopt(description));
  const uint8_t rest[] = {'d', 'e', 'f'};
  ASSERT_EQ(::write(sp[1], rest, sizeof rest), ssize_t(sizeof rest));
  Bytes received(sent.size());
  size_t got = 0;
  ASSERT_TRUE(runUntil(reactor, [&] {
    ssize_t n = ::recv(sp[1], received.data() + got, received.size() - got, MSG_DONTWAIT);
    got += n > 0 ? size_t(n) : 0;
    return got == sent.size() && carried.bytes.size() == 4;
  }));
  EXPECT_EQ(received, sent);
  EXPECT_EQ(carried.bytes, (Bytes{'c', 'd', 'e', 'f'}));
  EXPECT_EQ(carried.rawChannels, (std::vector<uint8_t>{0xFF}));

  nv::message tooMuch = description;
  tooMuch.set(nv::raw_id(6), Bytes(300, 1));
  EXPECT_FALSE(createConnection(reactor)->adopt(tooMuch));
  second->close(CloseMode::Now);
  ::close(sp[1]);
}

TEST_F(ConnectionTest, RouterCuttingTheStreamMidwayIsAPeerClose) {
  sim::SimServer cutting(reactor);
  cutting.setDropAfterBytes(300);
  cutting.registerChannel(6, [](sim::SimConnection&) { return sim::createEchoHandler(6); });
  ASSERT_TRUE(cutting.listen(0).ok());
  auto conn = make();
  Collector six;
  conn->addReceiver(6, &six);
  conn->connect(kLoopback, cutting.port());
  Bytes data(1000, 7);
  conn->send(6, data.data(), data.size());
  ASSERT_TRUE(runUntil(reactor, [&] { return closed(); }));
  // A close with unread input is a reset; either way the router ended the stream.
  EXPECT_THAT(listener->connection.back().second,
              ::testing::AnyOf("peer closed connection", "connection reset by router"));
  EXPECT_EQ(listener->connection.size(), 2u); // up, then closed once
  EXPECT_LT(six.bytes.size(), data.size());
  conn->removeListener(listener.get());
}

// On a chunk to channel 9, sends "a" on each of its channels in order.
class Speaker final : public sim::ChannelHandler {
public:
  explicit Speaker(std::vector<uint8_t> channels) : channels_(std::move(channels)) {}
  void onChunk(sim::SimConnection& connection, uint8_t, ByteSpan) override {
    for (uint8_t channel : channels_)
      connection.send(channel, asBytes("a"));
  }

private:
  std::vector<uint8_t> channels_;
};

TEST_F(ConnectionTest, OneSessionPerConnectionTheOtherLoginChannelIsDropped) {
  struct Case {
    std::vector<uint8_t> sent;
    size_t on5, on6, on7; // what each receiver gets
  } cases[] = {
      {{6, 5, 6}, 0, 2, 0},    {{5, 6, 5}, 2, 0, 0}, {{7, 6, 7, 5}, 0, 1, 2},
      {{6, 6, 6, 5}, 0, 3, 0}, {{7, 7}, 0, 0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.sent));
    sim::SimServer speaking(reactor);
    speaking.registerChannel(
        9, [&](sim::SimConnection&) { return std::make_unique<Speaker>(c.sent); });
    ASSERT_TRUE(speaking.listen(0).ok());
    auto conn = make();
    Collector five, six, seven;
    conn->addReceiver(5, &five);
    conn->addReceiver(6, &six);
    conn->addReceiver(7, &seven);
    conn->connect("127.0.0.1", speaking.port());
    conn->send(9, reinterpret_cast<const uint8_t*>("go"), 2);
    size_t total = c.on5 + c.on6 + c.on7;
    ASSERT_TRUE(runUntil(reactor, [&] {
      return five.bytes.size() + six.bytes.size() + seven.bytes.size() >= total;
    }));
    // Anything more would have come with the rest: the simulator sent it all at once.
    for (int i = 0; i < 10; ++i)
      reactor.runOnce(1);
    EXPECT_EQ(c.on5, five.bytes.size());
    EXPECT_EQ(c.on6, six.bytes.size());
    EXPECT_EQ(c.on7, seven.bytes.size());
    EXPECT_TRUE(conn->isUp());
    conn->removeListener(listener.get());
    conn->close(CloseMode::Now);
  }
}

TEST_F(ConnectionTest, ResetByTheRouterIsReportedAsSuch) {
  int listener6 = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  socklen_t len = sizeof a;
  ASSERT_EQ(0, ::bind(listener6, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, ::listen(listener6, 1));
  ASSERT_EQ(0, ::getsockname(listener6, reinterpret_cast<sockaddr*>(&a), &len));
  auto conn = make();
  conn->connect("127.0.0.1", ntohs(a.sin_port));
  ASSERT_TRUE(runUntil(reactor, [&] { return up(); }));
  int accepted = ::accept(listener6, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  linger abort{1, 0}; // close sends a reset
  ::setsockopt(accepted, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(accepted);
  ASSERT_TRUE(runUntil(reactor, [&] { return closed(); }));
  EXPECT_EQ("connection reset by router", listener->connection.back().second);
  ::close(listener6);
  conn->removeListener(listener.get());
}

// The errors tcp(7), socket(7), recv(2) and send(2) list for an established or connecting
// socket each have their own reason.
TEST(ReasonForErrno, EveryConnectionErrorHasAReason) {
  for (int error :
       {ECONNRESET,   EPIPE,        ECONNABORTED, EHOSTDOWN, ENETRESET,     ENOTCONN, ETIMEDOUT,
        ECONNREFUSED, EHOSTUNREACH, ENETUNREACH,  ENETDOWN,  EADDRNOTAVAIL, EMFILE,   ENFILE,
        ENOBUFS,      ENOMEM,       EACCES,       EPERM,     EPROTO,        ESHUTDOWN}) {
    SCOPED_TRACE(std::strerror(error));
    EXPECT_NE("fatal error", reasonForErrno(error));
  }
  EXPECT_EQ("fatal error", reasonForErrno(EBADF)); // a fault of the program, not the network
}

TEST_F(ConnectionTest, NameResolvingToIpv6LoopbackConnects) {
  sim::SimServer six6(reactor);
  if (!six6.listen(0, kLoopback6).ok())
    GTEST_SKIP() << "no IPv6 loopback here";
  auto conn = make();
  conn->connect(kLoopback6, six6.port());
  ASSERT_TRUE(runUntil(reactor, [&] { return up() || closed(); }));
  EXPECT_TRUE(up());
  conn->removeListener(listener.get());
}

} // namespace
} // namespace kestel::test
