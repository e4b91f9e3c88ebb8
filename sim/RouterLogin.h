// The router's side of the logins: the user table, the secure exchange on channel 6 and the
// legacy exchange on channel 5 (both ending in encrypted frames), and the router handlers a
// freshly logged-in client talks to: the login handler (13, 4) and CMD_NOOP on handler 1. Other
// router handlers plug in through RouterLogin::addHandler. Fault switches make the router
// misbehave in the ways the client must survive (dropping the connection after N bytes is the
// server's own switch, SimServer::setDropAfterBytes).
#pragma once

#include "api/net/LoginMessages.h"
#include "api/wire/Message.h"
#include "sim/SimServer.h"

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestel::sim {

struct SimUser {
  login::RouterUser login;
  uint32_t policy = 0xFFFFFFFF; // the user's policy bits, sent in the login reply
  bool changePassword = false;  // bool 38 of the login reply
};

struct LoginFaults {
  bool refuseSecure = false;      // never answers channel 6 (an older router)
  bool noLegacy = false;          // never answers channel 5
  bool wrongProof = false;        // sends a proof that does not match
  bool neverChallenge = false;    // swallows the first challenge and says nothing at all
  bool garbageFrames = false;     // answers every logged-in request with undecryptable bytes
  bool noLegacyChallenge = false; // answers the legacy challenge step (command 4) with an error
};

// What the simulated router says about itself in the login reply.
struct SimRouterFacts {
  std::string version = "7.15";
  std::string requiredClient; // string 22; empty: any client
  std::string skin;           // string 24
};

// How many failed logins the router takes before it refuses to check more: per connection (then
// the connection is closed) and per client address within a window (then every login from that
// address is refused until the window has passed). `enabled` false turns both off (benchmarks).
struct LoginLimits {
  bool enabled = true;
  unsigned perConnection = 3;
  unsigned perAddress = 10;
  int64_t windowMs = 60000;
};

// The logged-in client behind a request, kept by router handlers that answer later or push
// notifications. Sends nothing once its connection is gone.
class RouterPeer {
public:
  // `backlog` tells how many bytes wait to be sent to the client (none when not given).
  explicit RouterPeer(std::function<void(const nv::message&)> send,
                      std::function<size_t()> backlog = {})
      : send_(std::move(send)), backlog_(std::move(backlog)) {}
  // Sends a message as it stands (SYS_TO must already be the client's return path).
  void send(const nv::message& message) const {
    if (send_)
      send_(message);
  }
  // Sends `reply` as the answer to `request` from `from`, as a handler's returned reply goes.
  void reply(const nv::message& request, nv::message reply,
             const std::vector<uint32_t>& from) const;
  bool alive() const { return bool(send_); }
  void disconnect() {
    send_ = nullptr;
    backlog_ = nullptr;
  }
  size_t backlog() const { return backlog_ ? backlog_() : 0; }

private:
  std::function<void(const nv::message&)> send_;
  std::function<size_t()> backlog_;
};

// What a router handler gets: the request, who asks, and the way back to them.
struct RouterRequest {
  const nv::message& message;
  const SimUser& user;
  bool legacy;
  const std::shared_ptr<RouterPeer>& peer;
  // SYS_TO as the client addressed it.
  const std::vector<uint32_t>& path;
};
// A router handler answers with a reply body (SYS_ fields are filled in), or nothing (no reply,
// or one sent later through the peer).
using RouterHandler = std::function<std::optional<nv::message>(const RouterRequest&)>;

// Fills in the SYS_ fields of `reply` to `request` from handler `from`.
void completeReply(const nv::message& request, nv::message& reply,
                   const std::vector<uint32_t>& from);

class RouterLogin {
public:
  RouterLogin() = default;
  RouterLogin(const RouterLogin&) = delete;
  RouterLogin& operator=(const RouterLogin&) = delete;

  // Adds a user whose password the router keeps (unsalted exchange, legacy login).
  void addUser(const std::string& name, const std::string& password, uint32_t policy = 0xFFFFFFFF);
  // Adds a user of whom the router keeps only the salted verifier.
  void addSaltedUser(const std::string& name, const std::string& password,
                     uint32_t policy = 0xFFFFFFFF);
  SimUser* findUser(std::string_view login);
  // Sets bool 38 (change the password) for every user, present and future.
  void changePasswordForAll();
  // Adds "admin" with an empty password when the table is empty.
  void ensureDefaultUser();

  LoginFaults& faults() { return faults_; }
  LoginLimits& limits() { return limits_; }
  SimRouterFacts& facts() { return facts_; }

  // Serves `path` (SYS_TO as the client addressed it) for logged-in clients.
  void addHandler(std::vector<uint32_t> path, RouterHandler handler);
  // Serves every path that begins with `prefix` and has no handler of its own.
  void addPrefixHandler(std::vector<uint32_t> prefix, RouterHandler handler);

  // Registers channels 5 and 6 on the server. The server's reactor is the clock of the
  // failed-login limits.
  void install(SimServer& server);

  // Logins completed so far (secure and legacy); for tests.
  unsigned loginCount() const { return logins_; }

  class Session;
  class SecureLogin;
  class LegacyLogin;
  struct ConnectionClaim;

private:
  friend class Session;
  friend class SecureLogin;
  friend class LegacyLogin;
  std::shared_ptr<ConnectionClaim> claimFor(SimConnection& connection);
  void handle(Session& session, const nv::message& message);
  nv::message loginReply(const SimUser& user) const;
  std::optional<nv::message> legacyLogin(LegacyLogin& session, const nv::message& request);

  // The record the secure exchange runs with for `name`, in the table's one form (salted once any
  // user is): the user's own, or a decoy that stays the same for the same name. Both are worked
  // out for every name, so the time taken does not tell a known name from an unknown one.
  login::RouterUser exchangeRecord(std::string_view name, const SimUser*& user);
  login::RouterUser decoyFor(std::string_view name) const;
  // Failed-login bookkeeping per client address (see LoginLimits).
  bool addressLockedOut(const std::string& address);
  void noteFailure(const std::string& address);

  std::vector<SimUser> users_;
  bool saltedTable_ = false;
  std::array<uint8_t, 32> decoySecret_ = makeDecoySecret();
  static std::array<uint8_t, 32> makeDecoySecret();
  ec::Encoded decoyKey_ = makeDecoyKey();
  static ec::Encoded makeDecoyKey();
  struct AddressFailures {
    unsigned count = 0;
    int64_t windowStart = 0;
    bool logged = false;
  };
  std::map<std::string, AddressFailures> failures_;
  Reactor* clock_ = nullptr;
  LoginLimits limits_;
  LoginFaults faults_;
  SimRouterFacts facts_;
  std::map<std::vector<uint32_t>, RouterHandler> handlers_;
  std::map<std::vector<uint32_t>, RouterHandler> prefixHandlers_;
  const RouterHandler* findHandler(const std::vector<uint32_t>& to) const;
  std::map<uint64_t, std::weak_ptr<ConnectionClaim>> claims_;
  unsigned logins_ = 0;
  bool changePassword_ = false;
};

// Applies the login option at argv[i] to `login`: returns how many arguments it took, 0 when
// argv[i] is not a login option, -1 when its value is missing or malformed.
int applyLoginOption(RouterLogin& login, int argc, char** argv, int i);
// The login options, for the program's usage text.
const char* loginOptionsUsage();

} // namespace kestel::sim
