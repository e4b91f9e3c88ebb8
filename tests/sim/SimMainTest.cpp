// The nimbalux-sim program itself: "--port 0" prints the chosen port, and a client connection
// exchanges chunks with it over loopback.
#include "MenuTestSupport.h"
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

TEST(SimMain, HelpNamesTheMenuSwitchesAndBadValuesAreRefused) {
  std::string help = test::runCommand(std::string(KESTEL_SIM_PATH) + " --help");
  for (const char* option :
       {"--rows", "--table", "--page-size", "--churn", "--user-policy", "--fail-commits",
        "--slow-pages", "--drop-subscription", "--default-config"})
    EXPECT_NE(std::string::npos, help.find(option)) << option;
  EXPECT_NE(std::string::npos, help.find("exit 0"));
  for (const char* bad : {"--rows -1", "--page-size 0", "--churn x", "--user-policy admin",
                          "--table nosuch --rows 5", "--user-policy ghost:0x40"})
    EXPECT_NE(std::string::npos,
              test::runCommand(std::string(KESTEL_SIM_PATH) + " --port 0 " + bad).find("exit 2"))
        << bad;
}

// The program fills its large table as asked and serves it in pages to a logged-in client.
TEST(SimMain, LargeTableServedInPages) {
  test::SimProcess sim(KESTEL_SIM_PATH, {"--user", "admin:pw", "--rows", "100000", "--table",
                                         "routes", "--page-size", "1000"});
  ASSERT_GT(sim.port, 0);
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  test::MenuClient client(reactor, uint16_t(sim.port), "admin");
  size_t objects = 0, pages = 0;
  nv::message request;
  uint32_t previous = 0;
  for (;;) {
    nv::message reply = client.call({21, 2}, CMD_GETALL, request);
    ASSERT_FALSE(isError(reply));
    ++pages;
    for (uint32_t id : test::idsOf(reply)) {
      EXPECT_GT(id, previous);
      previous = id;
      ++objects;
    }
    if (reply.get(STD_GETALLID) == 0xFFFFFFFF)
      break;
    request.set(STD_GETALLID, reply.get(STD_GETALLID));
    request.set(sim::kCookie, reply.get(sim::kCookie));
  }
  EXPECT_EQ(100000u, objects);
  EXPECT_EQ(100u, pages);
}

} // namespace
} // namespace kestel
