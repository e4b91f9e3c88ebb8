// The upgrade handler through the looper, as the loader's panel uses it, with a scripted web
// server: the texts of each phase, "Upgrade" before and after the lookup, and every way a reply
// can fail, each ending in its text with no partial file left and the program untouched.
#include "app/UpgradeHandler.h"
#include "api/container/ObjectMap.h"
#include "api/net/Events.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/UpgradeTestSupport.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>

namespace kestel {
namespace {

constexpr const char* kServer = "127.0.0.1:8080";
constexpr const char* kBase = "http://127.0.0.1:8080/nimbalux/kestel/";

struct Reply {
  std::string body;
  bool announceLength = true;
  std::optional<uint64_t> length; // announced instead of the body's size
  std::string failure;            // after the body: webFailed with this text
  size_t stallAfter = SIZE_MAX;   // blocks delivered before the server stalls
};
Reply served(std::string body) {
  Reply r;
  r.body = std::move(body);
  return r;
}
Reply failing(std::string text) {
  Reply r;
  r.failure = std::move(text);
  return r;
}

// Plays one request at a time, in 1000-byte blocks, when the test says so.
class ScriptedWeb final : public WebClient {
public:
  class Request final : public WebRequest {
  public:
    Request(ScriptedWeb& web, WebListener& listener) : web_(web), listener_(listener) {}
    ~Request() override {
      if (web_.current_ == this)
        web_.current_ = nullptr;
    }
    ScriptedWeb& web_;
    WebListener& listener_;
    std::string url;
  };

  std::unique_ptr<WebRequest> get(const std::string& url, WebListener& listener) override {
    asked.push_back(url);
    auto request = std::make_unique<Request>(*this, listener);
    request->url = url;
    current_ = request.get();
    listener.webStatus(kWebConnecting);
    return request;
  }

  // Plays requests until none is pending or one stalls.
  void play() {
    for (int guard = 0; current_ && guard < 10; ++guard) {
      Request* r = current_;
      auto found = replies.find(r->url.substr(std::string(kBase).size()));
      Reply reply = found != replies.end() ? found->second : failing("failed: Not Found");
      WebListener& l = r->listener_;
      if (reply.announceLength)
        l.webLength(reply.length.value_or(reply.body.size()));
      size_t blocks = 0;
      for (size_t at = 0; at < reply.body.size() && current_ == r; at += 1000) {
        if (blocks++ == reply.stallAfter)
          return;
        l.webStatus(kWebReceiving);
        if (current_ == r && !l.webData(asBytes(std::string_view(reply.body).substr(at, 1000))))
          break;
      }
      if (current_ != r)
        continue; // cancelled by the listener
      current_ = nullptr;
      if (!reply.failure.empty()) {
        l.webFailed(reply.failure);
      } else {
        l.webStatus(kWebDone);
        l.webDone();
      }
    }
  }
  bool pending() const { return current_ != nullptr; }

  std::map<std::string, Reply> replies; // by the path after kBase
  std::vector<std::string> asked;

private:
  Request* current_ = nullptr;
};

class UpgradeHandlerTest : public ::testing::Test, private IHandlerHooks {
protected:
  UpgradeHandlerTest() : scope_(reactor_) {
    resetLooper();
    client_ = createHandler(this);
    newProgram_ = std::string(2500, 'n');
    for (size_t i = 0; i < newProgram_.size(); ++i)
      newProgram_[i] = char(i * 7);
    web_.replies["LATEST.3"] = served("99.1\r\nanything after the first line");
    web_.replies["99.1/CHANGELOG"] = served("what changed");
    web_.replies["99.1/" + upgradeProgramName()] = served(newProgram_);
    setSignature(test::signUpgrade(asBytes(newProgram_)));
    EXPECT_TRUE(saveFileAtomically(program_, asBytes("old program"), ".save").ok());
    ::chmod(program_.c_str(), 0755);
  }
  ~UpgradeHandlerTest() override {
    handler_.reset();
    client_->detach();
    resetLooper();
  }

  void setSignature(const Bytes& signature) {
    web_.replies["99.1/" + upgradeProgramName() + ".sig"] =
        served(std::string(signature.begin(), signature.end()));
  }

  UpgradeSetup setup() {
    UpgradeSetup s;
    s.web = &web_;
    s.server = [this] { return server_; };
    s.program = program_;
    s.packageList = folder_.file("kestel.list");
    s.publicKey = test::upgradePublicKey();
    s.runningVersion = "3.43";
    s.start = [this](const std::string& downloaded, const std::string& program) {
      started_.push_back(downloaded);
      EXPECT_EQ(program, program_);
      struct stat st {};
      EXPECT_EQ(::stat(downloaded.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0700u);
      EXPECT_EQ(readWholeFile(downloaded).value(), Bytes(newProgram_.begin(), newProgram_.end()));
      return Expected<void>();
    };
    s.quit = [this] { ++quits_; };
    return s;
  }
  // One handler 4 at a time: the old one goes first.
  void make(UpgradeSetup s) {
    handler_.reset();
    handler_ = std::make_unique<UpgradeHandler>(std::move(s));
  }
  void make() { make(setup()); }

  void subscribe() {
    nv::message request;
    request.set(KEY_SUBSCRIBE_CURRENT, true);
    ask(CMD_SUBSCRIBE, std::move(request));
  }
  // Sends a command to handler 4; returns the error text, "" when accepted.
  std::string ask(uint32_t command, nv::message request = {}) {
    struct Replies final : EventListener {
      void onEvent(Event& event) override {
        if (const nv::message* m = messageOf(event))
          last = *m;
      }
      nv::message last;
    };
    Reference<Replies> replies(new Replies);
    client_->request(command, Path{0, kUpgradeHandlerId}, std::move(request), replies.get(), 0);
    std::string text;
    return isError(replies->last, nullptr, &text) ? (text.empty() ? "error" : text) : "";
  }
  std::string status() const { return handler_->object().get(upgrade_key::kStatus); }
  // The folder holds the program alone, unchanged.
  void expectProgramAlone() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder_.path()))
      names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"kestel"});
    EXPECT_EQ(readWholeFile(program_).value(),
              Bytes(asBytes("old program").begin(), asBytes("old program").end()));
  }

  void onRequest(IHandler*, const nv::message& m) override {
    if (m.get(SYS_CMD) != CMD_NOTIFY)
      return;
    for (const nv::message& object : m.get(STD_OBJS))
      statuses_.push_back(object.get(upgrade_key::kStatus));
  }
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}

  PollReactor reactor_{PollReactor::Clock::Manual};
  ReactorScope scope_;
  Reference<IHandler> client_;
  test::TempFolder folder_;
  std::string program_ = folder_.file("kestel");
  std::string server_ = kServer;
  std::string newProgram_;
  ScriptedWeb web_;
  std::unique_ptr<UpgradeHandler> handler_;
  std::vector<std::string> statuses_;
  std::vector<std::string> started_;
  int quits_ = 0;
};

TEST_F(UpgradeHandlerTest, LooksUpDownloadsChecksAndHandsOver) {
  make();
  subscribe();
  web_.play();
  EXPECT_EQ(statuses_, (std::vector<std::string>{
                           "looking up latest version...", "connecting...", "receiving data...",
                           "done", "fetching changelog...", "connecting...", "receiving data...",
                           "done", "There is a new version - 99.1"}));
  EXPECT_EQ(handler_->phase(), UpgradeHandler::Phase::FetchingChangeLog);
  EXPECT_EQ(handler_->object().get(upgrade_key::kChangeLog), "what changed");
  EXPECT_TRUE(handler_->object().get(upgrade_key::kNewer));

  statuses_.clear();
  EXPECT_EQ(ask(kCommandUpgrade), "");
  EXPECT_EQ(handler_->phase(), UpgradeHandler::Phase::Downloading);
  web_.play();
  EXPECT_EQ(statuses_, (std::vector<std::string>{"Downloading...", "connecting...",
                                                 "Downloaded 40% (1kiB)", "Downloaded 80% (2kiB)",
                                                 "Downloaded 100% (2kiB)", "Downloaded"}));
  ASSERT_EQ(started_.size(), 1u);
  EXPECT_TRUE(isDownloadName(started_[0]));
  EXPECT_EQ(parentFolder(started_[0]), folder_.path());
  EXPECT_EQ(quits_, 1);
  std::string base = std::string(kBase) + "99.1/" + upgradeProgramName();
  EXPECT_EQ(web_.asked,
            (std::vector<std::string>{std::string(kBase) + "LATEST.3",
                                      std::string(kBase) + "99.1/CHANGELOG", base, base + ".sig"}));
}

TEST_F(UpgradeHandlerTest, UpgradePressedEarlyDownloadsWhenTheChangeLogArrives) {
  web_.replies["99.1/" + upgradeProgramName()].announceLength = false;
  make();
  subscribe();
  EXPECT_EQ(ask(kCommandUpgrade), ""); // the lookup has not finished
  web_.play();
  std::vector<std::string> tail(statuses_.end() - 5, statuses_.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"connecting...", "Downloaded 1kiB", "Downloaded 2kiB",
                                            "Downloaded 2kiB", "Downloaded"}));
  EXPECT_EQ(started_.size(), 1u);
}

TEST_F(UpgradeHandlerTest, NoNewerVersionIsNothingToUpgradeTo) {
  struct Case {
    std::string latest;
    std::string status; // after the lookup
  } cases[] = {
      {"<html><body>500 Internal Server Error</body></html>", "done"}, // silently stopped
      {"3.43\n", "There are no new versions"},
      {"3.42", "There are no new versions"},
      {"", "done"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.latest);
    web_.replies["LATEST.3"] = served(c.latest);
    web_.replies["3.43/CHANGELOG"] = web_.replies["3.42/CHANGELOG"] = served("log");
    make();
    subscribe();
    web_.play();
    EXPECT_EQ(status(), c.status);
    EXPECT_FALSE(handler_->object().get(upgrade_key::kNewer));
    EXPECT_EQ(ask(kCommandUpgrade), kNoNewVersion);
    EXPECT_FALSE(web_.pending());
    expectProgramAlone();
  }
}

TEST_F(UpgradeHandlerTest, LookupFailuresEndInTheirText) {
  struct Case {
    Reply latest;
    std::string status;
  } cases[] = {
      {served(std::string(kMaxLatestSize + 1, '9')), "failed: reply too large"},
      {failing(kWebNoConnection), kWebNoConnection},
      {failing("failed: Too many redirects"), "failed: Too many redirects"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    web_.replies["LATEST.3"] = c.latest;
    make();
    subscribe();
    web_.play();
    EXPECT_EQ(status(), c.status);
    EXPECT_EQ(ask(kCommandUpgrade), kNoNewVersion);
  }
  server_.clear(); // the feature is off
  web_.asked.clear();
  make();
  subscribe();
  EXPECT_EQ(status(), kNoUpgradeServer);
  EXPECT_TRUE(web_.asked.empty());
}

TEST_F(UpgradeHandlerTest, EveryBadDownloadIsRemovedAndLeavesTheProgram) {
  const std::string program = "99.1/" + upgradeProgramName();
  Bytes otherSignature = test::signUpgrade(asBytes("another program"));
  Bytes good = test::signUpgrade(asBytes(newProgram_));
  struct Case {
    const char* what;
    std::function<void(ScriptedWeb&, UpgradeSetup&)> change;
    std::string status = kUpgradeCorrupted;
  } cases[] = {
      {"truncated", [&](ScriptedWeb& w, UpgradeSetup&) { w.replies[program].length = 3000; }},
      {"wrong signature",
       [&](ScriptedWeb& w, UpgradeSetup&) {
         w.replies[program + ".sig"].body.assign(otherSignature.begin(), otherSignature.end());
       }},
      {"short signature",
       [&](ScriptedWeb& w, UpgradeSetup&) { w.replies[program + ".sig"].body.resize(63); }},
      {"long signature",
       [&](ScriptedWeb& w, UpgradeSetup&) { w.replies[program + ".sig"].body += "x"; }},
      {"no signature", [&](ScriptedWeb& w, UpgradeSetup&) { w.replies.erase(program + ".sig"); }},
      {"connection lost",
       [&](ScriptedWeb& w, UpgradeSetup&) { w.replies[program].failure = "failed: closed"; }},
      {"too large",
       [&](ScriptedWeb& w, UpgradeSetup&) { w.replies[program].length = kMaxProgramSize + 1; }},
      {"no key built in", [&](ScriptedWeb&, UpgradeSetup& s) { s.publicKey.clear(); }},
      {"cannot start",
       [&](ScriptedWeb&, UpgradeSetup& s) {
         s.start = [](const std::string&, const std::string&) -> Expected<void> {
           return makeError("exec failed");
         };
       },
       "ERROR: failed to start updated version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedWeb web;
    web.replies = web_.replies;
    UpgradeSetup s = setup();
    s.web = &web;
    c.change(web, s);
    make(std::move(s));
    subscribe();
    web.play();
    EXPECT_EQ(ask(kCommandUpgrade), "");
    web.play();
    EXPECT_EQ(status(), c.status);
    EXPECT_FALSE(web.pending());
    EXPECT_TRUE(started_.empty());
    EXPECT_EQ(quits_, 0);
    expectProgramAlone();
  }
}

// A disk that fills during the download: writes past 1500 bytes fail (the file size limit stands
// in for a full disk).
TEST_F(UpgradeHandlerTest, ADiskThatFillsEndsInItsText) {
  make();
  subscribe();
  web_.play();
  EXPECT_EQ(ask(kCommandUpgrade), "");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1500;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  web_.play();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(status(), "failed: couldn't write file to disk");
  EXPECT_FALSE(web_.pending());
  EXPECT_TRUE(started_.empty());
  expectProgramAlone();
}

TEST_F(UpgradeHandlerTest, ClosingThePanelRemovesThePartialDownload) {
  web_.replies["99.1/" + upgradeProgramName()].stallAfter = 2;
  make();
  subscribe();
  web_.play();
  EXPECT_EQ(ask(kCommandUpgrade), "");
  web_.play();
  EXPECT_EQ(status(), "Downloaded 80% (2kiB)");
  std::string partial = handler_->downloadPath();
  EXPECT_TRUE(isRegularFile(partial));
  EXPECT_EQ(ask(CMD_UNSUBSCRIBE), "");
  EXPECT_FALSE(web_.pending());
  EXPECT_FALSE(isRegularFile(partial));
  EXPECT_EQ(handler_->phase(), UpgradeHandler::Phase::Downloading); // kept
  expectProgramAlone();
}

TEST_F(UpgradeHandlerTest, AProgramThePackageManagerOwnsIsNotReplaced) {
  ASSERT_TRUE(saveFileAtomically(folder_.file("kestel.list"),
                                 asBytes("/.\n/usr\n" + program_ + "\n"), ".save")
                  .ok());
  make();
  subscribe();
  web_.play();
  std::string refused = ask(kCommandUpgrade);
  EXPECT_NE(refused.find("upgrade it with the package manager"), std::string::npos) << refused;
  EXPECT_EQ(status(), refused);
  EXPECT_EQ(web_.asked.size(), 2u); // nothing downloaded
  std::filesystem::remove(folder_.file("kestel.list"));
  expectProgramAlone();
}

} // namespace
} // namespace kestel
