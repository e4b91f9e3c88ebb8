#include "HoplinkCommand.h"

#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/HoplinkStep.h"
#include "miw/ConvertorAddress.h"
#include "util/Log.h"

#include <optional>

namespace kestel {

namespace {

ConnectOutcome failure(std::string text) {
  ConnectOutcome o;
  o.kind = ConnectOutcome::Refused;
  o.text = std::move(text);
  return o;
}

} // namespace

ConnectOutcome loginThroughAgent(ConnectRequest agent, const std::string& targetMac) {
  Bytes mac;
  if (!parseMac(targetMac, mac))
    return failure("bad HOPLINK address");
  PollReactor reactor;
  ReactorScope scope(reactor);
  std::optional<ConnectOutcome> result;
  auto finish = [&](ConnectOutcome outcome) {
    if (!result)
      result = std::move(outcome);
    reactor.stop();
  };
  const std::string login = agent.login;
  const std::string password = agent.password;
  agent.login = agentLoginName(login);
  Reference<ConnectStep> step;
  std::unique_ptr<HoplinkStep> hoplink;
  step = makeRef<ConnectStep>(reactor, agent, [&](const ConnectOutcome& outcome) {
    if (outcome.kind != ConnectOutcome::LoggedIn)
      return finish(outcome);
    hoplink = std::make_unique<HoplinkStep>(reactor, [&](const nv::message& m) { step->post(m); });
    step->setDeliver([&](const nv::message& m) { hoplink->onMessage(m); });
    hoplink->attach([&](const HoplinkOutcome& attached) {
      if (!attached.ok)
        return finish(failure(attached.text));
      hoplink->connectTarget(
          mac, login, password,
          [&](uint32_t id) {
            if (step->secureSession())
              step->secureSession()->setAgentId(id);
            if (step->legacySession())
              step->legacySession()->setAgentId(id);
          },
          [&](const HoplinkOutcome& reached) {
            if (!reached.ok)
              return finish(failure(reached.text));
            ConnectOutcome o;
            o.kind = ConnectOutcome::LoggedIn;
            o.reply = reached.loginReply;
            finish(o);
          });
    });
  });
  step->start();
  reactor.run();
  step->cancel();
  hoplink.reset();
  return result ? *result : failure("no outcome");
}

} // namespace kestel
