#include "app/HoplinkStep.h"

#include "api/net/LegacySession.h"
#include "api/net/LoginHandler.h"
#include "api/net/PollReactor.h"
#include "api/wire/Vocabulary.h"

#include <gtest/gtest.h>

#include <deque>

namespace kestel {
namespace {

// A router that answers each request with the next scripted reply (nothing when the script is
// used up) and records what it was asked.
struct ScriptedRouter {
  std::deque<nv::message> replies;
  std::vector<std::string> asked; // "<path> <command>"
  std::vector<nv::message> requests;
  HoplinkStep* step = nullptr;

  void onRequest(const nv::message& m) {
    std::string path;
    for (uint32_t p : m.get(SYS_TO))
      path += (path.empty() ? "" : ",") + std::to_string(p);
    asked.push_back(path + " " + std::to_string(m.get(SYS_CMD)));
    requests.push_back(m);
    if (replies.empty())
      return;
    nv::message r = replies.front();
    replies.pop_front();
    r.set(SYS_TO, m.get(SYS_FROM));
    r.set(SYS_TYPE, TYPE_REPLY);
    r.set(SYS_REQID, m.get(SYS_REQID));
    step->onMessage(r);
  }
};

nv::message ok() { return {}; }
nv::message error(uint32_t code) {
  nv::message m;
  m.set(SYS_STATUS, STATUS_ERROR);
  m.set(SYS_ERRNO, code);
  return m;
}
nv::message enabled(bool on) {
  nv::message m;
  m.set(kHoplinkEnabled, on);
  return m;
}
nv::message connected(uint32_t id, bool secure) {
  nv::message m;
  m.set(STD_ID, id);
  m.set(kHoplinkSecure, secure);
  return m;
}

struct StepRun {
  PollReactor reactor{PollReactor::Clock::Manual};
  ScriptedRouter router;
  HoplinkStep step{reactor, [this](const nv::message& m) { router.onRequest(m); }};
  std::optional<HoplinkOutcome> outcome;
  std::vector<uint32_t> routes;
  explicit StepRun(std::deque<nv::message> replies) {
    router.replies = std::move(replies);
    router.step = &step;
  }
  HoplinkStep::Done done() {
    return [this](const HoplinkOutcome& o) {
      EXPECT_FALSE(outcome.has_value()) << "one outcome only";
      outcome = o;
    };
  }
};

TEST(HoplinkStep, AttachOutcomes) {
  struct Case {
    const char* name;
    std::deque<nv::message> replies;
    std::vector<std::string> asked;
    const char* text; // "" for attached
  } cases[] = {
      {"attached", {ok()}, {"127,2 9"}, ""},
      {"not enabled", {error(ERROR_FAILED)}, {"127,2 9"}, "Hoplink is not enabled on the router"},
      {"old agent, enabled",
       {error(ERROR_NOTALLOWED), enabled(true)},
       {"127,2 9", "127,2 16646157"},
       ""},
      {"old agent, disabled",
       {error(ERROR_NOTALLOWED), enabled(false)},
       {"127,2 9", "127,2 16646157"},
       "Hoplink is not enabled on the router"},
      {"old agent, query refused",
       {error(ERROR_NOTALLOWED), error(ERROR_NOTIMP)},
       {"127,2 9", "127,2 16646157"},
       "router does not support Hoplink"},
      {"unknown handler", {error(ERROR_BRKPATH)}, {"127,2 9"}, "router does not support Hoplink"},
      {"no answer", {}, {"127,2 9"}, "router does not support Hoplink"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    StepRun run(c.replies);
    run.step.attach(run.done());
    run.reactor.advance(10000);
    ASSERT_TRUE(run.outcome.has_value());
    EXPECT_EQ(run.outcome->ok, std::string(c.text).empty());
    EXPECT_EQ(run.outcome->text, c.text);
    EXPECT_EQ(run.router.asked, c.asked);
  }
}

TEST(HoplinkStep, ConnectThroughAgentOutcomes) {
  nv::message loginReply;
  loginReply.set(kLoginReplyVersion, "7.15");
  nv::message challenge;
  challenge.set(kLegacyChallenge, Bytes(kLegacyChallengeLength, 7));
  struct Case {
    const char* name;
    std::deque<nv::message> replies;
    std::vector<std::string> asked;
    const char* text;
    std::vector<uint32_t> routes;
  } cases[] = {
      {"secure", {connected(9, true), loginReply}, {"2 2001", "13,4 7"}, "", {9}},
      {"legacy",
       {connected(9, false), challenge, loginReply},
       {"2 2001", "13,4 4", "13,4 7"},
       "",
       {9}},
      {"agent refuses the login",
       {error(ERROR_NOTALLOWED)},
       {"2 2001"},
       "wrong username or password",
       {}},
      {"target unknown",
       {error(ERROR_UNKNOWNID)},
       {"2 2001"},
       "could not start hoplink connection",
       {}},
      {"no id in the reply", {ok()}, {"2 2001"}, "could not start hoplink connection", {}},
      {"target refuses the login",
       {connected(9, true), error(ERROR_NOTALLOWED)},
       {"2 2001", "13,4 7"},
       "wrong username or password",
       {9}},
      {"no answer", {}, {"2 2001"}, "could not start hoplink connection", {}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    StepRun run(c.replies);
    run.step.connectTarget(
        {2, 0, 0, 0, 0, 0x0B}, "admin", "pw",
        [&](uint32_t id) {
          EXPECT_EQ(run.router.asked.size(), 1u) << "the route is set before the login goes out";
          run.routes.push_back(id);
        },
        run.done());
    run.reactor.advance(10000);
    ASSERT_TRUE(run.outcome.has_value());
    EXPECT_EQ(run.outcome->text, c.text);
    EXPECT_EQ(run.router.asked, c.asked);
    EXPECT_EQ(run.routes, c.routes);
    const nv::message& first = run.router.requests.front();
    EXPECT_EQ(first.get(kHoplinkTargetMac), (Bytes{2, 0, 0, 0, 0, 0x0B}));
    EXPECT_TRUE(first.get(kHoplinkSecure));
    EXPECT_EQ(first.get(kHoplinkLogin), "admin");
    EXPECT_EQ(first.get(kHoplinkPassword), "pw");
    if (run.outcome->ok) {
      EXPECT_EQ(run.outcome->agentId, 9u);
      EXPECT_EQ(run.outcome->loginReply.get(kLoginReplyVersion), "7.15");
    }
  }
}

TEST(HoplinkStep, AgentLoginAndFilter) {
  EXPECT_EQ(agentLoginName("admin"), "admin+r");
  nv::message filter = agentFilterCommand("198.18.0.11");
  EXPECT_EQ(filter.get(SYS_CMD), 7u);
  EXPECT_EQ(filter.get(nv::string_id(11)), "198.18.0.11");
}

} // namespace
} // namespace kestel
