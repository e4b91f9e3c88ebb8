// The hand-over inside one process against the in-process simulator, so both sides can be
// watched: a child that cannot be started leaves the session working here; a session packed for
// a child and released here carries on in the objects that adopt it (the same router connection,
// no second login), for a secure and a legacy login; a session that is not logged in, or a
// forged descriptor, is refused.
#include "api/wire/Vocabulary.h"
#include "app/ChildSession.h"
#include "app/CommandLine.h"
#include "app/ConnectStep.h"
#include "app/HandOff.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"
#include "support/Constants.h"
#include "support/ModelFixture.h"
#include "support/TempFolder.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kestel {
namespace {

const nv::string_id kEchoText{5};

class HandOverInProcess : public test::ModelFixture {
public:
  HandOverInProcess() {
    login.addUser("admin", "pw", 0x1F);
    login.addHandler({7, 1}, [](const sim::RouterRequest& r) {
      nv::message reply;
      reply.set(kEchoText, r.message.get(kEchoText) + "/" + r.user.login.name);
      return std::optional<nv::message>(reply);
    });
    login.install(server);
    port = *server.listen(0);
  }
  ~HandOverInProcess() override {
    if (child)
      child->cancel();
    if (step)
      step->cancel();
  }

  bool drive(const std::function<bool()>& done) {
    auto limit = std::chrono::steady_clock::now() + test::kRealTimeLimit;
    while (!done() && std::chrono::steady_clock::now() < limit) {
      reactor.runOnce(1);
      reactor.advance(1);
    }
    return done();
  }
  void logIn(bool legacy) {
    ConnectRequest request{test::kLoopback, port, "admin", "pw", legacy, legacy};
    std::optional<ConnectOutcome> outcome;
    step = makeRef<ConnectStep>(reactor, request, [&](const ConnectOutcome& o) { outcome = o; });
    step->start();
    ASSERT_TRUE(drive([&] { return outcome.has_value(); }));
    ASSERT_EQ(outcome->kind, ConnectOutcome::LoggedIn) << outcome->text;
  }
  // A request through `post` whose reply comes back through the deliver hook `hook`.
  template <typename Owner> std::string roundTrip(Owner& owner, const std::string& text) {
    std::optional<nv::message> reply;
    owner.setDeliver([&](const nv::message& m) { reply = m; });
    nv::message request;
    request.set(SYS_TO, std::vector<uint32_t>{7, 1});
    request.set(SYS_FROM, std::vector<uint32_t>{9});
    request.set(SYS_REQID, 77u);
    request.set(SYS_REPLYEXP, true);
    request.set(kEchoText, text);
    owner.post(request);
    drive([&] { return reply.has_value(); });
    owner.setDeliver({});
    return reply ? reply->get(kEchoText) : "no reply";
  }
  HandOffSource source() {
    HandOffSource s;
    s.connection = dynamic_cast<Connection*>(step->connection());
    s.secure = step->secureSession();
    s.legacy = step->legacySession();
    return s;
  }

  sim::SimServer server{reactor};
  sim::RouterLogin login;
  uint16_t port = 0;
  Reference<ConnectStep> step;
  Reference<ChildSession> child;
  test::TempFolder app;
};

TEST_F(HandOverInProcess, AChildThatCannotStartLeavesTheSessionHere) {
  logIn(false);
  CaptureLogSink log;
  EXPECT_FALSE(openInNewWindow("/nonexistent/kestel", {}, source()).ok());
  EXPECT_TRUE(log.contains("ERROR: could not start process"));
  EXPECT_TRUE(step->connection()->isUp());
  EXPECT_EQ(roundTrip(*step, "still here"), "still here/admin");
}

TEST_F(HandOverInProcess, TheAdopterCarriesOnOverTheSameConnection) {
  for (bool legacy : {false, true}) {
    SCOPED_TRACE(legacy ? "legacy" : "secure");
    unsigned logins = login.loginCount();
    logIn(legacy);
    EXPECT_EQ(roundTrip(*step, "before"), "before/admin");
    nv::message base;
    base.set(param::kAddress, test::kLoopback);
    base.set(param::kDocuments, std::vector<std::string>{KESTEL_SAMPLE_DIR "/nimblux.jg"});
    auto parameters = childParameters(base, source());
    ASSERT_TRUE(parameters.ok()) << parameters.error().text;
    EXPECT_EQ(parameters->get(param::kLegacyLogin), legacy);
    // What the parent does once the child has the parameters, but the descriptor stays open:
    // the adopter lives in this process.
    if (step->secureSession())
      step->secureSession()->stop();
    if (step->legacySession())
      step->legacySession()->stop();
    step->connection()->textDescription(true);

    std::optional<ReadyOutcome> ready;
    child = makeRef<ChildSession>(reactor, *parameters, app.path(),
                                  [&](const ReadyOutcome& o) { ready = o; });
    child->start();
    ASSERT_TRUE(drive([&] { return ready.has_value(); }));
    ASSERT_TRUE(ready->ok) << ready->error;
    EXPECT_EQ(roundTrip(*child, "after"), "after/admin");
    EXPECT_EQ(login.loginCount(), logins + 1);
    size_t connections = 0;
    server.forEachConnection([&](sim::SimConnection&) { ++connections; });
    EXPECT_EQ(connections, 1u);
    child->cancel();
    child = nullptr;
    step->cancel();
    step = nullptr;
    server.dropAll();
  }
}

TEST_F(HandOverInProcess, NothingToHandOverAndForgedDescriptorsAreRefused) {
  auto idle = createConnection(reactor);
  HandOffSource none;
  none.connection = idle.get();
  EXPECT_FALSE(childParameters({}, none).ok());

  for (uint64_t fd : {uint64_t(0), uint64_t(1), uint64_t(2), uint64_t(99999)}) {
    nv::message state;
    state.set(nv::u64_id(3), fd);
    nv::message looper;
    looper.set(nv::raw_id(2), Bytes(36, 1));
    looper.set(nv::raw_id(3), Bytes(36, 2));
    nv::message p;
    p.set(param::kConnectionState, state);
    p.set(param::kLooperState, looper);
    std::optional<ReadyOutcome> ready;
    auto forged =
        makeRef<ChildSession>(reactor, p, app.path(), [&](const ReadyOutcome& o) { ready = o; });
    forged->start();
    ASSERT_TRUE(ready.has_value());
    EXPECT_FALSE(ready->ok);
    EXPECT_EQ(ready->error, "the handed-over connection is not usable");
  }
}

} // namespace
} // namespace kestel
