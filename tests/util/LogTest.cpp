#include "util/Log.h"

#include "util/Assert.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The log may hold what a user did and where: only its owner reads it, whatever the umask.
TEST(Log, FileAndFoldersArePrivateWhateverTheUmask) {
  char base[] = "/tmp/kestel-log-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(base));
  for (mode_t mask : {mode_t(0), mode_t(022), mode_t(077), mode_t(0777)}) {
    SCOPED_TRACE(mask);
    std::string dir = std::string(base) + "/m" + std::to_string(mask);
    std::string path = dir + "/a/b/kestel.log";
    mode_t old = ::umask(mask);
    bool opened = openLogFile(path);
    ::umask(old);
    ASSERT_TRUE(opened);
    logLine("INF: private");
    ASSERT_TRUE(openLogFile(""));
    struct stat st {};
    for (const std::string& folder : {dir, dir + "/a", dir + "/a/b"}) {
      ASSERT_EQ(0, ::stat(folder.c_str(), &st)) << folder;
      EXPECT_EQ(0700u, st.st_mode & 07777) << folder;
    }
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ("INF: private", line);
  }
  // An existing file with looser bits is tightened.
  std::string loose = std::string(base) + "/loose.log";
  ::close(::open(loose.c_str(), O_CREAT | O_WRONLY, 0644));
  ::chmod(loose.c_str(), 0644);
  ASSERT_TRUE(openLogFile(loose));
  ASSERT_TRUE(openLogFile(""));
  struct stat st {};
  ASSERT_EQ(0, ::stat(loose.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
  std::filesystem::remove_all(base);
}

TEST(AssertDeathTest, WritesPathAndLineThenAborts) {
  EXPECT_DEATH(KESTEL_ASSERT(1 + 1 == 3, "api/packer"), "ASSERT in api/packer:[0-9]+");
}

} // namespace
} // namespace kestel
