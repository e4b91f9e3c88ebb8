// Connect and get ready against the in-process simulator over loopback (one reactor with a
// manual clock drives both sides): cold and warm caches, a changed checksum value, the legacy
// raw channel, the skin, the version gate, every failure the router can cause, and a disk that
// fills up mid-download. The simulator's own files are the oracle for the cached bytes.
#include "api/net/Looper.h"
#include "app/MenuCatalog.h"
#include "app/ReadyStep.h"
#include "app/SessionLink.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "gen/Skin.h"
#include "gen/Slot.h"
#include "sim/FileService.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"
#include "support/Constants.h"
#include "support/ModelFixture.h"
#include "util/Log.h"

#include "CacheTestSupport.h"
#include "support/Programs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/resource.h>

namespace kestel {
namespace {

// gen/CType.h and the wire vocabulary both define command values, so this file names the two
// keys it needs itself.
const nv::u32_id kCommand{0xFF0007};
const nv::u32_id kTransferId{0xFE0001};

class DescriptorDownloadTest : public test::ModelFixture {
public:
  DescriptorDownloadTest() {
    login.addUser("admin", "pw");
    login.install(server);
    port = *server.listen(0);
  }
  ~DescriptorDownloadTest() override {
    if (step)
      step->cancel();
    step = nullptr;
  }

  // Loads and serves the files with the current options.
  void serve() {
    ASSERT_TRUE(files.load(login.facts().version).ok());
    files.install(login, server);
  }

  bool drive(const std::function<bool()>& done) { return drive(done, 1); }
  bool drive(const std::function<bool()>& done, int64_t stepMs) {
    auto limit = std::chrono::steady_clock::now() + test::kRealTimeLimit;
    while (!done() && std::chrono::steady_clock::now() < limit) {
      reactor.runOnce(1);
      reactor.advance(stepMs);
    }
    return done();
  }

  ReadyOutcome ready(bool legacy = false, int64_t stepMs = 1, std::string user = "admin") {
    resetModel();
    files.clearOpened();
    statuses.clear();
    ReadyRequest request;
    request.connect = ConnectRequest{test::kLoopback, port, user, "pw", legacy, legacy};
    request.appData = scratch.path();
    std::optional<ReadyOutcome> outcome;
    step = makeRef<ReadyStep>(
        reactor, request, [this](const std::string& s) { statuses.push_back(s); },
        [&](const ReadyOutcome& o) { outcome = o; });
    step->start();
    int64_t start = reactor.now();
    EXPECT_TRUE(drive([&] { return outcome.has_value(); }, stepMs));
    elapsedMs = reactor.now() - start;
    return outcome.value_or(ReadyOutcome{});
  }

  std::vector<std::string> downloaded(const ReadyOutcome& o) {
    return o.cache ? o.cache->downloaded() : std::vector<std::string>{"no cache"};
  }

  std::string versionFolder() {
    for (const sim::ServedFile& f : files.files())
      if (f.name == "nimblux.jg")
        return scratch.path() + "/" + f.version + "-" + std::to_string(f.crc);
    return {};
  }

  void expectCacheHoldsServedFiles() {
    for (const sim::ServedFile& f : files.files()) {
      SCOPED_TRACE(f.name);
      EXPECT_EQ(test::readWhole(versionFolder() + "/" + f.name),
                std::string(f.plain.begin(), f.plain.end()));
    }
  }

  sim::SimServer server{reactor};
  sim::RouterLogin login;
  sim::FileService files;
  uint16_t port = 0;
  test::TempFolder scratch;
  Reference<ReadyStep> step;
  std::vector<std::string> statuses;
  int64_t elapsedMs = 0;
  CaptureLogSink log;
};

const std::vector<std::string> kAllFiles = {"nimblux.jg", "ipv6.jg",     "tools.jg",
                                            "icons.png",  "icons24.png", "icons32.png"};

TEST_F(DescriptorDownloadTest, ColdThenWarmThenOneChangedFile) {
  serve();
  for (bool legacy : {false, true}) {
    SCOPED_TRACE(legacy ? "legacy session, raw channel 2" : "secure session, file handler");
    std::filesystem::remove_all(versionFolder());
    ReadyOutcome cold = ready(legacy);
    ASSERT_TRUE(cold.ok) << cold.error;
    EXPECT_EQ(downloaded(cold), kAllFiles);
    expectCacheHoldsServedFiles();
    EXPECT_EQ(files.opened().front(), "list");
    if (legacy) { // the raw channel never carries the compressed flag: the router picks gzip
      EXPECT_EQ(files.opened()[1], "nimblux.jg.gz");
    }
    EXPECT_NE(getService(nullptr, "Interfaces"), nullptr);
    EXPECT_EQ(cold.cache->loaded().icons24, versionFolder() + "/icons24.png");
    EXPECT_TRUE(cold.cache->loaded().hasPackage("tools"));
    EXPECT_TRUE(cold.cache->loaded().hasPackage("ipv6"));
    EXPECT_FALSE(cold.cache->loaded().hasPackage("nimblux"));

    ReadyOutcome warm = ready(legacy);
    ASSERT_TRUE(warm.ok) << warm.error;
    EXPECT_TRUE(downloaded(warm).empty());
    EXPECT_EQ(files.opened(), std::vector<std::string>{"list"});
    EXPECT_FALSE(services().empty());
  }
  files.bumpChecksum("tools.jg");
  ReadyOutcome changed = ready();
  ASSERT_TRUE(changed.ok) << changed.error;
  EXPECT_EQ(downloaded(changed), std::vector<std::string>{"tools.jg"});
  EXPECT_EQ(test::readWhole(versionFolder() + "/tools.crc"),
            std::to_string(files.files()[2].crc) + "\n");
}

TEST_F(DescriptorDownloadTest, TheLoginTellsTheModelItsUserAndPolicy) {
  login.addUser("reader", "pw", 0x40);
  serve();
  for (bool legacy : {false, true}) {
    SCOPED_TRACE(legacy ? "legacy session" : "secure session");
    for (auto [user, policy] : {std::pair<const char*, uint32_t>{"reader", 0x40u},
                                std::pair<const char*, uint32_t>{"admin", 0xFFFFFFFFu}}) {
      ReadyOutcome o = ready(legacy, 1, user);
      ASSERT_TRUE(o.ok) << o.error;
      EXPECT_EQ(userPolicy(), policy);
      EXPECT_EQ(loggedInUser(), user);
    }
  }
}

TEST_F(DescriptorDownloadTest, SkinIsFetchedAndApplied) {
  login.facts().skin = "operator";
  serve();
  ReadyOutcome o = ready();
  ASSERT_TRUE(o.ok) << o.error;
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Downloading skin..."), statuses.end());
  EXPECT_EQ(files.opened().back(), "skins/operator.json");
  EXPECT_FALSE(activeSkin().root().children.empty());
}

TEST_F(DescriptorDownloadTest, SlowFilesShowProgressAtMostEveryHalfSecond) {
  files.options().slowFiles = true;
  serve();
  // Each turn moves the reactor's clock 10 ms and a slow file needs a turn per 256 bytes.
  ReadyOutcome o = ready(false, 10);
  ASSERT_TRUE(o.ok) << o.error;
  ASSERT_GE(elapsedMs, 1000);
  ASSERT_FALSE(statuses.empty());
  EXPECT_LE(statuses.size(), size_t(elapsedMs / 501 + 1));
  for (const std::string& s : statuses) {
    SCOPED_TRACE(s);
    EXPECT_EQ(s.rfind("Downloading descriptors ", 0), 0u);
    EXPECT_NE(s.find(" of "), std::string::npos);
    EXPECT_EQ(s.substr(s.size() - 3), "bps");
  }
}

TEST_F(DescriptorDownloadTest, VersionGate) {
  struct Case {
    const char* required;
    bool refused;
  } cases[] = {{"", false},    {"3.43", false},    {"3.43rc1", false}, {"3.43.1", true},
               {"3.44", true}, {"3.43test", true}, {"3.x", false}};
  serve();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.required);
    login.facts().requiredClient = c.required;
    ReadyOutcome o = ready();
    EXPECT_EQ(o.ok, !c.refused);
    EXPECT_EQ(o.error, c.refused ? kNeedsNewerClient : "");
    if (c.refused) {
      EXPECT_TRUE(files.opened().empty()); // refused before any download
    }
  }
}

TEST_F(DescriptorDownloadTest, RouterFaultsEndWithTheirText) {
  struct Case {
    const char* what;
    std::function<void(sim::FileServiceOptions&)> set;
    std::string error;
    bool indexMissing;
  } cases[] = {
      {"no index", [](auto& o) { o.noIndex = true; }, "could not fetch index", true},
      {"corrupt gzip", [](auto& o) { o.corruptGzip = true; }, "corrupted gzip", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    files = sim::FileService();
    c.set(files.options());
    serve();
    ReadyOutcome o = ready();
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, c.error);
    ASSERT_TRUE(o.cache);
    EXPECT_EQ(o.cache->isIndexMissing(), c.indexMissing);
    EXPECT_TRUE(services().empty());
  }
}

TEST_F(DescriptorDownloadTest, RouterGoneMidDownloadEndsTheStep) {
  files.options().slowFiles = true;
  serve();
  server.setDropAfterBytes(6000); // the login and a few dozen read requests
  ReadyOutcome o = ready();
  EXPECT_FALSE(o.ok);
  EXPECT_FALSE(o.error.empty());
  ASSERT_TRUE(o.cache);
  EXPECT_LT(o.cache->downloaded().size(), kAllFiles.size());
  for (const auto& [name, bytes] : test::snapshot(scratch.path())) // no part file left
    EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST_F(DescriptorDownloadTest, ALinkedSessionHearsItsConnectionEndOnce) {
  serve();
  ReadyOutcome o = ready();
  ASSERT_TRUE(o.ok) << o.error;
  std::unique_ptr<SessionLink> link = SessionLink::fromReady(std::move(step));
  EXPECT_EQ(routerConnection(), link->connection());
  EXPECT_NE(getLooper()->session(), nullptr);
  std::vector<std::string> reasons;
  link->setOnClosed([&](const std::string& reason) {
    reasons.push_back(reason);
    link.reset(); // the session window goes at once
  });
  server.dropAll();
  EXPECT_TRUE(drive([&] { return !reasons.empty(); }));
  for (int i = 0; i < 20; ++i) { // the posted release runs; nothing is heard twice
    reactor.runOnce(1);
    reactor.advance(10);
  }
  ASSERT_EQ(reasons.size(), 1u);
  EXPECT_FALSE(reasons[0].empty());
  EXPECT_EQ(routerConnection(), nullptr);
}

TEST_F(DescriptorDownloadTest, IndexWithoutMainDocumentOrWithUnsafeNames) {
  struct Case {
    const char* index;
    const char* error;
  } cases[] = {
      {"{name:\"tools.jg\",size:5,crc:1,version:\"7.15\"},", "no nimblux.jg found"},
      {"{name:\"nimblux.jg\",size:5,crc:1,version:\"../../x\"},", "corrupted list.gum file"},
      {"{name:\"nimblux.jg\" size:5},", "corrupted list.gum file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    std::string text = c.index;
    login.addHandler({2, 2}, [text](const sim::RouterRequest& r) -> std::optional<nv::message> {
      nv::message reply;
      if (r.message.get(kCommand) == 7) {
        reply.set(kTransferId, 1u);
      } else {
        reply.set(nv::raw_id{3}, Bytes(text.begin(), text.end()));
        reply.set(nv::bool_id{4}, true);
      }
      return reply;
    });
    ReadyOutcome o = ready();
    EXPECT_EQ(o.error, c.error);
    EXPECT_EQ(test::snapshot(scratch.path()).size(), 0u); // nothing written anywhere
  }
}

TEST_F(DescriptorDownloadTest, FullDiskLeavesThePreviousCacheUntouched) {
  serve();
  ASSERT_TRUE(ready().ok);
  auto before = test::snapshot(scratch.path());
  files.bumpChecksum("tools.jg");
  // The disk is full: every file may grow to 1000 bytes at most.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1000;
  setrlimit(RLIMIT_FSIZE, &small);
  ReadyOutcome o = ready();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(o.error, "could not write to disk");
  EXPECT_EQ(test::snapshot(scratch.path()), before);
  // The next start with room enough fetches that file again.
  ReadyOutcome again = ready();
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(downloaded(again), std::vector<std::string>{"tools.jg"});
}

} // namespace
} // namespace kestel

namespace kestel {
namespace {

// kestel-cli is built next to the tests: <build>/tests/app_tests and <build>/src/kestel-cli.
std::string cliPath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe(buf, n > 0 ? size_t(n) : 0);
  return exe.substr(0, exe.rfind('/')) + "/../src/kestel-cli";
}

std::string runCli(const std::string& home, const std::string& args) {
  return test::runCommand("KESTEL_HOME='" + home + "' '" + cliPath() + "' " + args);
}

TEST_F(DescriptorDownloadTest, CommandLineListsBrowsesOfflineAndClearsTheCache) {
  if (!std::filesystem::exists(cliPath()))
    GTEST_SKIP() << "kestel-cli not built at " << cliPath();
  serve();
  ASSERT_TRUE(ready().ok);
  std::string folderName = std::filesystem::path(versionFolder()).filename().string();
  std::string listed = runCli(scratch.path(), "cache ls");
  EXPECT_NE(listed.find(folderName), std::string::npos) << listed;
  EXPECT_NE(listed.find("exit 0"), std::string::npos) << listed;
  // Offline: the services of the cached set, as the launcher shows them, without a router.
  std::string menus = runCli(scratch.path(), "--offline " + folderName + " menus");
  for (const auto& s : services()) {
    if (inLauncher(*s) && !s->title.empty()) {
      EXPECT_NE(menus.find(s->title), std::string::npos) << s->title << "\n" << menus;
    }
  }
  EXPECT_NE(menus.find("exit 0"), std::string::npos) << menus;
  EXPECT_EQ(runCli(scratch.path(), "cache clear"), "cleared " + versionFolder() + "\nexit 0");
  EXPECT_NE(runCli(scratch.path(), "--offline " + folderName + " menus").find("exit 1"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(versionFolder()));
}

} // namespace
} // namespace kestel
