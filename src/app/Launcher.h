// The session window's launcher as data: "New Kestel" first, then the entries of the offered
// descriptor services and the launcher aliases, grouped by their launcher group and ordered by
// priority (ties keep load order; a group sorts at its lowest entry's priority). What is offered
// is decided now, from the services' predicates against the router's facts, and the active skin
// renames or hides groups and entries. Build it again when the facts or the skin change.
#pragma once

#include "gen/Service.h"

#include <string>
#include <vector>

namespace kestel {

struct LauncherEntry {
  enum class Kind { NewInstance, Service, Alias, Group };
  Kind kind = Kind::Service;
  std::string text; // as shown: the skin's name when it sets one, else the descriptor's
  unsigned icon = 0;
  unsigned prio = 500;
  bool selector = false;
  CService* service = nullptr;   // the service opened (Service) or holding the alias (Alias)
  const CAlias* alias = nullptr; // Alias: the window ("open") and tab ("tab") it opens
};

// One line of the launcher: an entry, or a group (kind Group) with its entries.
struct LauncherItem {
  LauncherEntry entry;
  std::string group; // the descriptor's group name; set for groups only
  std::vector<LauncherEntry> entries;
  bool isGroup() const { return entry.kind == LauncherEntry::Kind::Group; }
};

// The text of the entry that starts a plain new instance.
inline constexpr const char* kNewInstanceText = "New Kestel";

std::vector<LauncherItem> buildLauncher();

// Every entry as "Group/Entry" (or "Entry" at the top) in launcher order; for logs and tests.
std::vector<std::string> launcherPaths(const std::vector<LauncherItem>& items);

} // namespace kestel
