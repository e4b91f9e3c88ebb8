#include "app/SessionState.h"

#include "miw/WindowPlacement.h"

#include <algorithm>
#include <strings.h>

namespace kestel {

int clampZoomStep(int step) { return std::clamp(step, kMinZoomStep, kMaxZoomStep); }

int zoomPercent(int step) { return 100 + 10 * clampZoomStep(step); }

void writeSessionFlags(const SessionFlags& flags, StringMap& session) {
  session.set("hpwd", packBool(flags.hidePasswords));
  session.set("inlc", packBool(flags.inlineComments));
  session.set("zoom", packData(static_cast<uint32_t>(flags.zoomStep)));
}

SessionFlags readSessionFlags(const StringMap& session) {
  SessionFlags flags;
  bool on = false;
  if (unpackBool(session.get("hpwd"), on))
    flags.hidePasswords = on;
  if (unpackBool(session.get("inlc"), on))
    flags.inlineComments = on;
  uint32_t zoom = 0;
  if (unpackData(session.get("zoom"), zoom))
    flags.zoomStep = clampZoomStep(static_cast<int32_t>(zoom));
  return flags;
}

void dropSavedWindows(SettingsRegistry& settings, const StringMap& session) {
  for (uint32_t id : unpackIdList(session.get("open")))
    if (id != 0)
      settings.removeSettings(id);
}

std::string withSessionExtension(std::string path) {
  if (path.size() < 4 || strcasecmp(path.c_str() + path.size() - 4, ".viw") != 0)
    path += std::string(".") + kSessionExtension;
  return path;
}

} // namespace kestel
