// What the client knows about the router it is logged in to: board, family, architecture,
// daughterboard, capability bits, installed packages. The login records it; predicates only
// read it. Used from the interface thread only.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

struct RouterFacts {
  std::string boardName;
  std::string boardFamily; // from boardFamilyOf at login
  std::string architecture;
  std::string daughterboard;
  std::vector<bool> systemCaps; // bit n = capability n; bits beyond the end are unset
  uint32_t quickSetCaps = 0;
  bool hasPassword = false;
  std::set<std::string, std::less<>> packages;

  bool hasPackage(std::string_view name) const { return packages.find(name) != packages.end(); }
  bool systemCap(uint64_t bit) const { return bit < systemCaps.size() && systemCaps[bit]; }
};

// The facts of the current session (empty before login).
const RouterFacts& routerFacts();
// Replaces the facts; the login calls this, tests too.
void setRouterFacts(RouterFacts facts);

// The family of a board from the board model table: the first row whose model prefix starts
// the board name and whose architecture matches (a row without one matches any). Empty when no
// row matches.
std::string boardFamilyOf(std::string_view boardName, std::string_view architecture);

} // namespace kestel
