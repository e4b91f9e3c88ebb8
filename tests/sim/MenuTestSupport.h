// The menu tests' router and clients: the simulator's login and menus served in-process on the
// test's manual-clock reactor over loopback, and clients that log in with the secure session and
// exchange raw requests, replies and notifications with it.
#pragma once

#include "api/net/Connection.h"
#include "api/net/NetTestSupport.h"
#include "api/net/SecureSession.h"
#include "api/wire/Vocabulary.h"
#include "sim/MenuCatalogue.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"

#include <map>
#include <memory>

namespace kestel::test {

using Path = std::vector<uint32_t>;

// One logged-in client. Its requests come from handler 5 unless told otherwise.
class MenuClient {
public:
  MenuClient(PollReactor& reactor, uint16_t port, const std::string& user)
      : reactor_(reactor), connection_(createConnection(reactor)) {
    SessionHooks hooks;
    hooks.deliver = [this](const nv::message& m) { onMessage(m); };
    hooks.probe = [] {};
    session_ = makeRef<SecureSession>(reactor, *connection_, hooks);
    connection_->connect(kLoopback, port);
    session_->start(user, "pw", nullptr);
  }
  ~MenuClient() {
    session_->stop();
    connection_->close(CloseMode::Now);
  }

  // Sends a request with SYS_CMD `command` and returns its request id.
  uint32_t request(const Path& to, uint32_t command, nv::message m, uint32_t handler = 5) {
    m.set(SYS_TO, to);
    m.set(SYS_FROM, Path{0, handler});
    m.set(SYS_CMD, command);
    m.set(SYS_REPLYEXP, true);
    m.set(SYS_REQID, ++lastRequest_);
    session_->post(m);
    return lastRequest_;
  }
  // Sends a message that expects no reply.
  void send(const Path& to, uint32_t command, nv::message m, uint32_t handler = 5) {
    m.set(SYS_TO, to);
    m.set(SYS_FROM, Path{0, handler});
    m.set(SYS_CMD, command);
    session_->post(m);
  }
  // The reply to request `id`, turning the reactor until it is there.
  nv::message await(uint32_t id) {
    bool got = runUntil(reactor_, [&] { return replies.count(id) != 0; });
    EXPECT_TRUE(got) << "no reply to request " << id;
    nv::message reply = got ? replies[id] : nv::message();
    replies.erase(id);
    return reply;
  }
  nv::message call(const Path& to, uint32_t command, nv::message m = {}) {
    return await(request(to, command, std::move(m)));
  }
  // A round trip: everything the router sent before answering it has arrived.
  void sync() { call({1}, CMD_NOOP); }

  // Grants credit like the client's maps: after each notification, a refill once below 500.
  bool refill = false;
  int64_t credit = 1000;
  std::map<uint32_t, nv::message> replies;
  std::vector<nv::message> notifications;
  size_t notifiedObjects = 0;
  // What the notifications say the menu holds (applied in order); for mirror checks.
  std::map<uint32_t, nv::message> mirror;

private:
  void onMessage(const nv::message& m) {
    if (m.get(SYS_TYPE) == TYPE_REPLY) {
      replies[m.get(SYS_REQID)] = m;
      return;
    }
    if (m.get(SYS_CMD) != CMD_NOTIFY)
      return;
    notifications.push_back(m);
    size_t count = 0;
    m.forEach(STD_OBJS, [&](const nv::message& o) {
      ++count;
      if (o.get(sim::kDead))
        mirror.erase(o.get(STD_ID));
      else
        mirror[o.get(STD_ID)] = o;
    });
    notifiedObjects += count;
    credit -= int64_t(count);
    if (refill && credit < 500) {
      nv::message grant;
      grant.set(SYS_ORIGINATOR, uint32_t(1000 - credit));
      credit = 1000;
      send(m.get(SYS_FROM), sim::kCreditCommand, grant);
    }
  }

  PollReactor& reactor_;
  Reference<Connection> connection_;
  Reference<SecureSession> session_; // counted: the session holds itself while it fails
  uint32_t lastRequest_ = 0;
};

// The simulated router on `reactor`: users "admin" (every policy bit), "viewer" (read only,
// 0x40) and "nobody" (no bits), and the menus made with `options`.
struct MenuRouter {
  MenuRouter(PollReactor& reactor, sim::CatalogueOptions options) : server(reactor) {
    login.addUser("admin", "pw");
    login.addUser("viewer", "pw", 0x40);
    login.addUser("nobody", "pw", 0);
    login.install(server);
    catalogue = std::make_unique<sim::MenuCatalogue>(reactor, std::move(options));
    std::string error;
    EXPECT_TRUE(catalogue->install(login, error)) << error;
    EXPECT_TRUE(server.listen(0).ok());
  }
  sim::SimServer server;
  sim::RouterLogin login;
  std::unique_ptr<sim::MenuCatalogue> catalogue;
};

class MenuRouterTest : public ReactorTest {
protected:
  // Starts (or starts again) the router; clients of an earlier one must be gone.
  void startRouter(sim::CatalogueOptions options = {}) {
    router.reset();
    router = std::make_unique<MenuRouter>(reactor, std::move(options));
    catalogue = router->catalogue.get();
  }
  std::unique_ptr<MenuClient> client(const std::string& user = "admin") {
    return std::make_unique<MenuClient>(reactor, router->server.port(), user);
  }

  std::unique_ptr<MenuRouter> router;
  sim::MenuCatalogue* catalogue = nullptr;
};

// Ids of the objects of a reply or notification, in order.
inline std::vector<uint32_t> idsOf(const nv::message& m) {
  std::vector<uint32_t> ids;
  m.forEach(STD_OBJS, [&](const nv::message& o) { ids.push_back(o.get(STD_ID)); });
  return ids;
}

inline uint32_t errorOf(const nv::message& reply) {
  unsigned code = 0;
  return isError(reply, &code) ? code : 0;
}

} // namespace kestel::test
