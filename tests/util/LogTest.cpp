#include "util/Log.h"

#include "util/Assert.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

TEST(Log, SplitsEmbeddedNewlinesIntoLines) {
  CaptureLogSink capture;
  logLine("ERROR: first\nsecond\n");
  logf("WARNING: count=", 3, " of ", 7u);
  ASSERT_EQ(capture.lines().size(), 3u);
  EXPECT_EQ(capture.lines()[0], "ERROR: first");
  EXPECT_EQ(capture.lines()[1], "second");
  EXPECT_EQ(capture.lines()[2], "WARNING: count=3 of 7");
  EXPECT_TRUE(capture.contains("count=3"));
}

TEST(Log, RemovedSinkSeesNothing) {
  auto capture = std::make_unique<CaptureLogSink>();
  capture.reset();
  CaptureLogSink other;
  logLine("INF: after");
  EXPECT_EQ(other.text(), "INF: after\n");
}

TEST(Log, DefaultPathFollowsKestelHome) {
  setenv("KESTEL_HOME", "/tmp/kestel-home", 1);
  EXPECT_EQ(defaultLogPath(), "/tmp/kestel-home/kestel.log");
  unsetenv("KESTEL_HOME");
  setenv("XDG_STATE_HOME", "/tmp/state", 1);
  EXPECT_EQ(defaultLogPath(), "/tmp/state/Halvorne/Kestel/kestel.log");
  unsetenv("XDG_STATE_HOME");
}

TEST(AssertDeathTest, WritesPathAndLineThenAborts) {
  EXPECT_DEATH(KESTEL_ASSERT(1 + 1 == 3, "api/packer"), "ASSERT in api/packer:[0-9]+");
}

} // namespace
} // namespace kestel
