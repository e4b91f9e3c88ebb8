#include "app/LooperRoute.h"

#include "api/net/Looper.h"

namespace kestel {

LooperRoute::LooperRoute(ConnectStep& step, Closed closed)
    : step_(&step), watch_(makeRef<CloseWatch>(std::move(closed))) {
  ISession* session = step.secureSession();
  if (!session)
    session = step.legacySession();
  getLooper()->setSession(session);
  setRouterConnection(step.connection());
  step.setDeliver([](const nv::message& m) { getLooper()->deliver(m); });
  if (step.connection())
    step.connection()->addListener(watch_.get());
}

LooperRoute::~LooperRoute() {
  watch_->detach();
  if (step_->connection())
    step_->connection()->removeListener(watch_.get());
  step_->setDeliver({});
  if (routerConnection() == step_->connection())
    setRouterConnection(nullptr);
  getLooper()->setSession(nullptr);
}

} // namespace kestel
