// The loader's connect flow against the in-process simulator on loopback, one manual-clock
// reactor driving both sides: the phases up to the session start, the reconnect countdown
// second by second until Cancel, refusals that do not retry (wrong password, Legacy Mode off),
// the disconnected panel, Connect To All, "http://" addresses and unknown Hoplink agents.
#include "app/LoaderFlow.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/CommandLine.h"
#include "app/LoaderSettings.h"
#include "gen/ModelContext.h"
#include "miw/SlotConvertors.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"
#include "support/Constants.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestel {
namespace {

// A loopback port nothing listens on: bound, then released.
uint16_t closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

class LoaderFlowTest : public ::testing::Test {
protected:
  LoaderFlowTest() {
    installSlotConvertors();
    login.addUser("admin", "pw");
    login.install(server);
    port = *server.listen(0);
    LoaderFlowHooks hooks;
    hooks.phase = [this](LoaderPhase p) { phases.push_back(p); };
    hooks.status = [this](const std::string& s) { texts.push_back(s); };
    hooks.startSession = [this](Reference<ReadyStep> step, nv::message p) {
      started = std::move(step);
      startedWith = std::move(p);
    };
    hooks.startChild = [this](const nv::message& p) {
      children.push_back(p);
      return Expected<void>();
    };
    hooks.handOff = [this](const nv::message& p, const HandOffSource& source) -> Expected<void> {
      handedOver = p;
      handedSecure = source.connection && source.secure;
      if (!handOffError.empty())
        return Error{handOffError};
      return {};
    };
    hooks.openUrl = [this](const std::string& url) { opened = url; };
    hooks.exit = [this](int code) { exitCode = code; };
    hooks.findEntry = [](const std::string& a) {
      return a == "192.0.2.7" ? std::optional<nv::message>(nv::message()) : std::nullopt;
    };
    flow = std::make_unique<LoaderFlow>(reactor, "", std::move(hooks));
    flow->setDocuments({std::string(KESTEL_SAMPLE_DIR) + "/nimblux.jg"});
  }
  ~LoaderFlowTest() override {
    flow.reset();
    if (started)
      started->cancel();
  }

  bool drive(const std::function<bool()>& done) {
    auto limit = std::chrono::steady_clock::now() + test::kRealTimeLimit;
    while (!done() && std::chrono::steady_clock::now() < limit) {
      reactor.runOnce(1);
      reactor.advance(1);
    }
    return done();
  }
  LoaderForm form(uint16_t toPort, const std::string& password = "pw") {
    LoaderForm f;
    f.address = std::string(test::kLoopback) + ":" + std::to_string(toPort);
    f.login = "admin";
    f.password = password;
    return f;
  }

  ModelContext model;
  ModelScope modelScope{model};
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope scope{reactor};
  sim::SimServer server{reactor};
  sim::RouterLogin login;
  uint16_t port = 0;
  std::unique_ptr<LoaderFlow> flow;
  std::vector<LoaderPhase> phases;
  std::vector<std::string> texts;
  Reference<ReadyStep> started;
  nv::message startedWith;
  std::vector<nv::message> children;
  std::string opened;
  int exitCode = -1;
  std::optional<nv::message> handedOver;
  bool handedSecure = false;
  std::string handOffError;
};

TEST_F(LoaderFlowTest, ConnectsLogsInLoadsAndStartsTheSession) {
  flow->setBook("/books/a.cdb", "master");
  nv::message p = flow->parametersFrom(form(port));
  EXPECT_EQ(p.get(param::kAddressBook), "/books/a.cdb");
  EXPECT_EQ(p.get(param::kMasterPassword), "master");
  flow->connect(p);
  ASSERT_TRUE(drive([&] { return bool(started); }));
  EXPECT_EQ(phases, (std::vector<LoaderPhase>{LoaderPhase::Connecting, LoaderPhase::LoggingIn,
                                              LoaderPhase::Downloading, LoaderPhase::Starting}));
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0],
            "Connecting to " + std::string(test::kLoopback) + ":" + std::to_string(port) + "...");
  EXPECT_EQ(texts[1], "Logging in...");
  EXPECT_EQ(texts[2], "Downloading descriptors...");
  EXPECT_TRUE(started->connectStep()->connection());
  EXPECT_EQ(startedWith.get(param::kLogin), "admin");
  // The session learns from the parameters whether the router wants a new password.
  EXPECT_FALSE(startedWith.has(kLoginReplyChangePassword));
  started = nullptr;
  login.changePasswordForAll();
  flow->connect(flow->parametersFrom(form(port)));
  ASSERT_TRUE(drive([&] { return bool(started); }));
  EXPECT_TRUE(startedWith.get(kLoginReplyChangePassword));
}

TEST_F(LoaderFlowTest, OpenInNewWindowHandsTheSessionOverAndReturnsToTheForm) {
  for (std::string error : {std::string(), std::string("could not start process")}) {
    handOffError = error;
    handedOver.reset();
    LoaderForm f = form(port);
    f.newWindow = true;
    flow->connect(flow->parametersFrom(f));
    ASSERT_TRUE(drive([&] { return handedOver.has_value(); }));
    EXPECT_TRUE(handedOver->get(param::kNewProcess));
    EXPECT_TRUE(handedSecure);
    EXPECT_FALSE(started) << "the session is not started here as well";
    EXPECT_EQ(flow->phase(), LoaderPhase::Idle);
    EXPECT_EQ(flow->status(), error);
    // Nothing of the attempt stays here: the router sees the connection go.
    EXPECT_TRUE(drive([&] { return server.connectionCount() == 0; }));
  }
}

TEST_F(LoaderFlowTest, CountdownRetriesEveryFiveSecondsUntilCancel) {
  uint16_t dead = closedPort();
  flow->connect(flow->parametersFrom(form(dead)));
  ASSERT_TRUE(drive([&] { return flow->phase() == LoaderPhase::Countdown; }));
  std::string failure = "could not connect to " + std::string(test::kLoopback) + " Reason:";
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(flow->status().rfind(failure, 0), 0u) << flow->status();
    for (int n = 5; n >= 1; --n) {
      EXPECT_NE(flow->status().find(". Will retry in " + std::to_string(n) + " seconds"),
                std::string::npos)
          << flow->status();
      reactor.advance(1000);
    }
    // At zero the same router is tried again, and fails again.
    EXPECT_TRUE(flow->phase() == LoaderPhase::Connecting ||
                flow->phase() == LoaderPhase::Countdown);
    ASSERT_TRUE(drive([&] { return flow->phase() == LoaderPhase::Countdown; }));
  }
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Reconnecting...."), 2);
  // "Connect" while counting down only stops the countdown; Cancel clears everything.
  flow->connect(flow->parametersFrom(form(dead)));
  EXPECT_EQ(flow->phase(), LoaderPhase::Idle);
  EXPECT_EQ(reactor.timerCount(), 0u);
  flow->cancel();
  EXPECT_EQ(flow->status(), "");
}

TEST_F(LoaderFlowTest, RefusalsShowTheirTextWithoutRetrying) {
  struct Case {
    std::string password;
    bool refuseSecure, legacyMode;
    std::string text; // empty: logs in
  } cases[] = {
      {"nope", false, false, "wrong username or password"},
      {"pw", true, false,
       "router does not support secure connection, please enable Legacy Mode if you want to "
       "connect anyway"},
      {"pw", true, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    login.faults().refuseSecure = c.refuseSecure;
    flow->setLegacyMode(c.legacyMode);
    flow->connect(flow->parametersFrom(form(port, c.password)));
    ASSERT_TRUE(drive([&] {
      if (c.refuseSecure)
        reactor.advance(100); // the secure exchange's answer timer
      return started || flow->phase() == LoaderPhase::Idle;
    }));
    if (c.text.empty()) {
      ASSERT_TRUE(started);
      EXPECT_TRUE(started->connectStep()->legacySession());
    } else {
      EXPECT_EQ(flow->status(), c.text);
      EXPECT_EQ(reactor.timerCount(), 0u);
    }
  }
}

TEST_F(LoaderFlowTest, DisconnectedPanelCountsTheTimeOrReconnects) {
  nv::message p = flow->parametersFrom(form(port));
  p.set(param::kDisconnected, true);
  flow->showDisconnected(p, false);
  EXPECT_EQ(flow->phase(), LoaderPhase::Disconnected);
  std::string head = "Router " + p.get(param::kAddress) + " has been disconnected ";
  EXPECT_EQ(flow->status(), head + "00:00:00 ago");
  reactor.advance(65000);
  EXPECT_EQ(flow->status(), head + "00:01:05 ago");
  flow->cancel();
  EXPECT_EQ(reactor.timerCount(), 0u);

  // Auto Reconnect: the countdown, then the router again.
  flow->showDisconnected(p, true);
  EXPECT_EQ(flow->status(), head.substr(0, head.size() - 1) + ". Will retry in 5 seconds");
  reactor.advance(5000);
  ASSERT_TRUE(drive([&] { return bool(started); }));
  EXPECT_FALSE(startedWith.has(param::kDisconnected));
}

TEST_F(LoaderFlowTest, ConnectToAllStartsAChildForEveryOtherEntry) {
  LoaderForm here = form(port);
  std::vector<nv::message> entries;
  for (const std::string& address :
       {std::string("192.0.2.1"), here.address, std::string("192.0.2.2")}) {
    LoaderForm f = form(port);
    f.address = address;
    f.session = "s-" + address;
    entries.push_back(LoaderFlow::entryFrom(f));
  }
  EXPECT_EQ(flow->connectToAll(here, entries), 2u);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0].get(param::kAddress), "192.0.2.1");
  EXPECT_EQ(children[0].get(param::kChosenSession), "s-192.0.2.1");
  EXPECT_EQ(children[1].get(param::kAddress), "192.0.2.2");
  ASSERT_TRUE(drive([&] { return bool(started); }));
  EXPECT_EQ(startedWith.get(param::kAddress), here.address);
}

TEST_F(LoaderFlowTest, AddressesThatConnectNowhere) {
  struct Case {
    std::string address, agent, status;
  } cases[] = {
      {"fe80::1", "", "invalid address - fe80::1"},
      {"127.0.0.1:0", "", "invalid address - 127.0.0.1:0"},
      {"127.0.0.1", "192.0.2.9", kAgentNotFound},
  };
  for (const Case& c : cases) {
    LoaderForm f = form(port);
    f.address = c.address;
    f.agent = c.agent;
    flow->connect(flow->parametersFrom(f));
    EXPECT_EQ(flow->phase(), LoaderPhase::Idle);
    EXPECT_EQ(flow->status(), c.status);
  }
  EXPECT_EQ(exitCode, -1);
  LoaderForm web = form(port);
  web.address = "http://192.0.2.1/help";
  flow->connect(flow->parametersFrom(web));
  EXPECT_EQ(opened, web.address);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(server.connectionCount(), 0u);
}

TEST(LoaderEntry, KeepPasswordDecidesWhatTheBookGets) {
  LoaderForm f;
  f.address = "192.0.2.1";
  f.login = "admin";
  f.password = "secret";
  f.keepPassword = false;
  nv::message e = LoaderFlow::entryFrom(f);
  EXPECT_EQ(e.get(nv::string_id{3}), "");
  EXPECT_FALSE(e.get(nv::bool_id{7}));
  f.keepPassword = true;
  EXPECT_EQ(LoaderFlow::entryFrom(f).get(nv::string_id{3}), "secret");
}

TEST(LoaderSettingsRecord, KeepsThePasswordOnlyWhenAskedAndLeavesOtherKeys) {
  StringMap record;
  record.set("man", packData(7u));
  record.set("pwd", packData(std::string("old secret")));
  LoaderSettings s;
  s.form.address = "192.0.2.1:8291";
  s.form.login = "bob";
  s.form.password = "secret";
  s.form.keepPassword = false;
  s.form.newWindow = true;
  s.form.autoReconnect = false;
  s.legacy = true;
  s.zoomStep = -2;
  storeLoaderSettings(s, record);
  EXPECT_FALSE(record.has("pwd")) << "a password the user did not keep stays off the disk";
  EXPECT_EQ(record.get("man"), packData(7u));
  LoaderSettings back = readLoaderSettings(record);
  EXPECT_EQ(back.form.address, s.form.address);
  EXPECT_EQ(back.form.login, "bob");
  EXPECT_EQ(back.form.password, "");
  EXPECT_TRUE(back.form.newWindow);
  EXPECT_FALSE(back.form.autoReconnect);
  EXPECT_TRUE(back.legacy);
  EXPECT_EQ(back.zoomStep, -2);

  s.form.keepPassword = true;
  storeLoaderSettings(s, record);
  EXPECT_EQ(readLoaderSettings(record).form.password, "secret");

  // Nothing stored, or values of the wrong size: the defaults.
  StringMap odd;
  odd.set("keeppwd", "xx");
  odd.set("zoom", "abc");
  LoaderSettings d = readLoaderSettings(odd);
  EXPECT_EQ(d.form.login, "admin");
  EXPECT_TRUE(d.form.keepPassword && d.form.autosave && d.form.autoReconnect);
  EXPECT_FALSE(d.form.newWindow || d.advanced || d.legacy);
  EXPECT_EQ(d.zoomStep, 0);
}

} // namespace
} // namespace kestel
