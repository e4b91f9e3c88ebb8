// A client logged in to the simulator program on loopback, for tests and benchmarks that read
// its live menus: the simulator runs as a child process, the client's session is the looper's and
// requests go through the process-wide router connection. The caller opens the reactor scope.
#pragma once

#include "api/net/Connection.h"
#include "api/net/Events.h"
#include "api/net/Looper.h"
#include "api/net/PollReactor.h"
#include "api/net/SecureSession.h"
#include "support/Programs.h"

#include <string>
#include <vector>

namespace kestel::test {

class SimClient {
public:
  // Starts `simPath` with `simArgs` and user admin:pw, logs in and waits for the first reply.
  SimClient(PollReactor& reactor, const std::string& simPath, std::vector<std::string> simArgs)
      : reactor_(reactor), sim_(simPath, withUser(std::move(simArgs))) {
    resetLooper();
    connection_ = createConnection(reactor);
    setRouterConnection(connection_.get());
    getLooper()->setSessionFactory(createProxy);
    connection_->connect("127.0.0.1", uint16_t(sim_.port));
    static_cast<SecureSession*>(getLooper()->session())->start("admin", "pw", nullptr);
    handler_ = createHandler(&hooks_);
    auto reply = makeRef<Reply>();
    handler_->request(CMD_NOOP, Path{1}, nv::message(), reply.get(), 30000);
    turnUntil([&] { return reply->got; });
  }
  ~SimClient() {
    handler_ = nullptr;
    setRouterConnection(nullptr);
    resetLooper();
  }
  SimClient(const SimClient&) = delete;
  SimClient& operator=(const SimClient&) = delete;

  bool started() const { return sim_.port != 0; }
  // The port the simulator listens on (loopback).
  int port() const { return sim_.port; }
  // The simulator's process id (for its CPU time).
  pid_t routerPid() const { return sim_.pid(); }
  // Runs the reactor until `done()` holds; false when `maxTurns` turns of at most 100 ms passed
  // first.
  template <typename F> bool turnUntil(F done, int maxTurns = 600) {
    for (int i = 0; i < maxTurns; ++i) {
      if (done())
        return true;
      reactor_.runOnce(100);
    }
    return done();
  }

private:
  struct NoHooks final : IHandlerHooks {
    void onRequest(IHandler*, const nv::message&) override {}
    void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}
  };
  struct Reply final : EventListener {
    void onEvent(Event& event) override { got = got || messageOf(event) != nullptr; }
    bool got = false;
  };
  static std::vector<std::string> withUser(std::vector<std::string> args) {
    args.insert(args.end(), {"--user", "admin:pw"});
    return args;
  }
  PollReactor& reactor_;
  SimProcess sim_;
  Reference<Connection> connection_;
  NoHooks hooks_;
  Reference<IHandler> handler_;
};

} // namespace kestel::test
