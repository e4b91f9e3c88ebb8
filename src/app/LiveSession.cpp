#include "app/LiveSession.h"

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
  closed_.clear();
  link_ = SessionLink::fromReady(std::move(step));
  link_->setOnClosed([this](const std::string& reason) { closed_ = reason; });
  return {};
}

void LiveSession::close() { link_.reset(); }

} // namespace kestel
