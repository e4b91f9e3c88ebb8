#include "app/LauncherSearch.h"

#include <algorithm>
#include <set>

namespace kestel {

std::string lowerText(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z')
      c = char(c - 'A' + 'a');
  return out;
}

namespace {

bool contains(const std::string& lower, const std::string& query) {
  return lower.find(query) != std::string::npos;
}

bool startsWith(const std::string& lower, const std::string& query) {
  return lower.compare(0, query.size(), query) == 0;
}

char lowerChar(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Where the lower-case `query` (not empty) first occurs in `text` ignoring ASCII case; npos when
// it does not. Table values are searched in place, without a lower-case copy.
size_t findIgnoringCase(std::string_view text, std::string_view query) {
  if (query.size() > text.size())
    return std::string_view::npos;
  const char first = query[0];
  const size_t last = text.size() - query.size();
  for (size_t i = 0; i <= last; ++i) {
    if (lowerChar(text[i]) != first)
      continue;
    size_t k = 1;
    while (k < query.size() && lowerChar(text[i + k]) == query[k])
      ++k;
    if (k == query.size())
      return i;
  }
  return std::string_view::npos;
}

// A hit's place in the list: prefix matches first, then by kind, shorter texts, found order.
struct Rank {
  bool prefix;
  SearchHit::Kind kind;
  size_t length;
  size_t ordinal;
  bool operator<(const Rank& o) const {
    if (prefix != o.prefix)
      return prefix;
    if (kind != o.kind)
      return kind < o.kind;
    if (length != o.length)
      return length < o.length;
    return ordinal < o.ordinal;
  }
};

} // namespace

// The best `limit` hits seen so far, as a heap with the worst on top; a hit is made only when it
// gets in.
class LauncherSearch::Best {
public:
  explicit Best(size_t limit) : limit_(limit) {}
  template <typename Make> void offer(Rank rank, Make make) {
    rank.ordinal = ordinal_++;
    if (heap_.size() == limit_ && !(rank < heap_.front().first))
      return;
    if (heap_.size() == limit_) {
      std::pop_heap(heap_.begin(), heap_.end(), worse);
      heap_.pop_back();
    }
    heap_.emplace_back(rank, make());
    heap_.back().second.prefix = rank.prefix;
    std::push_heap(heap_.begin(), heap_.end(), worse);
  }
  std::vector<SearchHit> take() {
    std::sort_heap(heap_.begin(), heap_.end(), worse);
    std::vector<SearchHit> out;
    for (auto& [rank, hit] : heap_)
      out.push_back(std::move(hit));
    return out;
  }

private:
  static bool worse(const std::pair<Rank, SearchHit>& a, const std::pair<Rank, SearchHit>& b) {
    return a.first < b.first;
  }
  size_t limit_;
  size_t ordinal_ = 0;
  std::vector<std::pair<Rank, SearchHit>> heap_;
};
LauncherSearch::LauncherSearch(const std::vector<LauncherItem>& launcher,
                               const ITableValues* tables)
    : tables_(tables) {
  for (const LauncherItem& item : launcher) {
    SearchHit line;
    line.entry = item.entry;
    line.group = item.group;
    line.text = item.entry.text;
    line.label = item.entry.text;
    add(line);
    for (const LauncherEntry& e : item.entries) {
      SearchHit hit;
      hit.entry = e;
      hit.text = e.text;
      hit.label = item.entry.text + " / " + e.text;
      add(hit);
    }
  }
  for (const MenuRef& menu : menuEntries()) {
    if (!menu.service || !inLauncher(*menu.service) || !isPublic(*menu.type))
      continue;
    std::set<std::string> titles; // a title once per menu
    for (const Slot* slot : valueSlots(*menu.type)) {
      const std::string& title = slot->titleText();
      if (title.empty() || !titles.insert(title).second)
        continue;
      SearchHit hit;
      hit.kind = SearchHit::Kind::Field;
      hit.menu = menu;
      hit.slot = slot;
      hit.text = title;
      hit.label = title + " in " + menu.name;
      add(hit);
    }
  }
}

void LauncherSearch::add(SearchHit hit) {
  if (hit.text.empty())
    return;
  std::string lower = lowerText(hit.text);
  entries_.push_back({std::move(lower), std::move(hit)});
}

std::vector<SearchHit> LauncherSearch::search(const std::string& query, size_t limit) {
  std::string lower = lowerText(query);
  if (lower.empty() || limit == 0) {
    last_.clear();
    haveMatched_ = false;
    return {};
  }
  bool narrow = haveMatched_ && contains(lower, last_);
  std::vector<uint32_t> matched;
  Best best(limit);
  auto consider = [&](uint32_t i) {
    const Entry& e = entries_[i];
    if (!contains(e.lower, lower))
      return;
    matched.push_back(i);
    best.offer({startsWith(e.lower, lower), e.hit.kind, e.lower.size(), 0}, [&] { return e.hit; });
  };
  if (narrow)
    for (uint32_t i : matched_)
      consider(i);
  else
    for (uint32_t i = 0; i < entries_.size(); ++i)
      consider(i);
  matched_ = std::move(matched);
  haveMatched_ = true;
  last_ = lower;
  searchValues(lower, narrow, best);
  return best.take();
}

void LauncherSearch::searchValues(const std::string& lower, bool narrow, Best& best) {
  if (!tables_)
    return;
  std::vector<TableValue> kept;
  bool overflow = false;
  auto consider = [&](const TableValue& v) {
    size_t at = findIgnoringCase(v.text, lower);
    if (at == std::string_view::npos)
      return;
    best.offer({at == 0, SearchHit::Kind::Value, v.text.size(), 0}, [&] {
      SearchHit hit;
      hit.kind = SearchHit::Kind::Value;
      hit.text = v.text;
      hit.label = v.text + " in " + v.menu + ", " + v.column;
      hit.value = v;
      return hit;
    });
    if (kept.size() < kKeptValueMatches)
      kept.push_back(v);
    else
      overflow = true;
  };
  if (narrow && !valuesFor_.empty() && contains(lower, valuesFor_)) {
    for (const TableValue& v : values_)
      consider(v);
  } else {
    tables_->forEachValue([&](const TableValue& v) {
      consider(v);
      return true;
    });
  }
  if (overflow) {
    valuesFor_.clear();
    values_.clear();
  } else {
    valuesFor_ = lower;
    values_ = std::move(kept);
  }
}

} // namespace kestel
