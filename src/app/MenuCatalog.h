// The router's menus by name, for the command line and the windows alike: every live container
// an offered service holds (tables, settings pages, actions, queries, wizards, commands), found
// by the names a user types ("Firewall", "IP/Firewall", "Users/Groups", "Filter Rules"), and the
// fields of a type found by slot name or title.
#pragma once

#include "gen/Service.h"
#include "util/Expected.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestel {

struct MenuRef {
  CService* service = nullptr;
  CType* type = nullptr;
  // "Group/Service" (or "Service" without group), then "/Type" when the service holds more than
  // one container: the name that finds exactly this menu.
  std::string name;
  bool primary = false; // the service's first container: the one its title alone names
};

// Whether the container type is public (maps, actions and queries can be marked "nonpublic").
// Menus that are not public stay out of the launcher but are still found by name (other windows
// open them through links and aliases).
bool isPublic(const CType& type);
// Whether the launcher shows the service: offered, not "nonpublic", and, when it holds
// containers, holding a public one.
bool inLauncher(const CService& service);

// Every container type (map, item, action, query, setup, doit) of every offered service, in load
// order; the types a generic map's objects inherit from are not menus of their own.
std::vector<MenuRef> menuEntries();

// The menu `name` names. Matched without regard to case, in this order: the full name; a
// service's title or "Group/Title" (its first container); "Service/Type"; a type's title. The
// error says "no menu <name>", or lists the candidates when several match equally.
[[nodiscard]] Expected<MenuRef> findMenu(std::string_view name);

// The slots of `type` that hold a value (at least one bound field), inner slots of groups and
// tuples included, in order.
std::vector<const Slot*> valueSlots(const CType& type);
// The value slot named `name` (slot name, else title; without regard to case); null when none.
const Slot* findField(const CType& type, std::string_view name);

} // namespace kestel
