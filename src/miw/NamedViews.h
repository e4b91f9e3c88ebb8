// Named views: the user saves a table's current columns, sort and filters under a name and
// recalls them later in any window showing the same kind of table. A view is the table's state
// as a string map (whatever fields the table writes; filter rows included, not referred to by
// record id), kept per table kind in the settings registry's record 0 under "views/<kind>".
//
// The stored value is read back defensively: a settings file may be damaged or edited by hand,
// so every length is checked, a broken entry ends the list (the views before it stay) and a name
// met twice keeps its first view.
#pragma once

#include "miw/Settings.h"
#include "miw/StringMap.h"
#include "util/Expected.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

// Names are 1 to this many bytes; the views of one kind together fit one settings field.
inline constexpr size_t kMaxViewName = 64;
inline constexpr size_t kMaxViewsBytes = 60000;

using ViewList = std::map<std::string, StringMap>;

// Stored form: per view, u8 name length, the name, u16 little-endian length of the packed map,
// the map in StringMap's packed form; in name order.
std::string formatViews(const ViewList& views);
ViewList parseViews(std::string_view bytes);

class NamedViews {
public:
  NamedViews(SettingsRegistry& settings, std::string kind)
      : settings_(settings), key_("views/" + std::move(kind)) {}

  std::vector<std::string> names() const;
  std::optional<StringMap> recall(std::string_view name) const;
  // Stores (or replaces) the view. Fails with a text for the user, changing nothing, when the
  // name is empty or too long or the kind's views would no longer fit.
  [[nodiscard]] Expected<void> save(std::string_view name, const StringMap& view);
  // False when there was no such view (or it could not be written).
  bool remove(std::string_view name);

private:
  ViewList load() const;
  // False when the registry has no record 0 (settings never loaded).
  bool store(const ViewList& views);

  SettingsRegistry& settings_;
  std::string key_;
};

} // namespace kestel
