// The session window's title forms, connection status lines and status bar fields.
#include "app/SessionTexts.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestel::test {
namespace {

SessionTitle title(const char* login, const char* address, const char* identity = "",
                   const char* version = "", const char* arch = "", const char* board = "",
                   const char* agent = "", const char* suffix = "") {
  return {login, address, identity, version, arch, board, agent, suffix};
}

TEST(SessionTextsTest, TitleGrowsAsTheRouterValuesArrive) {
  struct Case {
    SessionTitle title;
    const char* want;
  };
  const Case cases[] = {
      {title("admin", "192.0.2.1"), "admin@192.0.2.1 - Kestel (64bit)"},
      // The version alone is not enough: the identity starts the long form.
      {title("admin", "192.0.2.1", "", "7.15"), "admin@192.0.2.1 - Kestel (64bit)"},
      {title("admin", "192.0.2.1", "core", "7.15"),
       "admin@192.0.2.1 (core) - Kestel (64bit) v7.15"},
      {title("admin", "192.0.2.1", "core", "7.15", "mipsbe", "hex-s"),
       "admin@192.0.2.1 (core) - Kestel (64bit) v7.15 on mipsbe (hex-s)"},
      {title("admin", "00:0C:42:01:02:03", "edge", "7.15", "arm", "", "192.0.2.9", "dev"),
       "admin@00:0C:42:01:02:03 (edge) via 192.0.2.9 - Kestel (64bit) v7.15 on arm+dev"},
      {title("admin", "192.0.2.1", "core", "7.15", "", "hex-s"),
       "admin@192.0.2.1 (core) - Kestel (64bit) v7.15 (hex-s)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(sessionTitleText(c.title), c.want);
}

TEST(SessionTextsTest, ConnectionStatusLines) {
  EXPECT_EQ(connectionStatusText(ConnectionPhase::Connecting, "192.0.2.1", 8291),
            "Connecting to 192.0.2.1 (port 8291)...");
  EXPECT_EQ(connectionStatusText(ConnectionPhase::LoggingIn, "::1", 1),
            "Logging in ::1 (port 1)...");
  EXPECT_EQ(connectionStatusText(ConnectionPhase::RetrievingPreferences, "r1", 65535),
            "Retrieving preferences from r1 (port 65535)...");
  EXPECT_EQ(couldNotConnectText("r1"), "Could not connect to r1!");
}

struct Lines final : LogSink {
  void writeLine(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

TEST(SessionTextsTest, StatusBarKeepsTheBootTime) {
  Lines log;
  addLogSink(&log);
  StatusBar bar;
  EXPECT_EQ(bar.field("Uptime", 100), "");
  bar.setClock("13:04:05", "Jan/05/2024");
  bar.setResources("12%", "96.0 MiB", 3600, 10000); // booted at 6400
  EXPECT_EQ(bar.field("Time", 0), "13:04:05");
  EXPECT_EQ(bar.field("Date", 0), "Jan/05/2024");
  EXPECT_EQ(bar.field("CPU Load", 0), "12%");
  EXPECT_EQ(bar.field("Free Memory", 0), "96.0 MiB");
  // The field counts on between updates; a day and more shows the days.
  EXPECT_EQ(bar.field("Uptime", 10000), "01:00:00");
  EXPECT_EQ(bar.field("Uptime", 6400 + 90061), "1d 01:01:01");
  // The same boot time says nothing, nor does a second's difference of the two clocks' ticks; a
  // reboot (or a clock step) is logged once.
  bar.setResources("1%", "1", 3601, 10001);
  bar.setResources("1%", "1", 3601, 10002);
  bar.setResources("1%", "1", 3603, 10002);
  EXPECT_TRUE(log.lines.empty());
  bar.setResources("1%", "1", 5, 20000);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], "INF: updating bootTime 6400 -> 19995 diff:13595");
  // A router clock ahead of ours never shows a negative uptime.
  bar.setResources("1%", "1", 30000, 20000);
  EXPECT_EQ(bar.field("Uptime", 20000), "08:20:00");
  EXPECT_EQ(bar.field("Unknown", 0), "");
  removeLogSink(&log);
}

} // namespace
} // namespace kestel::test
