// What the windows that run a router operation (the action window, the query window) show for
// the operation's state, decided without a screen: which of Start and Stop is usable, the title
// (" (Running)" after the name while the operation runs), where the focus goes, and whether a
// window made to close when done goes away because the run just ended.
#pragma once

#include <string>

namespace kestel {

inline constexpr const char* kRunningSuffix = " (Running)";

enum class RunFocus { Start, Stop };

// Whether the window was made to close itself when a run ends.
enum class CloseWhenDone { No, Yes };

struct RunWindowState {
  bool startEnabled = true;
  bool stopEnabled = false;
  std::string title;
  RunFocus focus = RunFocus::Start;
  bool close = false;
};

// The window of `name` after a state event: `running` is the operation's state now, `stopping`
// that a stop waits for the router's answer (Stop is then not usable again), `ended` that this
// event ended a run (the window opening on an idle operation is no end).
RunWindowState runWindowState(const std::string& name, bool running, bool stopping, bool ended,
                              CloseWhenDone closeWhenDone);

} // namespace kestel
