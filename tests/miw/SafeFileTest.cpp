#include "miw/SafeFile.h"

#include "support/Constants.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestel {
namespace {

Bytes pattern(uint8_t seed, size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = uint8_t(seed + i * 7);
  return out;
}

size_t temporaryFilesIn(const std::string& folder) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    n += e.path().filename().string().rfind("kstl", 0) == 0;
  return n;
}

// A writer killed with SIGKILL at any write of its save leaves the old file or the new one,
// whole: never a mix, never a short file.
TEST(SafeFile, KilledWriterLeavesTheOldOrTheNewFileWhole) {
  test::TempFolder dir;
  const std::string target = dir.file("Addresses.cdb");
  const size_t size = 20000, chunk = 512, writes = (size + chunk - 1) / chunk;
  Bytes current = pattern(0, size);
  ASSERT_TRUE(saveFileAtomically(target, current, "kstl").ok());
  std::mt19937 rng(test::kSeed);
  size_t killed = 0, finished = 0;
  for (int run = 0; run < 40; ++run) {
    Bytes next = pattern(uint8_t(run + 1), size);
    size_t killAt = rng() % (writes + 5); // past the last write: the save completes
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setSaveWriteHookForTesting(
          [killAt](size_t index) {
            if (index == killAt)
              ::raise(SIGKILL);
            return true;
          },
          chunk);
      ::_exit(saveFileAtomically(target, next, "kstl").ok() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    auto now = readWholeFile(target);
    ASSERT_TRUE(now.ok());
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), SIGKILL);
      EXPECT_EQ(*now, current) << "run " << run << " killed at write " << killAt;
      ++killed;
    } else {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_EQ(*now, next) << "run " << run;
      current = next;
      ++finished;
    }
  }
  EXPECT_GT(killed, 0u);
  EXPECT_GT(finished, 0u);
  // Each killed save leaves its private temporary file behind, never a second target.
  EXPECT_EQ(temporaryFilesIn(dir.path()), killed);
}

TEST(SafeFile, FilesAreCreatedPrivateInTheTargetsFolder) {
  test::TempFolder dir;
  ::umask(0);
  auto saved = saveFileAtomically(dir.file("a"), pattern(1, 10), "kstl");
  ::umask(022);
  ASSERT_TRUE(saved.ok());
  struct stat st;
  ASSERT_EQ(::stat(dir.file("a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(temporaryFilesIn(dir.path()), 0u);
}

TEST(SafeFile, FailuresLeaveTheTargetAndNoTemporaryFile) {
  test::TempFolder dir;
  ASSERT_TRUE(saveFileAtomically(dir.file("t"), pattern(1, 10), "kstl").ok());
  // The target's folder is missing.
  auto missing = saveFileAtomically(dir.file("no/such/t"), pattern(2, 10), "kstl");
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.error().text.find("No such file"), std::string::npos);
  // A folder stands where the file should go: rename fails after the data was written.
  ASSERT_EQ(::mkdir(dir.file("d").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(dir.file("d/x").c_str(), 0700), 0);
  EXPECT_FALSE(saveFileAtomically(dir.file("d"), pattern(3, 10), "kstl").ok());
  EXPECT_EQ(temporaryFilesIn(dir.path()), 0u);
  EXPECT_EQ(*readWholeFile(dir.file("t")), pattern(1, 10));
  auto absent = readWholeFile(dir.file("absent"));
  ASSERT_FALSE(absent.ok());
}

} // namespace
} // namespace kestel
