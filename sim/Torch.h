// The simulator's traffic monitor handler: a source of flows that come and go over time with
// changing rates, on a few interfaces, some VLAN-tagged, answered through the query's filter.
#pragma once

#include "api/net/Reactor.h"
#include "sim/RouterLogin.h"

#include <optional>

namespace kestel::sim {

class TorchSource {
public:
  // Flows the source knows; at any moment about three quarters of them are active.
  static constexpr unsigned kFlows = 48;

  explicit TorchSource(Reactor& reactor) : reactor_(reactor) {}

  // Serves the torch handler through `login`; the source must outlive it.
  void install(RouterLogin& login);
  // The reply to one query at the reactor's current time.
  nv::message answer(const nv::message& query) const;

private:
  std::optional<nv::message> handle(const RouterRequest& request) const;

  Reactor& reactor_;
};

} // namespace kestel::sim
