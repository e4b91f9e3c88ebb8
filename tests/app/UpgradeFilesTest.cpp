// The self-upgrade's files: the download beside the program (exclusive, 0700 whatever the umask,
// gone unless kept), the replacement (the mode kept, a reader of the old file undisturbed, the
// target whole when it fails), who may replace the program, and the whole hand-off of three
// processes run for real on a copy of a program.
#include "app/UpgradeFiles.h"
#include "app/Startup.h"
#include "app/UpgradeHandOff.h"
#include "app/UpgradeHandler.h"
#include "miw/SafeFile.h"
#include "miw/Settings.h"
#include "support/Programs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestel {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void writeFile(const std::string& path, ByteSpan data, mode_t mode) {
  ASSERT_TRUE(saveFileAtomically(path, data, ".save").ok());
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

TEST(UpgradeFilesTest, DownloadsAreExclusivePrivateAndGoUnlessKept) {
  test::TempFolder folder;
  std::string program = folder.file("kestel");
  mode_t oldMask = ::umask(0);
  Expected<DownloadFile> a = DownloadFile::create(program);
  ::umask(077);
  Expected<DownloadFile> b = DownloadFile::create(program);
  ::umask(oldMask);
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_NE(a->path(), b->path());
  for (DownloadFile* f : {&*a, &*b}) {
    EXPECT_TRUE(isDownloadName(f->path())) << f->path();
    EXPECT_EQ(parentFolder(f->path()), folder.path());
    EXPECT_EQ(modeOf(f->path()), 0700u);
  }
  EXPECT_TRUE(a->write(asBytes("new")) && a->finish());
  std::string kept = a->keep();
  std::string gone = b->path();
  *b = DownloadFile(); // the move removes what it replaces
  EXPECT_TRUE(isRegularFile(kept));
  EXPECT_FALSE(isRegularFile(gone));

  bool readOnly = true;
  EXPECT_FALSE(DownloadFile::create(folder.file("missing/kestel"), &readOnly).ok());
  EXPECT_FALSE(readOnly);

  for (const char* name : {"folder/.ksxAbc123", ".ksx000000"})
    EXPECT_TRUE(isDownloadName(name)) << name;
  for (const char* name : {"kestel", ".ksx", ".ksxAbc12", ".ksxAbc1234", "x.ksxAbc123"})
    EXPECT_FALSE(isDownloadName(name)) << name;
}

TEST(UpgradeFilesTest, ReplacementKeepsTheModeAndNeverShowsHalfAFile) {
  test::TempFolder folder;
  std::string source = folder.file("new");
  writeFile(source, asBytes(std::string(200000, 'n')), 0700);
  struct Case {
    mode_t before, after;
  } cases[] = {{0755, 0755}, {0700, 0700}, {0751, 0751}, {04755, 0755}, {02711, 0711}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    std::string target = folder.file("kestel");
    writeFile(target, asBytes("old"), c.before);
    int reader = ::open(target.c_str(), O_RDONLY); // like the running old program's image
    int in = ::open(source.c_str(), O_RDONLY);
    ASSERT_TRUE(replaceProgram(in, target).ok());
    ::close(in);
    EXPECT_EQ(modeOf(target), c.after);
    EXPECT_EQ(readWholeFile(target)->size(), 200000u);
    char old[4] = {};
    EXPECT_EQ(::pread(reader, old, 3, 0), 3);
    EXPECT_STREQ(old, "old");
    ::close(reader);
    EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"kestel", "new"}));
  }
  // A target that is missing or not a file fails and leaves nothing behind.
  fs::create_directory(folder.file("folder"));
  for (const std::string& target : {folder.file("missing"), folder.file("folder")}) {
    int in = ::open(source.c_str(), O_RDONLY);
    EXPECT_FALSE(replaceProgram(in, target).ok()) << target;
    ::close(in);
  }
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"folder", "kestel", "new"}));
}

TEST(UpgradeFilesTest, OnlyAProgramThisUserMayChangeIsReplaced) {
  test::TempFolder folder;
  std::string program = folder.file("kestel");
  writeFile(program, asBytes("old"), 0755);
  std::string list = folder.file("kestel.list");
  std::string reason;
  EXPECT_TRUE(canReplaceProgram(program, list, reason)); // no package list at all
  EXPECT_TRUE(reason.empty());
  writeFile(list, asBytes("/usr/bin/kestel\n" + program + "x\n"), 0644);
  EXPECT_TRUE(canReplaceProgram(program, list, reason));
  writeFile(list, asBytes("/usr/bin/kestel\n" + program + "\n"), 0644);
  EXPECT_FALSE(canReplaceProgram(program, list, reason));
  EXPECT_NE(reason.find("package manager"), std::string::npos);
  if (::geteuid() != 0) { // root may write anywhere
    ASSERT_EQ(::chmod(folder.path().c_str(), 0500), 0);
    EXPECT_FALSE(canReplaceProgram(program, folder.file("none"), reason));
    EXPECT_FALSE(DownloadFile::create(program).ok());
    ASSERT_EQ(::chmod(folder.path().c_str(), 0700), 0);
  }
}

TEST(UpgradeFilesTest, DeleteFormRemovesOnlyADownload) {
  test::TempFolder folder;
  std::string download = folder.file(".ksxAbc123");
  std::string other = folder.file("important");
  writeFile(download, asBytes("x"), 0700);
  writeFile(other, asBytes("x"), 0600);
  fs::create_directory(folder.file(".ksxFolder"));
  deleteDownloadedProgram(other);
  deleteDownloadedProgram(folder.file(".ksxFolder"));
  deleteDownloadedProgram(download);
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{".ksxFolder", "important"}));
}

// The three processes for real: this test starts the downloaded program (a copy of the probe
// with other trailing bytes) as step 1 would; it replaces the target, which deletes the download
// and starts as usual. Every process shares this process's standard error, redirected into a
// pipe, whose end of file says they have all finished.
TEST(UpgradeFilesTest, HandOffReplacesTheProgramAndRestartsIt) {
  std::string probeFolder = parentFolder(KESTEL_UPGRADE_PROBE_PATH);
  std::string pattern = probeFolder + "/upgrade-test-XXXXXX"; // a folder programs may run from
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  std::string folder = pattern;
  Bytes probe = readWholeFile(KESTEL_UPGRADE_PROBE_PATH).value();
  Bytes oldProgram = probe, newProgram = probe;
  for (char c : std::string("old version"))
    oldProgram.push_back(uint8_t(c));
  for (char c : std::string("new version"))
    newProgram.push_back(uint8_t(c));
  std::string target = folder + "/kestel";
  writeFile(target, oldProgram, 0751);
  Expected<DownloadFile> download = DownloadFile::create(target);
  ASSERT_TRUE(download.ok());
  ASSERT_TRUE(download->write(newProgram) && download->finish());
  std::string downloaded = download->keep();

  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  int savedError = ::dup(STDERR_FILENO);
  ::dup2(pipeFds[1], STDERR_FILENO);
  Expected<void> started = startUpgradedProgram(downloaded, target);
  ::dup2(savedError, STDERR_FILENO);
  ::close(savedError);
  ::close(pipeFds[1]);
  std::string output;
  pollfd p{pipeFds[0], POLLIN, 0};
  while (::poll(&p, 1, 60000) == 1) { // a safety net only: the chain ends in well under that
    char buf[4096];
    ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
    if (n <= 0)
      break;
    output.append(buf, size_t(n));
  }
  ::close(pipeFds[0]);

  ASSERT_TRUE(started.ok());
  EXPECT_NE(output.find("probe started with 0 arguments"), std::string::npos) << output;
  EXPECT_EQ(output.find("ERROR"), std::string::npos) << output;
  EXPECT_EQ(readWholeFile(target).value(), newProgram);
  EXPECT_EQ(modeOf(target), 0751u);
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{"kestel"}); // the download is gone
  fs::remove_all(folder);
}

// The upgrade server is off until set, and takes only a host with an optional port.
TEST(UpgradeSettingsTest, ServerIsSetFromTheCommandLine) {
  test::TempFolder home;
  std::string cli =
      "KESTEL_HOME=" + home.path() + " " + KESTEL_CLI_PATH + " settings upgrade-server";
  struct Step {
    std::string args, output, saved;
  } steps[] = {
      {"", "(none: the self-upgrade is off)\nexit 0", ""},
      {" 127.0.0.1:8080", "exit 0", "127.0.0.1:8080"},
      {" [::1]:80", "exit 0", "[::1]:80"},
      {" 'evil/path?x'", "kestel-cli: not a host name or address with a port: evil/path?x\nexit 2",
       "[::1]:80"},
      {"", "[::1]:80\nexit 0", "[::1]:80"},
      {" --off", "exit 0", ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args);
    EXPECT_EQ(test::runCommand(cli + step.args), step.output);
    SettingsRegistry settings;
    settings.loadSettings(home.file(kSettingsFileName));
    EXPECT_EQ(upgradeServerSetting(settings), step.saved);
  }
}

} // namespace
} // namespace kestel
