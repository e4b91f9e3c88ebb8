// "Open In New Window": the parameter pipe (round trip of a message larger than a pipe holds,
// every way a child's input can be cut or forged, a reader that is gone), the child's inherited
// descriptors (only the standard ones and the socket, whatever else the parent holds open), and
// end to end: kestel-cli logs in to the simulator and hands the session to a new kestel-cli,
// which reads the router's index over the same connection after the parent has exited.
#include "app/HandOff.h"
#include "app/CommandLine.h"
#include "app/ParameterPipe.h"
#include "support/Programs.h"
#include "support/TempFolder.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestel {
namespace {

// The parameters read back from `bytes` written to a pipe that is then closed.
nv::message readFromPipe(const Bytes& bytes) {
  int fds[2];
  EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  std::thread writer([&] {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fds[1], bytes.data() + done, bytes.size() - done);
      if (n <= 0)
        break;
      done += size_t(n);
    }
    ::close(fds[1]);
  });
  nv::message m = readSessionParameters(fds[0]);
  writer.join();
  ::close(fds[0]);
  return m;
}

Bytes framed(uint32_t length, const Bytes& body) {
  Bytes out(4 + body.size()); // built at full size: gcc -O2 misreads an insert after 4 bytes
  for (int i = 0; i < 4; ++i)
    out[size_t(i)] = uint8_t(length >> (8 * i));
  std::copy(body.begin(), body.end(), out.begin() + 4);
  return out;
}

TEST(ParameterPipe, CarriesParametersLargerThanThePipeHolds) {
  nv::message p;
  p.set(param::kAddress, "198.51.100.7");
  p.set(param::kIndexBytes, Bytes(60000, 0x5A));
  p.set(param::kSkinBytes, Bytes(60000, 0xA5));
  nv::message state;
  state.set(nv::u64_id(3), 7u);
  p.set(param::kConnectionState, state);
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  std::thread writer([&] {
    EXPECT_TRUE(writeSessionParameters(fds[1], p).ok());
    ::close(fds[1]);
  });
  nv::message got = readSessionParameters(fds[0]);
  writer.join();
  ::close(fds[0]);
  EXPECT_EQ(got, p);
}

TEST(ParameterPipe, RefusesCutAndForgedInput) {
  nv::message valid;
  valid.set(param::kLogin, "admin");
  Bytes body;
  ASSERT_TRUE(valid.flatten(body));
  Bytes garbage(body.size(), 0xEE);
  struct Row {
    const char* name;
    Bytes bytes;
    const char* logged; // nullptr: read whole
  };
  const std::vector<Row> rows = {
      {"nothing", {}, "bad read len"},
      {"three bytes", {1, 0, 0}, "bad read len"},
      {"body cut", framed(uint32_t(body.size()), Bytes(body.begin(), body.end() - 1)),
       "read trimmed msg"},
      {"huge length", framed(0xFFFFFFF0u, body), "refused"},
      {"not a message", framed(uint32_t(garbage.size()), garbage), "do not decode"},
      {"whole", framed(uint32_t(body.size()), body), nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CaptureLogSink log;
    nv::message got = readFromPipe(row.bytes);
    if (row.logged) {
      EXPECT_TRUE(got.empty());
      EXPECT_TRUE(log.contains(row.logged)) << log.text();
    } else {
      EXPECT_EQ(got, valid);
    }
  }
  CaptureLogSink log;
  EXPECT_TRUE(readSessionParameters(-1).empty());
  EXPECT_TRUE(log.contains("read len failed 9")); // EBADF
}

TEST(ParameterPipe, AGoneReaderIsAnErrorNotTheEndOfTheWriter) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  ::close(fds[0]);
  CaptureLogSink log;
  nv::message p;
  p.set(param::kLogin, "admin");
  EXPECT_FALSE(writeSessionParameters(fds[1], p).ok());
  EXPECT_TRUE(log.contains("write len failed 32")) << log.text(); // EPIPE
  ::close(fds[1]);
}

// Whatever the parent holds open, with or without close-on-exec, the child gets its standard
// descriptors, the parameter pipe as standard input and the one socket, nothing else.
TEST(HandOff, ChildInheritsOnlyTheSocketAndItsInput) {
  test::TempFolder folder;
  int leaky[2];
  ASSERT_EQ(::pipe(leaky), 0); // deliberately not close-on-exec
  int sp[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sp), 0);
  int kept = ::fcntl(sp[0], F_DUPFD_CLOEXEC, 60);
  ASSERT_GE(kept, 60);
  nv::message p;
  p.set(param::kLogin, "someone");
  std::string listing = folder.file("fds");
  ASSERT_EQ(::mkfifo(listing.c_str(), 0600), 0);
  std::string input = folder.file("input");
  std::string script =
      "cat > " + input + "; exec 1>" + listing + "; LC_ALL=C exec ls /proc/self/fd";
  ASSERT_TRUE(startProcess("/bin/sh", {"sh", "-c", script}, &p, kept).ok());
  // The child belongs to init, not to this process: its listing ends when it does.
  std::set<std::string> fds;
  std::ifstream fifo(listing);
  for (std::string line; std::getline(fifo, line);)
    fds.insert(line);
  // ls's own directory descriptor takes the lowest free number.
  EXPECT_EQ(fds, (std::set<std::string>{"0", "1", "2", "3", std::to_string(kept)}));
  std::ifstream in(input, std::ios::binary);
  Bytes sent((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(readFromPipe(sent), p);
  // Still close-on-exec here: the next child does not get it.
  EXPECT_NE(::fcntl(kept, F_GETFD) & FD_CLOEXEC, 0);
  for (int fd : {leaky[0], leaky[1], sp[0], sp[1], kept})
    ::close(fd);
}

TEST(HandOff, AProgramThatCannotStartIsReported) {
  CaptureLogSink log;
  EXPECT_FALSE(startProcess("/nonexistent/kestel", {"kestel", "-"}, nullptr, -1).ok());
  EXPECT_TRUE(log.contains("ERROR: could not start process"));
  EXPECT_FALSE(startNewInstance("/nonexistent/kestel").ok());
  EXPECT_TRUE(log.contains("ERROR: failed to start updated version"));
}

// The parent exits once the child has the session; the child's output reaches the same pipe,
// so the command's output ends only when both are done.
TEST(HandOff, KestelCliHandsTheLoggedInSessionToANewProcess) {
  struct Row {
    const char* name;
    std::vector<std::string> simArgs;
    const char* cliArgs;
    const char* login;
  };
  const std::vector<Row> rows = {
      {"secure", {"--user", "admin:admin", "--skin", "operator"}, "", "secure"},
      {"legacy", {"--user", "admin:admin", "--refuse-secure"}, "--legacy ", "legacy"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::SimProcess sim(KESTEL_SIM_PATH, row.simArgs);
    ASSERT_GT(sim.port, 0);
    test::TempFolder home;
    std::string out = test::runCommand("KESTEL_HOME=" + home.path() + " KESTEL_PASSWORD=admin " +
                                       KESTEL_CLI_PATH + " --new-window " + row.cliArgs +
                                       "127.0.0.1:" + std::to_string(sim.port) + " admin");
    EXPECT_NE(out.find("session handed over to a new process"), std::string::npos) << out;
    EXPECT_NE(out.find(std::string("handed-over session carries on (") + row.login + " login)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("bytes, as handed over"), std::string::npos) << out;
    EXPECT_EQ(out.find("skin handed over: ") != std::string::npos,
              row.login == std::string("secure"))
        << out;
    EXPECT_NE(out.find("IP\n  Addresses\n"), std::string::npos) << out;
    EXPECT_NE(out.find("exit 0"), std::string::npos) << out;
    std::ifstream logFile(home.file("kestel.log"));
    std::stringstream log;
    log << logFile.rdbuf();
    EXPECT_NE(log.str().find("session handed over"), std::string::npos);
    EXPECT_NE(log.str().find("needs to download 0"), std::string::npos) << log.str();
    EXPECT_EQ(log.str().find("startKeyExchange", log.str().find("session handed over")),
              std::string::npos); // the child never logs in
  }
}

} // namespace
} // namespace kestel
