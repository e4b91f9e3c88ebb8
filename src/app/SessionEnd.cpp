#include "app/SessionEnd.h"

#include "app/CommandLine.h"
#include "app/SafeMode.h"
#include "app/SessionTexts.h"

namespace kestel {

std::optional<std::string> quitQuestion(bool safeModeOn) {
  if (!safeModeOn)
    return std::nullopt;
  return std::string(kQuitInSafeModeText);
}

SessionEndPlan planConnectionLoss(const nv::message& parameters, ConnectionLoss loss, bool closing,
                                  bool saving, int32_t x, int32_t y) {
  SessionEndPlan plan;
  if (loss == ConnectionLoss::NeverEstablished) {
    plan.box = couldNotConnectText(parameters.get(param::kAddress));
    return plan;
  }
  if (closing)
    return plan;
  nv::message loader = parameters;
  // A hand-back this session started from may still be marked in its parameters.
  for (uint32_t stale :
       {param::kConnectionState.id(), param::kLooperState.id(), param::kIndexBytes.id(),
        param::kSkinBytes.id(), param::kDisconnected.id(), param::kNoAutoConnect.id()})
    loader.removeField(stale);
  if (loss == ConnectionLoss::Lost) {
    plan.saveSession = saving;
    plan.closeWindows = true;
    loader.set(param::kDisconnected, true);
  } else {
    plan.logText = "closing down";
    loader.set(param::kNoAutoConnect, true);
  }
  loader.set(param::kOffsetX, static_cast<uint32_t>(x));
  loader.set(param::kOffsetY, static_cast<uint32_t>(y));
  plan.loader = std::move(loader);
  return plan;
}

} // namespace kestel
