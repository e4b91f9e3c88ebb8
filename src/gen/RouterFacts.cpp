#include "gen/RouterFacts.h"

#include "gen/ModelContext.h"

namespace kestel {

namespace {

struct BoardRow {
  const char* modelPrefix;
  const char* architecture; // "" for any
  const char* family;
};

// Board models and their families. More specific prefixes come first.
constexpr BoardRow kBoards[] = {
    {"NX-1100", "arm64", "nx1000"},      {"NX-1", "", "nx1000"},        {"NX-2", "arm64", "nx2000"},
    {"NX-2", "mipsbe", "nx2000-legacy"}, {"Halo", "arm", "halo"},       {"Halo", "arm64", "halo"},
    {"CoreSwitch", "", "coreswitch"},    {"Hearth", "mmips", "hearth"}, {"x86", "x86", "x86"},
    {"CHR", "x86_64", "cloud"},
};

} // namespace

const RouterFacts& routerFacts() { return modelContext().routerFacts; }

void setRouterFacts(RouterFacts f) { modelContext().routerFacts = std::move(f); }

std::string boardFamilyOf(std::string_view boardName, std::string_view architecture) {
  for (const BoardRow& row : kBoards) {
    std::string_view arch = row.architecture;
    if (boardName.starts_with(row.modelPrefix) && (arch.empty() || arch == architecture))
      return row.family;
  }
  return {};
}

} // namespace kestel
