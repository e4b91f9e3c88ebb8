// The simulator as a Hoplink agent: it accepts the overlay attach (command 9 to (127, 2)) and,
// on command 2001 to (2), reaches another router by its MAC address over the MAC-layer
// transport on one interface, logs in to it with the login and password the client gave, and
// from then on relays the client's messages addressed [2, id, ...] to it and its messages back.
// Off unless --hoplink names the interface; --hoplink-disabled and --hoplink-old make the
// attach answer as an agent with the overlay off, or as an older agent that wants the
// capability query first. The agent's neighbour list (command 1 to (127, 3), then CMD_GETALL)
// holds the routers that answer discovery on that interface, asked afresh at every fetch.
#pragma once

#include "api/net/Reactor.h"
#include "sim/RouterLogin.h"

#include <map>
#include <memory>
#include <string>

namespace kestel::sim {

struct HoplinkOptions {
  enum class Attach { On, Disabled, Old };
  std::string interface; // empty: off
  Attach attach = Attach::On;
};

// Takes the Hoplink switches at argv[i]: 0 when it is none of them, the number of arguments
// used, or -1 on a bad value.
int applyHoplinkOption(HoplinkOptions& options, int argc, char** argv, int i);
const char* hoplinkOptionsUsage();

class HoplinkAgent {
public:
  HoplinkAgent(Reactor& reactor, HoplinkOptions options);
  ~HoplinkAgent();
  HoplinkAgent(const HoplinkAgent&) = delete;
  HoplinkAgent& operator=(const HoplinkAgent&) = delete;

  // Adds the attach handler and the overlay handler to `login`, which must outlive the agent.
  void install(RouterLogin& login);
  size_t targetCount() const { return targets_.size(); }

private:
  class Target;
  class NeighbourScan;
  void onOverlay(const RouterRequest& request, OverlaySend send);
  void connectTarget(const nv::message& request, OverlaySend send);
  void relay(const nv::message& request, OverlaySend send);
  std::optional<nv::message> attach(const RouterRequest& request);
  std::optional<nv::message> neighbours(const RouterRequest& request);
  void drop(uint32_t id);

  Reactor& reactor_;
  HoplinkOptions options_;
  uint32_t nextId_ = 1;
  std::map<uint32_t, Reference<Target>> targets_;
  std::unique_ptr<NeighbourScan> scan_;
};

} // namespace kestel::sim
