// The loader's start-up order on a manual clock: the cache is pruned before the window is built,
// the settings are loaded into the main window before it is placed (moved by 1009/1010), the
// form gets the parameters, and the auto-connect fires 100 ms later only when address, login
// and password are all given and 1019 is not set; 1005 shows the disconnected panel instead.
// Closing saves the settings to the file they came from.
#include "app/Startup.h"
#include "api/net/Looper.h"
#include "miw/SafeFile.h"
#include "miw/Settings.h"
#include "support/ModelFixture.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <utime.h>

namespace kestel {
namespace {

class MainWindowState final : public IPersistent {
public:
  explicit MainWindowState(std::vector<std::string>& steps) : steps_(steps) {}
  void loadState(const StringMap& settings) override {
    steps_.push_back("settings " + settings.get("winsize").value_or("-"));
  }
  void saveState(StringMap& settings, uint32_t) override { settings.set("winsize", "640x480"); }

private:
  std::vector<std::string>& steps_;
};

class StartupTest : public test::ModelFixture {
protected:
  StartupTest() {
    resetLooper();
    EXPECT_TRUE(ensurePrivateFolder(census).ok());
    // A cache folder whose age record is two months old: emptied at start.
    std::string version = app.file("7.15-42");
    std::filesystem::create_directories(version);
    EXPECT_TRUE(saveFileAtomically(version + "/system.crc", asBytes("1\n"), "crc").ok());
    EXPECT_TRUE(saveFileAtomically(stale, asBytes("x"), "jg").ok());
    struct utimbuf old {
      std::time(nullptr) - 60 * 86400, std::time(nullptr) - 60 * 86400
    };
    ::utime((version + "/system.crc").c_str(), &old);
    std::map<uint32_t, StringMap> saved;
    saved[0].set("winsize", "800x600");
    EXPECT_TRUE(
        saveFileAtomically(app.file(kSettingsFileName), formatSettingsFile(saved), "viw").ok());
  }
  ~StartupTest() override {
    settingsRegistry().unregisterPersistent(this);
    settingsRegistry().setMainWindow(nullptr);
    loader.reset();
    resetLooper();
  }

  void start(const nv::message& parameters) {
    LoaderHooks hooks;
    hooks.build = [this](const std::vector<Accelerator>& accelerators) {
      steps.push_back(std::string("build ") + (exists(stale) ? "before pruning" : "after pruning"));
      this->accelerators = accelerators;
      settingsRegistry().registerPersistent(this, &window);
      settingsRegistry().setMainWindow(this);
    };
    hooks.place = [this](int32_t dx, int32_t dy) {
      steps.push_back("place " + std::to_string(dx) + "," + std::to_string(dy));
    };
    hooks.apply = [this](const nv::message&) { steps.push_back("apply"); };
    hooks.showDisconnected = [this](const nv::message&) { steps.push_back("disconnected"); };
    hooks.bookOpened = [this](const nv::message&) { steps.push_back("book"); };
    hooks.connect = [this](const nv::message& p) {
      steps.push_back("connect " + p.get(param::kAddress) + " at " + std::to_string(reactor.now()));
    };
    hooks.quit = [this] { steps.push_back("quit"); };
    loader = std::make_unique<LoaderStart>(reactor, app.path(), census, hooks);
    loader->run(parameters, std::time(nullptr));
  }
  static bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  test::TempFolder app;
  std::string stale = app.file("7.15-42/nimblux.jg");
  std::string census = app.file("census");
  std::vector<std::string> steps;
  std::vector<Accelerator> accelerators;
  MainWindowState window{steps};
  std::unique_ptr<LoaderStart> loader;
};

nv::message parametersOf(std::initializer_list<int> keys) {
  nv::message p;
  for (int key : keys) {
    if (key == 1000)
      p.set(param::kAddress, "198.51.100.1");
    if (key == 1)
      p.set(param::kLogin, "admin");
    if (key == 3)
      p.set(param::kPassword, "");
    if (key == 1019)
      p.set(param::kNoAutoConnect, true);
    if (key == 1005)
      p.set(param::kDisconnected, true);
  }
  return p;
}

TEST_F(StartupTest, StepsRunInOrderAndTheAutoConnectWaits100ms) {
  nv::message p = parametersOf({1000, 1, 3});
  p.set(param::kOffsetX, uint32_t(-30));
  p.set(param::kOffsetY, 20u);
  start(p);
  EXPECT_EQ(steps, (std::vector<std::string>{"build after pruning", "settings 800x600",
                                             "place -30,20", "apply", "book"}));
  reactor.advance(kAutoConnectDelayMs - 1);
  EXPECT_EQ(steps.size(), 5u);
  reactor.advance(1);
  EXPECT_EQ(steps.back(), "connect 198.51.100.1 at 100");
  reactor.advance(10000);
  EXPECT_EQ(steps.size(), 6u);

  ASSERT_TRUE(loader->close());
  auto saved = readWholeFile(app.file(kSettingsFileName));
  ASSERT_TRUE(saved.ok());
  EXPECT_EQ(parseSettingsFile(*saved)[0].get("winsize"), "640x480");
}

TEST_F(StartupTest, WithoutAllThreeFieldsOrWith1019NothingConnects) {
  for (auto keys : {std::initializer_list<int>{1000, 1}, std::initializer_list<int>{1, 3},
                    std::initializer_list<int>{1000, 1, 3, 1019}}) {
    steps.clear();
    start(parametersOf(keys));
    reactor.advance(1000);
    EXPECT_EQ(steps.back(), "book");
    EXPECT_FALSE(loader->autoConnectPending());
    loader.reset();
    resetLooper();
  }
}

TEST_F(StartupTest, ADisconnectedSessionShowsItsPanelAndDoesNotConnect) {
  start(parametersOf({1000, 1, 3, 1005}));
  reactor.advance(1000);
  EXPECT_EQ(steps, (std::vector<std::string>{"build after pruning", "settings 800x600", "place 0,0",
                                             "apply", "disconnected"}));
}

// Only the switch's saving is run here: switching discovery on for real would broadcast, which
// the namespace tests do.
TEST_F(StartupTest, DiscoverySwitchIsSavedAndOffUnlessAsked) {
  const char* old = std::getenv("KESTEL_DISCOVERY");
  std::string kept = old ? old : "";
  setenv("KESTEL_DISCOVERY", "0", 1);
  start(parametersOf({1019}));
  EXPECT_FALSE(loader->discoveryRunning());
  loader->setDiscovery(true);
  EXPECT_FALSE(loader->discoveryRunning()) << "KESTEL_DISCOVERY=0 wins over the switch";
  ASSERT_TRUE(loader->close());
  auto saved = readWholeFile(app.file(kSettingsFileName));
  ASSERT_TRUE(saved.ok());
  EXPECT_EQ(parseSettingsFile(*saved)[0].get(kDiscoverySettingKey), std::string(1, '\1'));
  if (old)
    setenv("KESTEL_DISCOVERY", kept.c_str(), 1);
  else
    unsetenv("KESTEL_DISCOVERY");
}

TEST_F(StartupTest, TheLoaderTakesPartInTheCensus) {
  start({});
  ASSERT_NE(loader->census(), nullptr);
  auto other = InstanceCensus::open(reactor, census, nullptr);
  ASSERT_TRUE(other.ok());
  std::optional<unsigned int> counted;
  (*other)->count([&](unsigned int n) { counted = n; });
  for (int i = 0; i < 4; ++i)
    reactor.runOnce(0);
  reactor.advance(kCensusWaitMs);
  EXPECT_EQ(counted, 1u);
  (*other)->closeOthers();
  reactor.runOnce(0);
  EXPECT_EQ(steps.back(), "quit");
}

TEST_F(StartupTest, ZoomAcceleratorsAreCommandsForTheWindow) {
  start({});
  using Key = Accelerator::Key;
  ASSERT_EQ(accelerators.size(), 4u);
  for (const Accelerator& a : accelerators) {
    EXPECT_TRUE(a.control);
    bool in = a.key == Key::Equal || a.key == Key::KeypadPlus;
    EXPECT_EQ(a.command, in ? kCommandZoomIn : kCommandZoomOut);
  }
}

} // namespace
} // namespace kestel
