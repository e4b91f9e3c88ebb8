#include "app/LiveSession.h"

#include "api/net/Looper.h"

#include <optional>

namespace kestel {

Expected<void> LiveSession::open(ReadyRequest request, ReadyStep::Progress progress) {
  close();
  std::optional<ReadyOutcome> result;
  auto step = makeRef<ReadyStep>(reactor_, std::move(request), std::move(progress),
                                 [&](const ReadyOutcome& outcome) {
                                   result = outcome;
                                   reactor_.stop();
                                 });
  step->start();
  reactor_.run();
  if (!result || !result->ok) {
    std::string error = result ? result->error : "no outcome";
    step->cancel();
    return makeError(error);
  }
  ConnectStep* connect = step->connectStep();
  ISession* session = connect->secureSession();
  if (!session)
    session = connect->legacySession();
  setRouterConnection(connect->connection());
  getLooper()->setSession(session);
  connect->setDeliver([](const nv::message& message) { getLooper()->deliver(message); });
  step_ = std::move(step);
  return {};
}

void LiveSession::close() {
  if (!step_)
    return;
  if (ConnectStep* connect = step_->connectStep())
    connect->setDeliver(nullptr);
  resetLooper();
  step_->cancel();
  step_ = nullptr;
}

} // namespace kestel
