// The launcher's search: finds launcher entries and groups, the menus that show a field (by the
// field's title, through every menu type's slots) and values in the tables open in the session.
// The first two come from the descriptors and are indexed once; the tables are asked at each
// search through ITableValues, which the session window implements over its open tables.
//
// Matching ignores ASCII case. A match at the start of the text ranks before one inside it; then
// launcher entries before fields before values, shorter texts first, then index order. At most
// `limit` hits are returned. Typing on (a query that contains the previous one) searches only the
// previous matches, so each keystroke costs less than the one before.
#pragma once

#include "app/Launcher.h"
#include "app/MenuCatalog.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestel {

class MapBase;

// One value of an open table as the table shows it.
struct TableValue {
  const MapBase* map = nullptr; // the table's map
  std::string menu;             // the table's menu, for the reader
  std::string column;           // the column's title
  uint32_t id = 0;              // the row's object
  std::string text;
};

class ITableValues {
public:
  virtual ~ITableValues() = default;
  // Calls `visit` for every value of every open table; stops when it returns false.
  virtual void forEachValue(const std::function<bool(const TableValue&)>& visit) const = 0;
};

struct SearchHit {
  enum class Kind { Launcher, Field, Value };
  Kind kind = Kind::Launcher;
  bool prefix = false; // the text starts with the query
  std::string text;    // what matched
  std::string label;   // the line the result list shows
  // Launcher: the entry (a group: kind Group, with `group` its descriptor name).
  LauncherEntry entry;
  std::string group;
  // Field: the menu that shows it.
  MenuRef menu;
  const Slot* slot = nullptr;
  // Value: the table's map, column and row.
  TableValue value;
};

class LauncherSearch {
public:
  static constexpr size_t kDefaultLimit = 30;
  // Value matches kept to narrow the next query; a query with more rescans the tables.
  static constexpr size_t kKeptValueMatches = 20000;

  // Indexes the launcher's lines and the fields of every menu the launcher offers.
  LauncherSearch(const std::vector<LauncherItem>& launcher, const ITableValues* tables = nullptr);

  // The best hits for `query` (empty for an empty query).
  std::vector<SearchHit> search(const std::string& query, size_t limit = kDefaultLimit);
  // The open tables changed: the next search asks them again in full.
  void tablesChanged() { valuesFor_.clear(), values_.clear(); }

  size_t indexed() const { return entries_.size(); }

private:
  struct Entry {
    std::string lower;
    SearchHit hit;
  };
  void add(SearchHit hit);
  class Best;
  // Offers the matching table values to `best` (the search's list of best hits).
  void searchValues(const std::string& lower, bool narrow, Best& best);

  std::vector<Entry> entries_;
  const ITableValues* tables_;
  // The previous query (lower case), the entries that matched it, and its table values.
  std::string last_;
  std::vector<uint32_t> matched_;
  bool haveMatched_ = false;
  std::string valuesFor_;
  std::vector<TableValue> values_;
};

// ASCII lower case (other bytes, UTF-8 included, unchanged).
std::string lowerText(std::string_view text);

} // namespace kestel
