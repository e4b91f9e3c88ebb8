// Several census instances in one process on a manual clock: a census counts the others, a quit
// reaches everyone but the sender, sockets of dead instances are swept (at open and when a send
// to them is refused), strangers and malformed datagrams get nothing, and the folder must be
// private to the user.
#include "app/InstanceCensus.h"
#include "support/ModelFixture.h"
#include "support/TempFolder.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestel {
namespace {

sockaddr_un addressOf(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return a;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A socket file nobody is bound to any more, as a killed instance leaves it.
void leaveStaleSocket(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un a = addressOf(path);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::close(fd);
}

class InstanceCensusTest : public test::ModelFixture {
protected:
  InstanceCensusTest() { EXPECT_TRUE(ensurePrivateFolder(folder).ok()); }

  std::unique_ptr<InstanceCensus> open(int& quits) {
    auto census = InstanceCensus::open(reactor, folder, [&quits] { ++quits; });
    EXPECT_TRUE(census.ok());
    return census ? std::move(*census) : nullptr;
  }
  void pump() {
    for (int i = 0; i < 4; ++i)
      reactor.runOnce(0);
  }

  test::TempFolder temp;
  std::string folder = temp.file("census");
};

TEST_F(InstanceCensusTest, CountsTheOthersAndTellsThemToQuit) {
  int quitsA = 0, quitsB = 0, quitsC = 0;
  auto a = open(quitsA);
  auto b = open(quitsB);
  auto c = open(quitsC);
  ASSERT_TRUE(a && b && c);
  CaptureLogSink log;
  std::optional<unsigned int> counted;
  a->count([&](unsigned int n) { counted = n; });
  pump();
  reactor.advance(kCensusWaitMs - 1);
  EXPECT_FALSE(counted);
  reactor.advance(1);
  EXPECT_EQ(counted, 2u);
  EXPECT_TRUE(log.contains("active windows=2"));

  c.reset(); // an instance that ends removes its socket
  counted.reset();
  b->count([&](unsigned int n) { counted = n; });
  pump();
  reactor.advance(kCensusWaitMs);
  EXPECT_EQ(counted, 1u);

  a->closeOthers();
  pump();
  EXPECT_EQ(quitsA, 0);
  EXPECT_EQ(quitsB, 1);
}

TEST_F(InstanceCensusTest, SocketsOfDeadInstancesAreSwept) {
  std::string before = folder + "/99999999.1";
  leaveStaleSocket(before);
  std::string foreign = folder + "/notes.txt";
  leaveStaleSocket(foreign); // not an instance's name: left alone
  int quits = 0;
  auto a = open(quits);
  EXPECT_FALSE(exists(before));
  EXPECT_TRUE(exists(foreign));

  std::string after = folder + "/99999999.2";
  leaveStaleSocket(after);
  std::optional<unsigned int> counted;
  a->count([&](unsigned int n) { counted = n; });
  EXPECT_FALSE(exists(after)); // the send to it was refused
  pump();
  reactor.advance(kCensusWaitMs);
  EXPECT_EQ(counted, 0u);
}

TEST_F(InstanceCensusTest, StrangersAndMalformedDatagramsGetNothing) {
  int quits = 0;
  auto a = open(quits);
  // An unbound sender, a sender outside the folder, and a sender of the folder with the wrong
  // length or value.
  test::TempFolder elsewhere;
  int outsider = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un out = addressOf(elsewhere.file("1.1"));
  ASSERT_EQ(::bind(outsider, reinterpret_cast<sockaddr*>(&out), sizeof out), 0);
  int unbound = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int member = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un in = addressOf(folder + "/1.77");
  ASSERT_EQ(::bind(member, reinterpret_cast<sockaddr*>(&in), sizeof in), 0);
  sockaddr_un target = addressOf(a->path());
  auto send = [&](int fd, std::vector<uint8_t> bytes) {
    ASSERT_EQ(::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&target),
                       sizeof target),
              ssize_t(bytes.size()));
  };
  send(unbound, {kCensusQuit});
  send(outsider, {kCensusAsk});
  send(member, {kCensusAsk, 0});
  send(member, {7});
  send(member, {});
  pump();
  uint8_t answer = 0xEE;
  EXPECT_EQ(::recv(outsider, &answer, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(::recv(member, &answer, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(quits, 0);
  // The same member asking properly is answered.
  send(member, {kCensusAsk});
  pump();
  EXPECT_EQ(::recv(member, &answer, 1, MSG_DONTWAIT), 1);
  EXPECT_EQ(answer, kCensusAnswer);
  for (int fd : {outsider, unbound, member})
    ::close(fd);
}

TEST_F(InstanceCensusTest, TheFolderMustBePrivate) {
  std::string shared = temp.file("shared");
  ASSERT_EQ(::mkdir(shared.c_str(), 0755), 0);
  ::chmod(shared.c_str(), 0755);
  CaptureLogSink log;
  EXPECT_FALSE(ensurePrivateFolder(shared).ok());
  EXPECT_TRUE(log.contains("is not a folder of this user alone"));
  std::string link = temp.file("link");
  ASSERT_EQ(::symlink(folder.c_str(), link.c_str()), 0);
  EXPECT_FALSE(ensurePrivateFolder(link).ok());

  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  std::string savedValue = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1);
  auto chosen = censusFolder();
  ASSERT_TRUE(chosen.ok());
  EXPECT_EQ(*chosen, temp.path() + "/kestel");
  struct stat st {};
  ASSERT_EQ(::stat(chosen->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  if (saved)
    ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
  else
    ::unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
} // namespace kestel
