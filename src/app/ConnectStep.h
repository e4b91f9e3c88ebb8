// The headless connect step the loader drives: connect to a router, log in (the secure login
// first; the legacy login only when the user allows it and the router refused the secure one),
// send the login request (command 7 to the login handler (13, 4)) and report one outcome with
// the router's facts from the reply. The session object stays with the step for the session
// that follows. Runs on the reactor's thread; owned through Reference.
#pragma once

#include "api/net/Connection.h"
#include "api/net/LegacySession.h"
#include "api/net/LoginHandler.h"
#include "api/net/SecureSession.h"
#include "api/wire/Message.h"
#include "app/ConnectAddress.h"

#include <functional>
#include <string>

namespace kestel {

struct ConnectRequest {
  std::string address;
  uint32_t port = 0; // 0: the default port
  std::string login;
  std::string password;
  bool legacyMode = false;  // the user allows the legacy login
  bool legacyFirst = false; // go straight to the legacy login (a router known to lack the secure
                            // one); needs legacyMode
  // Mac: `address` is the router's MAC address, reached over the MAC-layer transport.
  ConnectAddress::Transport transport = ConnectAddress::Transport::Tcp;
};

struct ConnectOutcome {
  enum Kind {
    LoggedIn,
    ConnectFailed,    // "could not connect to <address> Reason:<reason>"
    Disconnected,     // the connection ended during the login; text is its reason
    WrongLogin,       // "wrong username or password"
    Refused,          // "Router refused connection"
    LegacyNotAllowed, // "router does not support secure connection, please enable ..."
    NoAuthentication, // "could not start authentication"
  };
  Kind kind = Refused;
  std::string text; // empty on success
  bool legacy = false;
  nv::message reply; // the login reply on success
};

class ConnectStep final : public EventListener {
public:
  using Done = std::function<void(const ConnectOutcome&)>;

  // `done` is called exactly once.
  ConnectStep(Reactor& reactor, ConnectRequest request, Done done);
  ~ConnectStep() override;

  // Starts connecting; ConnectionOptions let tests inject the look-up of a TCP connection.
  void start(ConnectionOptions options = {});
  // Drops everything: the sessions and the connection (closed).
  void cancel();

  // Messages from the router that the step does not take itself (everything but the replies to
  // its own requests) go here: the looper's deliver once the session is handed on.
  void setDeliver(std::function<void(const nv::message&)> deliver) {
    deliver_ = std::move(deliver);
  }
  // Sends a message through the current session (queued until the login is over).
  void post(const nv::message& message);

  IConnection* connection() const { return connection_.get(); }
  SecureSession* secureSession() const { return secure_.get(); }
  LegacySession* legacySession() const { return legacy_.get(); }

  void onEvent(Event& event) override;

private:
  void onConnectionEvent(IConnectionEvent& event);
  void startLogin();
  void onLoginFailed(LoginFailure failure);
  void startLegacy();
  void onLegacyReady();
  void onMessage(const nv::message& message);
  void sendRequest(uint32_t command, nv::message message);
  void finish(ConnectOutcome::Kind kind, std::string text, nv::message reply = {});
  void probe();

  Reactor& reactor_;
  ConnectRequest request_;
  Done done_;
  std::function<void(const nv::message&)> deliver_;
  Reference<IConnection> connection_;
  Reference<SecureSession> secure_;
  Reference<LegacySession> legacy_;
  uint32_t requestId_ = 0;
  uint32_t expectedCommand_ = 0;
  Reactor::TimerId timer_ = 0;
  bool finished_ = false;
};

} // namespace kestel
