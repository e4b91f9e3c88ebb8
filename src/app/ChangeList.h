// What the Changes window shows, without the window: one row per change this client committed,
// in commit order, and a header row above the changes of each safe-mode session; the texts of
// each column; and which of the window's commands are offered for a selection.
#pragma once

#include "app/ChangeLog.h"

#include <functional>
#include <string>
#include <vector>

namespace kestel {

// The columns, in order.
enum class ChangeColumn { Time, Menu, Object, Fields, Result };
inline constexpr const char* kChangeColumnTitles[] = {"Time", "Menu", "Object", "Change", "Result"};

struct ChangeRow {
  bool header = false; // a safe-mode session's header; its changes follow as its children
  size_t number = 0;   // the change's number (0 in a header)
  std::string texts[5];
  bool inGroup = false; // a change under a header
};

// `time` formats a change's wall-clock time (ms since the epoch) for the reader.
using ChangeTimeText = std::function<std::string(int64_t ms)>;
// "HH:MM:SS" in local time, with the date in front ("YYYY-MM-DD ") when it is not today's.
std::string localChangeTime(int64_t ms);

std::vector<ChangeRow> changeRows(const ChangeLog& log, const ChangeTimeText& time);

// The "Change" column: "field: old -> new", fields joined with "; "; an add lists the values
// given, a remove the values the object had; a revert starts with "reverts #n".
std::string changeFieldsText(const ChangeRecord& change);
// The "Result" column: "waiting", "failed", "done", "undone", "reverted by #n".
std::string changeResultText(const ChangeRecord& change);

struct ChangeCommands {
  bool undo = false;   // a change of this client stands
  bool redo = false;   // the newest changes of this client were undone
  bool revert = false; // the selected change can be reverted
  bool exportScript = false;
};
// `selected` is a change's number (0: none selected or a header); `busy` while an Undo or Redo
// waits for the router's answer.
ChangeCommands changeCommands(const ChangeLog& log, size_t selected, bool busy);

} // namespace kestel
