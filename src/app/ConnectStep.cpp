#include "app/ConnectStep.h"

#include "api/net/MacConnection.h"
#include "api/wire/Vocabulary.h"
#include "util/Log.h"

namespace kestel {
namespace {

// The handler id this step's requests come from (the loader's request handler).
constexpr uint32_t kStepHandlerId = 2;
// How long a request of the login may stay unanswered.
constexpr uint32_t kReplyTimeoutMs = 10000;
// How long the router may take to answer the legacy handshake.
constexpr uint32_t kLegacyTimeoutMs = 3000;

} // namespace

ConnectStep::ConnectStep(Reactor& reactor, ConnectRequest request, Done done)
    : reactor_(reactor), request_(std::move(request)), done_(std::move(done)) {}

ConnectStep::~ConnectStep() {
  reactor_.removeTimer(timer_);
  if (secure_)
    secure_->stop();
  if (legacy_)
    legacy_->stop();
  if (connection_)
    connection_->removeListener(this);
}

void ConnectStep::start(ConnectionOptions options) {
  if (request_.transport == ConnectAddress::Transport::Mac)
    connection_ = createMacConnection(reactor_);
  else
    connection_ = createConnection(reactor_, std::move(options));
  connection_->addListener(this);
  connection_->connect(request_.address, request_.port);
}

void ConnectStep::cancel() {
  finished_ = true;
  reactor_.removeTimer(timer_);
  timer_ = 0;
  if (secure_)
    secure_->stop();
  if (legacy_)
    legacy_->stop();
  if (connection_) {
    connection_->removeListener(this);
    connection_->close(CloseMode::Now);
  }
}

void ConnectStep::onEvent(Event& event) {
  if (auto* c = static_cast<IConnectionEvent*>(event.cast(kConnectionEventInterface)))
    return onConnectionEvent(*c);
  if (auto* r = static_cast<LoginResultEvent*>(event.cast(kLoginResultEventInterface)))
    return onLoginFailed(r->failure());
}

void ConnectStep::onConnectionEvent(IConnectionEvent& event) {
  if (finished_)
    return;
  if (event.state() == IConnectionEvent::Up) {
    timer_ = reactor_.addTimer(
        1,
        [this] {
          timer_ = 0;
          startLogin();
        },
        false);
    return;
  }
  if (!secure_ && !legacy_)
    return finish(ConnectOutcome::ConnectFailed,
                  "could not connect to " + request_.address + " Reason:" + event.reason());
  finish(ConnectOutcome::Disconnected,
         event.reason().empty() ? "connection closed" : event.reason());
}

void ConnectStep::startLogin() {
  if (request_.legacyFirst && request_.legacyMode)
    return startLegacy();
  logLine("startKeyExchange");
  SessionHooks hooks{[this](const nv::message& m) { onMessage(m); }, [this] { probe(); }};
  secure_ = makeRef<SecureSession>(reactor_, *connection_, hooks);
  secure_->start(request_.login, request_.password, this);
  sendRequest(kLoginCommand, {});
}

void ConnectStep::onLoginFailed(LoginFailure failure) {
  if (finished_)
    return;
  logLine("kex failed");
  if (failure == LoginFailure::WrongProof)
    return finish(ConnectOutcome::WrongLogin, "wrong username or password");
  startLegacy();
}

// The router did not answer the secure login. Whether it supports the legacy one shows in its
// answer to the legacy handshake, which carries no credentials.
void ConnectStep::startLegacy() {
  if (secure_)
    secure_->stop();
  secure_ = nullptr;
  SessionHooks hooks{[this](const nv::message& m) { onMessage(m); }, [this] { probe(); }};
  legacy_ = makeRef<LegacySession>(reactor_, *connection_, hooks);
  legacy_->setReadyCallback([this] { onLegacyReady(); });
  reactor_.removeTimer(timer_);
  timer_ = reactor_.addTimer(
      kLegacyTimeoutMs,
      [this] {
        timer_ = 0;
        finish(ConnectOutcome::Refused, "Router refused connection");
      },
      false);
  legacy_->startHandshake();
}

void ConnectStep::onLegacyReady() {
  if (finished_)
    return;
  if (!request_.legacyMode)
    return finish(ConnectOutcome::LegacyNotAllowed,
                  "router does not support secure connection, please enable Legacy Mode if you "
                  "want to connect anyway");
  sendRequest(kLegacyChallengeCommand, {});
}

void ConnectStep::onMessage(const nv::message& message) {
  bool mine = !finished_ && message.get(SYS_TYPE) == TYPE_REPLY &&
              message.get(SYS_REQID) == requestId_ &&
              message.get(SYS_TO) == std::vector<uint32_t>{kStepHandlerId};
  if (!mine) {
    if (deliver_)
      deliver_(message);
    return;
  }
  if (expectedCommand_ == kLegacyChallengeCommand) {
    auto challenge = message.get(kLegacyChallenge);
    if (isError(message) || challenge.size() != kLegacyChallengeLength)
      return finish(ConnectOutcome::NoAuthentication, "could not start authentication");
    nv::message login;
    login.set(kLegacyLogin, request_.login);
    login.set(kLegacyResponse, legacyLoginResponse(request_.password, challenge));
    return sendRequest(kLoginCommand, login);
  }
  if (isError(message))
    return finish(ConnectOutcome::WrongLogin, "wrong username or password");
  finish(ConnectOutcome::LoggedIn, {}, message);
}

void ConnectStep::sendRequest(uint32_t command, nv::message message) {
  message.set(SYS_TO, kLoginHandler);
  message.set(SYS_FROM, std::vector<uint32_t>{kStepHandlerId});
  message.set(SYS_CMD, command);
  message.set(SYS_TYPE, TYPE_REQUEST);
  message.set(SYS_REPLYEXP, true);
  message.set(SYS_REQID, ++requestId_);
  expectedCommand_ = command;
  reactor_.removeTimer(timer_);
  timer_ = reactor_.addTimer(
      kReplyTimeoutMs,
      [this] {
        timer_ = 0;
        finish(ConnectOutcome::Refused, "Router refused connection");
      },
      false);
  post(message);
}

void ConnectStep::post(const nv::message& message) {
  if (legacy_)
    legacy_->post(message);
  else if (secure_)
    secure_->post(message);
}

void ConnectStep::probe() {
  nv::message noop;
  noop.set(SYS_TO, std::vector<uint32_t>{1});
  noop.set(SYS_FROM, std::vector<uint32_t>{0});
  noop.set(SYS_CMD, CMD_NOOP);
  post(noop);
}

void ConnectStep::finish(ConnectOutcome::Kind kind, std::string text, nv::message reply) {
  if (finished_)
    return;
  Reference<ConnectStep> keep(this);
  reactor_.removeTimer(timer_);
  timer_ = 0;
  ConnectOutcome outcome;
  outcome.kind = kind;
  outcome.text = std::move(text);
  outcome.legacy = legacy_.get() != nullptr;
  outcome.reply = std::move(reply);
  if (kind != ConnectOutcome::LoggedIn)
    cancel();
  else
    connection_->removeListener(this); // the session that follows watches the connection
  finished_ = true;
  if (done_)
    done_(outcome);
}

} // namespace kestel
