// The state a table pane shows around its table and keeps between sessions: the status bar's
// texts, and the persisted records of a table window ("panes", "active") and of each of its
// panes ("sel"). Stored records are read defensively: a value of the wrong length is ignored.
#pragma once

#include "api/container/ObjectMap.h"
#include "miw/StringMap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestel {

// The status bar of a pane.
struct PaneStatusFacts {
  size_t shown = 0;    // rows the table shows
  size_t total = 0;    // rows the map holds
  size_t selected = 0; // rows selected
  FetchState fetch = FetchState::Idle;
  bool frozen = false;
  std::string operation; // the last command's progress or outcome
};

struct PaneStatusTexts {
  std::string items;     // "5 items out of 9 (2 selected)", at most 80 characters
  std::string state;     // "Loading...", "Frozen" or ""
  std::string operation; // as given
};
PaneStatusTexts paneStatusTexts(const PaneStatusFacts& facts);

// A table window's panes: the settings record id of each pane, in order, and the active one.
struct TableWindowState {
  std::vector<uint32_t> panes;
  uint32_t active = kNoId;
};
// "panes" as u32 values (4 little-endian bytes each), "active" as a u32.
void saveWindowState(const TableWindowState& state, StringMap& settings);
// An absent or malformed "panes" gives no panes; an "active" that names no pane gives the first.
TableWindowState loadWindowState(const StringMap& settings);

// "sel": the selected object's id as four bytes; removed when kNoId (nothing selected).
void saveSelection(uint32_t id, StringMap& settings);
// kNoId when absent or not four bytes long.
uint32_t loadSelection(const StringMap& settings);

} // namespace kestel
