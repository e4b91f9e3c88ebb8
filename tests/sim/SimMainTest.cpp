// The nimbalux-sim program itself: "--port 0" prints the chosen port, and a client connection
// exchanges chunks with it over loopback.
#include "api/net/Connection.h"
#include "api/net/NetTestSupport.h"
#include "support/Constants.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace kestel {
namespace {

class SimProcess {
public:
  explicit SimProcess(const std::string& path) {
    int out[2];
    if (::pipe(out) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execl(path.c_str(), "nimbalux-sim", "--port", "0", "--echo", "6", nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
      line += c;
    ::close(out[0]);
    port = line.empty() ? 0 : std::stoi(line);
  }
  ~SimProcess() {
    if (pid_ <= 0)
      return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  int port = 0;

private:
  pid_t pid_ = -1;
};

TEST(SimMain, PrintsItsPortAndEchoesChunks) {
  ASSERT_EQ(::access(KESTEL_SIM_PATH, X_OK), 0) << KESTEL_SIM_PATH << " is not built";
  SimProcess sim(KESTEL_SIM_PATH);
  ASSERT_GT(sim.port, 0);
  ASSERT_LT(sim.port, 65536);

  PollReactor reactor(PollReactor::Clock::Manual);
  auto conn = createConnection(reactor);
  test::Collector six;
  conn->addReceiver(6, &six);
  conn->connect(test::kLoopback, uint32_t(sim.port));
  Bytes data(600);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = uint8_t(i * 13);
  conn->send(6, data.data(), data.size());
  test::runUntil(reactor, [&] { return six.bytes.size() >= data.size(); });
  EXPECT_EQ(six.bytes, data);
  conn->close(CloseMode::Now);
}

} // namespace
} // namespace kestel
