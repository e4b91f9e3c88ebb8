// The nimbalux-sim program itself: "--port 0" prints the chosen port, and a client connection
// exchanges chunks with it over loopback.
#include "api/net/Connection.h"
#include "api/net/NetTestSupport.h"
#include "support/Constants.h"
#include "support/Programs.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace kestel {
namespace {

TEST(SimMain, PrintsItsPortAndEchoesChunks) {
  ASSERT_EQ(::access(KESTEL_SIM_PATH, X_OK), 0) << KESTEL_SIM_PATH << " is not built";
  test::SimProcess sim(KESTEL_SIM_PATH, {"--echo", "6"});
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
