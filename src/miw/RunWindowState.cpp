#include "miw/RunWindowState.h"

namespace kestel {

RunWindowState runWindowState(const std::string& name, bool running, bool stopping, bool ended,
                              CloseWhenDone closeWhenDone) {
  RunWindowState state;
  state.startEnabled = !running;
  state.stopEnabled = running && !stopping;
  state.title = running ? name + kRunningSuffix : name;
  state.focus = running ? RunFocus::Stop : RunFocus::Start;
  state.close = !running && ended && closeWhenDone == CloseWhenDone::Yes;
  return state;
}

} // namespace kestel
