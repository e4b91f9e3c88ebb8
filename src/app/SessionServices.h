// What the session window opens for a launcher entry, decided without the window: the containers
// a service's window shows (one table pane per public map; otherwise the service's first other
// container), the key that names a service in a session file, and the service and tab a
// launcher alias opens.
#pragma once

#include "gen/Service.h"
#include "util/Expected.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestel {

struct ServiceContents {
  std::vector<CMap*> maps; // public maps, in the service's order: one pane each
  CType* other = nullptr;  // without maps: the first item, action, query, doit, setup or terminal
  bool empty() const { return maps.empty() && !other; }
};
ServiceContents serviceContents(const CService& service);

// "<group>/<name>" ("<name>" without group): stable across sessions, unlike the title.
std::string serviceKey(const CService& service);
// The offered service with that key; null when none.
CService* serviceByKey(std::string_view key);

// The window and tab an alias opens: the service its "open" names (as the menus are named) and
// the index of the map titled "tab" among that service's panes (0 when no pane has that title).
struct AliasTarget {
  CService* service = nullptr;
  size_t pane = 0;
};
[[nodiscard]] Expected<AliasTarget> aliasTarget(const CAlias& alias);

} // namespace kestel
