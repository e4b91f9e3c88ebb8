// Routes the looper's router traffic through a logged-in connect step: what handlers send to the
// router goes out through the step's session, and the router's messages reach the handlers
// through the looper. The `closed` callback hears when the connection ends (with its reason,
// empty for a normal close). Everything is undone when the route goes.
#pragma once

#include "api/net/CloseWatch.h"
#include "app/ConnectStep.h"

#include <functional>
#include <string>

namespace kestel {

class LooperRoute {
public:
  using Closed = std::function<void(const std::string& reason)>;

  LooperRoute(ConnectStep& step, Closed closed);
  ~LooperRoute();
  LooperRoute(const LooperRoute&) = delete;
  LooperRoute& operator=(const LooperRoute&) = delete;

private:
  Reference<ConnectStep> step_;
  Reference<CloseWatch> watch_;
};

} // namespace kestel
