// What a window opened inside a session reaches of that session. The session window hands one
// to every window it opens (from the launcher, an alias, a table's double-click or a restored
// session file); a window that opens further windows passes it on.
#pragma once

namespace kestel {
class ChangeLog;
class IObjectEditorOpener;
} // namespace kestel

namespace kestel::gui {

class Desktop;

struct WindowContext {
  // The session's desktop: windows go into frames of it (Desktop::makeWindow). Null in tests
  // that show a window on its own.
  Desktop* desktop = nullptr;
  // Commits and removals go through it, so the session's change list shows them and safe mode,
  // undo and revert know them. Null: straight to the object map.
  ChangeLog* changes = nullptr;
  // Opens object editors and comment editors (a table's double-click, Add, Comment). Null: none.
  IObjectEditorOpener* editors = nullptr;
};

} // namespace kestel::gui
