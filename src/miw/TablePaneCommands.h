// The commands of a table pane: their numbers and labels, the keys that give them, which of
// them a pane offers for its map and type, which are enabled for the current selection, and the
// entries of the pane's context menu. Decided here without a screen; the Qt pane only draws
// what this says.
#pragma once

#include "api/container/ContainerBase.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestel {

class CType;
class IObject;

// Toolbar commands keep their numbers; the commands without a button come after them.
enum class PaneCommand : uint32_t {
  Add = 1,
  Remove = 2,
  Enable = 4,
  Disable = 5,
  Comment = 7,
  Filter = 9,
  Copy = 11,
  Paste = 12,
  Freeze = 14,
  Refresh = 15,   // F5: a full fetch with the default mask
  SelectAll = 16, // context menu and Ctrl+A
  Export = 17,    // the visible rows to a CSV or JSON file
  None = 0xFFFFFFFF,
};

// The toolbar's buttons in order, with their labels.
struct ToolbarButton {
  PaneCommand command;
  const char* label;
  bool toggle; // Filter and Freeze stay pressed while on
};
const std::vector<ToolbarButton>& toolbarButtons();
const char* commandLabel(PaneCommand command);

// What a pane knows when it decides what to offer.
struct PaneFacts {
  bool withCommands = false; // the pane was made with commands (toolbar, keys, menu entries)
  bool canAdd = false;       // the map adds objects and the user may
  bool canRemove = false;
  bool canChange = false;
  bool hasDisabled = false; // the type has a "disabled" member
  bool hasComment = false;  // the type has a comment member
  bool canPaste = false;    // the map takes pasted rows (it permits adding)
  bool pasteReady = false;  // the clipboard holds rows this table takes
  bool canFilter = true;    // the table has a filter row to show
  bool canFreeze = true;    // the table can stop following the map
  size_t addVariants = 1;
  size_t rows = 0;
  size_t selected = 0;
  bool filterShown = false;
  bool frozen = false;
};

// The facts a map's command table gives (add, remove, change: supported and permitted).
void readMapCommands(const CommandTable& commands, PaneFacts& facts);
// The facts a descriptor type gives: a bool member named "disabled", a member of kind "comment".
void readTypeMembers(const CType* type, PaneFacts& facts);

// The pane offers the command at all (a button, a key, a menu entry).
bool commandOffered(PaneCommand command, const PaneFacts& facts);
// Offered and usable now.
bool commandEnabled(PaneCommand command, const PaneFacts& facts);
// Toggle commands: whether they are on.
bool commandChecked(PaneCommand command, const PaneFacts& facts);

// A key as the pane sees it: Qt's key code (Qt::Key values, which are the ASCII codes for
// letters and '/'), whether Ctrl was held, whether the key came from the numeric pad.
struct PaneKey {
  int key = 0;
  bool ctrl = false;
  bool keypad = false;
};
inline constexpr int kKeyInsert = 0x01000006;
inline constexpr int kKeyDelete = 0x01000007;
inline constexpr int kKeyF5 = 0x01000034;
inline constexpr int kKeyPlus = 0x2b;
inline constexpr int kKeyMinus = 0x2d;
inline constexpr int kKeySlash = 0x2f;
// Ctrl+C copies the selected rows and Ctrl+V pastes rows, beside the toolbar's buttons.
// The command a key gives in a pane with these facts; None for keys the pane leaves to the table
// and for commands not offered (a pane whose map cannot add ignores Insert).
PaneCommand commandForKey(const PaneKey& key, const PaneFacts& facts);

// One context menu entry; Add with several variants carries them as a submenu.
struct MenuEntry {
  std::string text;
  PaneCommand command = PaneCommand::None;
  bool enabled = true;
  std::vector<std::string> submenu; // the add variants' labels
  uint32_t extra = 0xFFFFFFFF;      // index of an extra command of the descriptor
};
// The entries in order: "Select All\tCtrl+A", then (panes with commands) Add, Remove, Enable,
// Disable and Comment as each applies, then the extra commands, then the export entry.
std::vector<MenuEntry> contextMenu(const PaneFacts& facts,
                                   const std::vector<std::string>& addVariants,
                                   const std::vector<std::string>& extraCommands);

} // namespace kestel
