// The simulator's login as a client on a raw loopback socket sees it: one challenge form per user
// table whatever the name (known, salted, unknown), one login channel per connection, and the
// failed-login limits per connection and per address (on the manual clock).
#include "NetTestSupport.h"

#include "api/net/Connection.h"
#include "api/net/LegacyCrypto.h"
#include "api/net/LegacySession.h"
#include "api/net/LoginHandler.h"
#include "api/net/LoginMessages.h"
#include "api/wire/Vocabulary.h"
#include "sim/RouterLogin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace kestel::test {
namespace {

// A client speaking chunks on a plain socket, so the test decides every byte.
class RawClient {
public:
  RawClient(PollReactor& reactor, uint16_t port) : reactor_(reactor) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  }
  ~RawClient() { ::close(fd_); }

  void send(uint8_t channel, ByteSpan data) {
    Bytes out;
    for (size_t pos = 0; pos < data.size(); pos += 255) {
      size_t n = std::min<size_t>(255, data.size() - pos);
      out.push_back(uint8_t(n));
      out.push_back(pos == 0 ? channel : 0xFF);
      out.insert(out.end(), data.begin() + long(pos), data.begin() + long(pos + n));
    }
    EXPECT_EQ(ssize_t(out.size()), ::send(fd_, out.data(), out.size(), MSG_NOSIGNAL));
  }
  // The next chunk on `channel` (the simulator sends each answer as one); empty when the
  // simulator closed first.
  Bytes chunk(uint8_t channel) {
    runUntil(reactor_, [&] {
      pump();
      return !chunks_[channel].empty() || gone_;
    });
    auto& queue = chunks_[channel];
    if (queue.empty())
      return {};
    Bytes out = std::move(queue.front());
    queue.erase(queue.begin());
    ++taken_[channel];
    return out;
  }
  // True once the simulator has closed the connection.
  bool closedBySimulator() {
    runUntil(reactor_, [&] {
      pump();
      return gone_;
    });
    return gone_;
  }
  // Chunks received on `channel` so far.
  size_t received(uint8_t channel) {
    pump();
    return taken_[channel] + chunks_[channel].size();
  }

private:
  void pump() {
    uint8_t buf[4096];
    for (;;) {
      ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
        gone_ = true;
      if (n <= 0)
        break;
      stream_.insert(stream_.end(), buf, buf + n);
    }
    while (stream_.size() >= 2 && stream_.size() >= size_t(stream_[0]) + 2) {
      bool continuation = stream_[1] == 0xFF;
      uint8_t channel = continuation ? last_ : stream_[1];
      last_ = channel;
      auto& queue = chunks_[channel];
      if (!continuation || queue.empty())
        queue.emplace_back();
      queue.back().insert(queue.back().end(), stream_.begin() + 2,
                          stream_.begin() + 2 + stream_[0]);
      stream_.erase(stream_.begin(), stream_.begin() + 2 + stream_[0]);
    }
  }

  PollReactor& reactor_;
  int fd_ = -1;
  Bytes stream_;
  uint8_t last_ = 0;
  std::map<uint8_t, std::vector<Bytes>> chunks_; // continuations joined to their first chunk
  std::map<uint8_t, size_t> taken_;
  bool gone_ = false;
};

std::array<uint8_t, 32> fixedRandom(uint8_t seed) {
  std::array<uint8_t, 32> random{};
  random.fill(seed);
  return random;
}

// A valid legacy handshake value g^r mod m.
Bytes legacyValue() {
  legacy::Number r{}, k{};
  r.fill(0x5A);
  EXPECT_EQ(legacy::Power::Ok, legacy::powerOfGenerator(r, k));
  return Bytes(k.begin(), k.end());
}

class RouterLoginTest : public ReactorTest {
public:
  RouterLoginTest() {
    login.addUser("admin", "pw");
    login.install(server);
    EXPECT_TRUE(server.listen(0).ok());
  }

  // A whole secure login on `client`; true when the router's proof was accepted.
  bool secureLogin(RawClient& client, const std::string& name, const std::string& password) {
    login::ClientExchange exchange(name, password, fixedRandom(0x22));
    client.send(6, exchange.firstChallenge());
    auto response = exchange.respond(client.chunk(6));
    if (!response)
      return false;
    client.send(6, *response);
    return exchange.acceptProof(client.chunk(6));
  }

  sim::SimServer server{reactor};
  sim::RouterLogin login;
};

TEST_F(RouterLoginTest, OneChallengeFormPerTableWhateverTheName) {
  // Only password-kept users: 33 bytes for all; a known and an unknown name alike.
  {
    RawClient a(reactor, server.port()), n(reactor, server.port());
    a.send(6, login::ClientExchange("admin", "x", fixedRandom(1)).firstChallenge());
    n.send(6, login::ClientExchange("nobody", "x", fixedRandom(1)).firstChallenge());
    EXPECT_EQ(33u, a.chunk(6).size());
    EXPECT_EQ(33u, n.chunk(6).size());
  }
  // A mixed table: every name, known with its password kept, salted or unknown, gets the salted
  // form; a name keeps its salt, distinct names have distinct salts.
  login.addSaltedUser("bob", "pw");
  auto salt = [&](const std::string& name) {
    RawClient c(reactor, server.port());
    c.send(6, login::ClientExchange(name, "x", fixedRandom(2)).firstChallenge());
    Bytes challenge = c.chunk(6);
    EXPECT_EQ(49u, challenge.size()) << name;
    return challenge.size() == 49 ? Bytes(challenge.begin() + 33, challenge.end()) : Bytes{};
  };
  struct Case {
    const char* name;
    const char* sameAs; // a login that must show the same salt
  } cases[] = {{"admin", "admin+ct"}, {"bob", "bob"}, {"eve", "eve+r"}, {"mallory", "mallory"}};
  std::set<Bytes> salts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes s = salt(c.name);
    EXPECT_EQ(s, salt(c.sameAs));
    salts.insert(s);
  }
  EXPECT_EQ(std::size(cases), salts.size());
}

TEST_F(RouterLoginTest, SecureLoginInAMixedTable) {
  login.addSaltedUser("bob", "pw");
  struct Case {
    const char* name;
    const char* password;
    bool accepted;
  } cases[] = {
      {"admin", "pw", true},   {"admin", "wrong", false}, {"bob", "pw", true},
      {"bob", "wrong", false}, {"eve", "pw", false},      {"admin+t", "pw", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ":" + c.password);
    RawClient client(reactor, server.port());
    EXPECT_EQ(c.accepted, secureLogin(client, c.name, c.password));
  }
}

TEST_F(RouterLoginTest, OneConnectionIsOneSession) {
  const Bytes value = legacyValue();
  struct Case {
    const char* name;
    std::function<void(RouterLoginTest&, RawClient&)> first;
    uint8_t intruder; // the other login channel, spoken to afterwards
  } cases[] = {
      {"legacy handshake after a secure login",
       [](RouterLoginTest& t, RawClient& c) { EXPECT_TRUE(t.secureLogin(c, "admin", "pw")); }, 5},
      {"legacy handshake after a secure first challenge",
       [](RouterLoginTest&, RawClient& c) {
         c.send(6, login::ClientExchange("admin", "pw", fixedRandom(3)).firstChallenge());
         EXPECT_EQ(33u, c.chunk(6).size());
       },
       5},
      {"secure first challenge after a legacy handshake",
       [&](RouterLoginTest&, RawClient& c) {
         c.send(5, value);
         EXPECT_EQ(legacy::kNumberLength, c.chunk(5).size());
       },
       6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(reactor, server.port());
    c.first(*this, client);
    size_t before5 = client.received(5), before6 = client.received(6);
    if (c.intruder == 5)
      client.send(5, value);
    else
      client.send(6, login::ClientExchange("admin", "", fixedRandom(4)).firstChallenge());
    EXPECT_TRUE(client.closedBySimulator());
    EXPECT_EQ(before5, client.received(5));
    EXPECT_EQ(before6, client.received(6));
  }
}

TEST_F(RouterLoginTest, SilentSecureChannelLeavesTheLegacyLoginOpen) {
  login.faults().refuseSecure = true;
  RawClient client(reactor, server.port());
  client.send(6, login::ClientExchange("admin", "pw", fixedRandom(5)).firstChallenge());
  client.send(5, legacyValue());
  EXPECT_EQ(legacy::kNumberLength, client.chunk(5).size());
  EXPECT_EQ(0u, client.received(6));
}

// The legacy login through the client's own session over a real connection.
class LegacyClient {
public:
  LegacyClient(PollReactor& reactor, uint16_t port) : reactor_(reactor) {
    connection_ = createConnection(reactor);
    connection_->connect("127.0.0.1", port);
    SessionHooks hooks{[this](const nv::message& m) { replies_.push_back(m); }, [] {}};
    session_ = makeRef<LegacySession>(reactor, *connection_, hooks);
  }
  ~LegacyClient() {
    session_->stop();
    connection_->close(CloseMode::Now);
  }
  enum Outcome { Accepted, Refused, Closed };
  // Asks for a challenge and logs in with `password`.
  Outcome login(const std::string& name, const std::string& password) {
    auto challenge = ask(kLegacyChallengeCommand, {});
    if (!challenge)
      return Closed;
    nv::message request;
    request.set(kLegacyLogin, name);
    request.set(kLegacyResponse, legacyLoginResponse(password, challenge->get(kLegacyChallenge)));
    auto reply = ask(kLoginCommand, request);
    if (!reply)
      return Closed;
    return isError(*reply) ? Refused : Accepted;
  }
  // Whether the simulator has closed the connection, after a few turns to let it show.
  bool closed() {
    for (int i = 0; i < 20 && !connection_->isClosed(); ++i)
      reactor_.runOnce(5);
    return connection_->isClosed();
  }

private:
  std::optional<nv::message> ask(uint32_t command, nv::message request) {
    request.set(SYS_TO, kLoginHandler);
    request.set(SYS_FROM, std::vector<uint32_t>{2});
    request.set(SYS_CMD, command);
    request.set(SYS_TYPE, TYPE_REQUEST);
    request.set(SYS_REPLYEXP, true);
    request.set(SYS_REQID, ++requestId_);
    replies_.clear();
    session_->post(request);
    runUntil(reactor_, [&] { return !replies_.empty() || connection_->isClosed(); });
    if (replies_.empty())
      return std::nullopt;
    return replies_.front();
  }

  PollReactor& reactor_;
  Reference<Connection> connection_;
  Reference<LegacySession> session_;
  std::vector<nv::message> replies_;
  uint32_t requestId_ = 0;
};

TEST_F(RouterLoginTest, LegacyLoginChecksEveryNameAlike) {
  login.addSaltedUser("bob", "pw");
  login.limits().enabled = false;
  struct Case {
    const char* name;
    const char* password;
    LegacyClient::Outcome outcome;
  } cases[] = {
      {"admin", "pw", LegacyClient::Accepted}, {"admin", "pW", LegacyClient::Refused},
      {"admin", "", LegacyClient::Refused},    {"bob", "pw", LegacyClient::Refused},
      {"nobody", "", LegacyClient::Refused},   {"admin+x", "pw", LegacyClient::Accepted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ":" + c.password);
    LegacyClient client(reactor, server.port());
    EXPECT_EQ(c.outcome, client.login(c.name, c.password));
  }
}

TEST_F(RouterLoginTest, FailedLoginsAreLimitedPerConnectionAndPerAddress) {
  // Per connection: the third failure is answered, then the connection closes.
  {
    LegacyClient client(reactor, server.port());
    EXPECT_EQ(LegacyClient::Refused, client.login("admin", "a"));
    EXPECT_EQ(LegacyClient::Refused, client.login("admin", "b"));
    EXPECT_FALSE(client.closed());
    EXPECT_EQ(LegacyClient::Refused, client.login("admin", "c"));
    EXPECT_TRUE(client.closed());
  }
  // Per address: 10 failures within the window (3 above and 7 here, one secure), then even the
  // right password is refused, on either login, until the window has passed.
  for (int i = 0; i < 6; ++i) {
    LegacyClient client(reactor, server.port());
    EXPECT_EQ(LegacyClient::Refused, client.login("nobody", "x"));
  }
  {
    RawClient raw(reactor, server.port());
    EXPECT_FALSE(secureLogin(raw, "admin", "nope"));
  }
  {
    LegacyClient client(reactor, server.port());
    EXPECT_EQ(LegacyClient::Refused, client.login("admin", "pw"));
    RawClient raw(reactor, server.port());
    EXPECT_FALSE(secureLogin(raw, "admin", "pw"));
  }
  reactor.advance(login.limits().windowMs);
  LegacyClient client(reactor, server.port());
  EXPECT_EQ(LegacyClient::Accepted, client.login("admin", "pw"));
}

TEST_F(RouterLoginTest, LimitsOffForBenchmarks) {
  login.limits().enabled = false;
  LegacyClient client(reactor, server.port());
  for (int i = 0; i < 12; ++i)
    ASSERT_EQ(LegacyClient::Refused, client.login("admin", "no")) << i;
  EXPECT_EQ(LegacyClient::Accepted, client.login("admin", "pw"));
}

} // namespace
} // namespace kestel::test
