#include "HoplinkCommand.h"

#include "JsonText.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/HoplinkNeighbours.h"
#include "app/HoplinkStep.h"
#include "miw/ConvertorAddress.h"
#include "util/Log.h"

#include <cstdio>
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

int printHoplinkNeighbours(ConnectRequest agent, unsigned seconds, bool json) {
  PollReactor reactor;
  ReactorScope scope(reactor);
  std::string failed;
  agent.login = agentLoginName(agent.login);
  Reference<ConnectStep> step;
  std::unique_ptr<HoplinkStep> hoplink;
  std::unique_ptr<HoplinkNeighbourList> list;
  auto stop = [&](std::string text) {
    failed = std::move(text);
    reactor.stop();
  };
  step = makeRef<ConnectStep>(reactor, agent, [&](const ConnectOutcome& outcome) {
    if (outcome.kind != ConnectOutcome::LoggedIn)
      return stop(outcome.text);
    auto post = [&](const nv::message& m) { step->post(m); };
    hoplink = std::make_unique<HoplinkStep>(reactor, post);
    list = std::make_unique<HoplinkNeighbourList>(reactor, post);
    step->setDeliver([&](const nv::message& m) {
      if (!hoplink->onMessage(m))
        list->onMessage(m);
    });
    hoplink->attach([&](const HoplinkOutcome& attached) {
      if (!attached.ok)
        return stop(attached.text);
      list->start({});
      reactor.addTimer(
          seconds * 1000, [&] { reactor.stop(); }, false);
    });
  });
  step->start();
  reactor.run();
  step->cancel();
  if (!failed.empty() || !list) {
    std::fprintf(stderr, "%s\n", failed.empty() ? "no outcome" : failed.c_str());
    return 1;
  }
  const auto& titles = hoplinkNeighbourColumns();
  std::string header;
  for (const auto& t : titles)
    header += (header.empty() ? "" : "\t") + t;
  std::printf("%s", json ? "[" : (header + "\n").c_str());
  for (size_t i = 0; i < list->list().size(); ++i) {
    auto texts = hoplinkNeighbourTexts(list->list()[i]);
    std::string line;
    for (size_t c = 0; c < titles.size(); ++c) {
      if (json)
        line += (c ? ", " : "") + jsonString(titles[c]) + ": " + jsonString(texts[c]);
      else
        line += (c ? "\t" : "") + texts[c];
    }
    if (json)
      std::printf("%s\n  {%s}", i ? "," : "", line.c_str());
    else
      std::printf("%s\n", line.c_str());
  }
  if (json)
    std::printf("%s]\n", list->list().empty() ? "" : "\n");
  list.reset();
  hoplink.reset();
  return 0;
}

} // namespace kestel
