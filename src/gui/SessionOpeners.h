// The windows a session window opens for the kinds of descriptor types it does not draw itself
// (tables and terminals it does): actions, queries, one-command windows and setup wizards.
#pragma once

namespace kestel::gui {

class SessionWindow;

void installWindowOpeners(SessionWindow& window);

} // namespace kestel::gui
