#include "app/HoplinkStep.h"

#include "api/net/LegacySession.h"
#include "api/net/LoginHandler.h"
#include "api/wire/Vocabulary.h"

namespace kestel {

namespace {

// The loader's request handler, which the steps' replies come back to.
constexpr uint32_t kStepHandlerId = 2;
constexpr uint32_t kReplyTimeoutMs = 10000;

constexpr const char* kNotEnabled = "Hoplink is not enabled on the router";
constexpr const char* kNotSupported = "router does not support Hoplink";
constexpr const char* kWrongLogin = "wrong username or password";
constexpr const char* kNoConnection = "could not start hoplink connection";

} // namespace

std::string agentLoginName(const std::string& login) { return login + "+r"; }

nv::message agentFilterCommand(const std::string& agentAddress) {
  nv::message m;
  m.set(SYS_CMD, 7u);
  m.set(nv::string_id(11), agentAddress);
  return m;
}

HoplinkStep::~HoplinkStep() { reactor_.removeTimer(timer_); }

void HoplinkStep::attach(Done done) {
  done_ = std::move(done);
  request(Waiting::Attach, kHoplinkAttachHandler, kHoplinkAttachCommand, {});
}

void HoplinkStep::connectTarget(const Bytes& mac, const std::string& login,
                                const std::string& password, SetRoute setRoute, Done done) {
  done_ = std::move(done);
  setRoute_ = std::move(setRoute);
  login_ = login;
  password_ = password;
  nv::message m;
  m.set(kHoplinkTargetMac, mac);
  m.set(kHoplinkSecure, true);
  m.set(kHoplinkLogin, login);
  m.set(kHoplinkPassword, password);
  request(Waiting::Connect, kHoplinkConnectHandler, kHoplinkConnectCommand, std::move(m));
}

void HoplinkStep::request(Waiting what, const std::vector<uint32_t>& to, uint32_t command,
                          nv::message m) {
  m.set(SYS_TO, to);
  m.set(SYS_FROM, std::vector<uint32_t>{kStepHandlerId});
  m.set(SYS_CMD, command);
  m.set(SYS_TYPE, TYPE_REQUEST);
  m.set(SYS_REPLYEXP, true);
  m.set(SYS_REQID, ++requestId_);
  waiting_ = what;
  reactor_.removeTimer(timer_);
  timer_ = reactor_.addTimer(
      kReplyTimeoutMs,
      [this] {
        timer_ = 0;
        bool attaching = waiting_ == Waiting::Attach || waiting_ == Waiting::Capability;
        fail(attaching ? kNotSupported : kNoConnection);
      },
      false);
  post_(m);
}

bool HoplinkStep::onMessage(const nv::message& message) {
  bool mine = waiting_ != Waiting::Nothing && message.get(SYS_TYPE) == TYPE_REPLY &&
              message.get(SYS_REQID) == requestId_ &&
              message.get(SYS_TO) == std::vector<uint32_t>{kStepHandlerId};
  if (mine)
    onReply(message);
  return mine;
}

void HoplinkStep::onReply(const nv::message& reply) {
  reactor_.removeTimer(std::exchange(timer_, 0));
  switch (std::exchange(waiting_, Waiting::Nothing)) {
  case Waiting::Attach:
    return onAttachReply(reply);
  case Waiting::Capability:
    return onCapabilityReply(reply);
  case Waiting::Connect:
    return onConnectReply(reply);
  case Waiting::LegacyChallenge: {
    auto challenge = reply.get(kLegacyChallenge);
    if (isError(reply) || challenge.size() != kLegacyChallengeLength)
      return fail("could not start authentication");
    nv::message login;
    login.set(kLegacyLogin, login_);
    login.set(kLegacyResponse, legacyLoginResponse(password_, challenge));
    return request(Waiting::TargetLogin, kLoginHandler, kLoginCommand, std::move(login));
  }
  case Waiting::TargetLogin:
    return onTargetLoginReply(reply);
  case Waiting::Nothing:
    return;
  }
}

void HoplinkStep::onAttachReply(const nv::message& reply) {
  unsigned int code = 0;
  if (!isError(reply, &code))
    return attached();
  if (code == ERROR_FAILED)
    return fail(kNotEnabled);
  // Older agents refuse the attach to clients they do not know; their answer to the capability
  // query tells whether the overlay is on at all.
  if (code == ERROR_NOTALLOWED)
    return request(Waiting::Capability, kHoplinkAttachHandler, CMD_GET, {});
  fail(kNotSupported);
}

void HoplinkStep::onCapabilityReply(const nv::message& reply) {
  if (isError(reply))
    return fail(kNotSupported);
  if (!reply.get(kHoplinkEnabled))
    return fail(kNotEnabled);
  attached();
}

void HoplinkStep::attached() { finish(HoplinkOutcome{true, {}, 0xFFFFFFFF, {}}); }

void HoplinkStep::onConnectReply(const nv::message& reply) {
  unsigned int code = 0;
  if (isError(reply, &code))
    return fail(code == ERROR_NOTALLOWED ? kWrongLogin : kNoConnection);
  if (!reply.has(STD_ID))
    return fail(kNoConnection);
  agentId_ = reply.get(STD_ID);
  if (setRoute_)
    setRoute_(agentId_);
  if (reply.get(kHoplinkSecure))
    return request(Waiting::TargetLogin, kLoginHandler, kLoginCommand, {});
  request(Waiting::LegacyChallenge, kLoginHandler, kLegacyChallengeCommand, {});
}

void HoplinkStep::onTargetLoginReply(const nv::message& reply) {
  if (isError(reply))
    return fail(kWrongLogin);
  finish(HoplinkOutcome{true, {}, agentId_, reply});
}

void HoplinkStep::fail(std::string text) {
  finish(HoplinkOutcome{false, std::move(text), agentId_, {}});
}

void HoplinkStep::finish(HoplinkOutcome outcome) {
  waiting_ = Waiting::Nothing;
  reactor_.removeTimer(std::exchange(timer_, 0));
  if (Done done = std::move(done_))
    done(outcome);
}

} // namespace kestel
