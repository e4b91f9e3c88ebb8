// The simulator's login as a client on a raw loopback socket sees it: the challenge length follows
// the user's kind, and an unknown name looks like a salted user whose salt stays the same.
#include "NetTestSupport.h"

#include "api/net/LoginMessages.h"
#include "sim/RouterLogin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestel::test {
namespace {

class RouterLoginTest : public ReactorTest {
protected:
  RouterLoginTest() {
    login.addUser("admin", "pw");
    login.install(server);
    EXPECT_TRUE(server.listen(0).ok());
  }

  // Sends the first challenge for `name` on a fresh connection and returns the router's answer.
  Bytes challengeFor(const std::string& name) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server.port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    std::array<uint8_t, 32> random{};
    random.fill(0x11);
    Bytes first = login::ClientExchange(name, "x", random).firstChallenge();
    Bytes chunk{uint8_t(first.size()), 6};
    chunk.insert(chunk.end(), first.begin(), first.end());
    EXPECT_EQ(ssize_t(chunk.size()), ::send(fd, chunk.data(), chunk.size(), 0));
    Bytes in;
    runUntil(reactor, [&] {
      uint8_t buf[512];
      ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0)
        in.insert(in.end(), buf, buf + n);
      return in.size() >= 2 && in.size() >= size_t(in[0]) + 2;
    });
    ::close(fd);
    if (in.size() < 2)
      return {};
    return Bytes(in.begin() + 2, in.end());
  }

  sim::SimServer server{reactor};
  sim::RouterLogin login;
};

TEST_F(RouterLoginTest, UnknownNamesLookLikeRealOnes) {
  EXPECT_EQ(33u, challengeFor("admin").size());
  EXPECT_EQ(33u, challengeFor("nobody").size()); // a table without salted users
  login.addSaltedUser("bob", "pw");
  auto salt = [](const Bytes& challenge) {
    return challenge.size() == 49 ? Bytes(challenge.begin() + 33, challenge.end()) : Bytes{};
  };
  Bytes bob = salt(challengeFor("bob")), eve = salt(challengeFor("eve"));
  ASSERT_EQ(16u, bob.size());
  ASSERT_EQ(16u, eve.size());
  EXPECT_EQ(bob, salt(challengeFor("bob")));
  EXPECT_EQ(eve, salt(challengeFor("eve+r")));
  EXPECT_NE(bob, eve);
}

} // namespace
} // namespace kestel::test
