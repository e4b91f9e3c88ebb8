// How a session window ends, decided without the window: the question before quitting in safe
// mode, and what happens when the connection falls (the message box of a connection that never
// stood, saving the session, the parameters the new loader process starts with).
#pragma once

#include "api/wire/Message.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestel {

inline constexpr const char* kQuitTitle = "Kestel";

// The question "Exit" asks first ("You are in Safe Mode. ..."), or none outside safe mode.
std::optional<std::string> quitQuestion(bool safeModeOn);

enum class ConnectionLoss {
  NeverEstablished, // the connection fell before the session stood
  Lost,             // the router or the network ended it
  Disconnect,       // the user chose "Disconnect"
};

struct SessionEndPlan {
  // Shown first ("Could not connect to %s!", titled "Could not connect"); empty for none.
  std::string box;
  bool saveSession = false;  // save the session file before the windows close
  bool closeWindows = false; // close the object windows
  std::string logText;       // "closing down" for a disconnect the user asked for
  // The new loader's parameters, when one is started.
  std::optional<nv::message> loader;
};

// What to do when the session's connection falls. `parameters` are the session's parameters;
// `closing` says the window is being closed anyway (then no loader starts: the user is leaving);
// `saving` whether this session saves its file; (x, y) the window's position. The loader's copy
// drops what belonged to the dead connection (its stream state, the looper state, the
// descriptor index and skin bytes) and the marks of an earlier hand-back, so the new loader
// connects afresh and shows what happened this time.
SessionEndPlan planConnectionLoss(const nv::message& parameters, ConnectionLoss loss, bool closing,
                                  bool saving, int32_t x, int32_t y);

} // namespace kestel
