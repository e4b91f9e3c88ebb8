// Login and session throughput against the in-process simulator over loopback TCP: time from
// connect to logged in (secure and legacy), and encrypted request/reply round trips per second
// with small and 30 KiB messages through each session.
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/ConnectStep.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"

#include <benchmark/benchmark.h>

#include <optional>

namespace {

using namespace kestel;

const nv::string_id kText{5};

struct Bench {
  PollReactor reactor;
  ReactorScope scope{reactor};
  sim::SimServer server{reactor};
  sim::RouterLogin login;
  uint16_t port = 0;

  Bench() {
    login.addUser("admin", "pw");
    login.addHandler({7, 1}, [](const sim::RouterRequest& r) {
      nv::message reply;
      reply.set(kText, r.message.get(kText));
      return std::optional<nv::message>(reply);
    });
    login.install(server);
    port = *server.listen(0);
  }

  Reference<ConnectStep> connect(bool legacy) {
    ConnectRequest request{"127.0.0.1", port, "admin", "pw", legacy, legacy};
    std::optional<ConnectOutcome> outcome;
    auto step =
        makeRef<ConnectStep>(reactor, request, [&](const ConnectOutcome& o) { outcome = o; });
    step->start();
    while (!outcome)
      reactor.runOnce(-1);
    if (outcome->kind != ConnectOutcome::LoggedIn)
      return nullptr;
    return step;
  }
};

void connectToLoggedIn(benchmark::State& state, bool legacy) {
  Bench b;
  for (auto _ : state) {
    auto step = b.connect(legacy);
    if (!step) {
      state.SkipWithError("login failed");
      break;
    }
    step->cancel();
  }
}

void roundTrips(benchmark::State& state, bool legacy) {
  Bench b;
  auto step = b.connect(legacy);
  if (!step) {
    state.SkipWithError("login failed");
    return;
  }
  std::string text(size_t(state.range(0)), 'k');
  uint32_t id = 0;
  bool answered = false;
  step->setDeliver([&](const nv::message& m) { answered = m.get(SYS_REQID) == id; });
  for (auto _ : state) {
    nv::message request;
    request.set(SYS_TO, std::vector<uint32_t>{7, 1});
    request.set(SYS_FROM, std::vector<uint32_t>{9});
    request.set(SYS_REQID, ++id);
    request.set(SYS_REPLYEXP, true);
    request.set(kText, text);
    answered = false;
    step->post(request);
    while (!answered)
      b.reactor.runOnce(-1);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.SetBytesProcessed(int64_t(state.iterations()) * 2 * int64_t(text.size()));
  step->cancel();
}

void BM_ConnectSecure(benchmark::State& s) { connectToLoggedIn(s, false); }
void BM_ConnectLegacy(benchmark::State& s) { connectToLoggedIn(s, true); }
void BM_RoundTripSecure(benchmark::State& s) { roundTrips(s, false); }
void BM_RoundTripLegacy(benchmark::State& s) { roundTrips(s, true); }

BENCHMARK(BM_ConnectSecure)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectLegacy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripSecure)->Arg(16)->Arg(30 * 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundTripLegacy)->Arg(16)->Arg(30 * 1024)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
