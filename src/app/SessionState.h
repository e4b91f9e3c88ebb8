// The session window's own settings in a session file, without the window: the flags "hpwd"
// (Hide Passwords) and "inlc" (Inline Comments) and the zoom step "zoom", next to the window
// manager's "open" and "wm-id" in the same record. Saving a session again must not leave the
// records of the windows the previous save listed behind: dropSavedWindows removes them first.
#pragma once

#include "miw/Settings.h"

namespace kestel {

struct SessionFlags {
  bool hidePasswords = false;
  bool inlineComments = false;
  int zoomStep = 0; // kMinZoomStep..kMaxZoomStep; 0: the desktop's own sizes
};

inline constexpr int kMinZoomStep = -5;
inline constexpr int kMaxZoomStep = 10;
inline constexpr const char* kSessionExtension = "VIW";
inline constexpr const char* kSessionFilter = "Kestel Session (*.VIW *.viw)";

// The zoom in percent for a step: 10 % a step, the step kept within its range.
int zoomPercent(int step);
int clampZoomStep(int step);

void writeSessionFlags(const SessionFlags& flags, StringMap& session);
// Missing or malformed values keep their defaults; the zoom step is clamped.
SessionFlags readSessionFlags(const StringMap& session);

// Removes the records of the windows `session` lists under "open" from `settings`.
void dropSavedWindows(SettingsRegistry& settings, const StringMap& session);

// `path` with ".VIW" appended unless it ends in ".viw" (any case): the dialogs' default extension.
std::string withSessionExtension(std::string path);

} // namespace kestel
