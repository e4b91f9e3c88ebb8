// The windows a session window opens for the kinds of descriptor types it does not draw itself
// (tables and terminals it does): settings items, actions, queries, one-command windows and setup
// wizards; and the object and comment editors its tables open.
#pragma once

namespace kestel::gui {

class SessionWindow;

void installWindowOpeners(SessionWindow& window);

} // namespace kestel::gui
