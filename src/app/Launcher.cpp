#include "app/Launcher.h"

#include "gen/Skin.h"

#include <algorithm>
#include <map>

namespace kestel {
namespace {

// An entry placed under a descriptor group ("" for the top), with its load position.
struct Placed {
  std::string group;
  LauncherEntry entry;
  size_t order = 0;
};

SkinEntry& groupSkin(const std::string& group) {
  return group.empty() ? Skin::empty() : activeSkin().lookupTop(group);
}

SkinEntry& entrySkin(const std::string& group, const std::string& name) {
  Skin& skin = activeSkin();
  return group.empty() ? skin.lookupTop(name) : skin.lookup(skin.lookupTop(group), name);
}

void place(std::vector<Placed>& out, const std::string& group, LauncherEntry entry,
           const std::string& name) {
  if (groupSkin(group).hidden)
    return;
  const SkinEntry& skin = entrySkin(group, name);
  if (skin.hidden)
    return;
  entry.text = Skin::nameOr(skin, name);
  out.push_back({group, std::move(entry), out.size()});
}

std::vector<Placed> offeredEntries() {
  std::vector<Placed> placed;
  for (const auto& s : services()) {
    if (!s->offered())
      continue;
    if (!s->isNonPublic) {
      LauncherEntry e;
      e.icon = s->iconIndex;
      e.prio = s->prio;
      e.selector = s->isSelector;
      e.service = s.get();
      place(placed, s->group, std::move(e), s->name);
    }
    for (const auto& t : s->types()) {
      if (t->kind() != TypeKind::Alias || !holds(t->predicate()))
        continue;
      const auto& alias = static_cast<const CAlias&>(*t);
      if (!alias.registered())
        continue;
      LauncherEntry e;
      e.kind = LauncherEntry::Kind::Alias;
      e.icon = s->iconIndex;
      e.prio = s->prio;
      e.service = s.get();
      e.alias = &alias;
      place(placed, alias.group.empty() ? s->group : alias.group, std::move(e), alias.title());
    }
  }
  return placed;
}

bool byPrio(const LauncherEntry& a, const LauncherEntry& b) { return a.prio < b.prio; }

} // namespace

std::vector<LauncherItem> buildLauncher() {
  std::vector<LauncherItem> items;
  std::map<std::string, size_t> groups; // group name -> index in items
  for (Placed& p : offeredEntries()) {
    if (p.group.empty()) {
      LauncherItem item;
      item.entry = std::move(p.entry);
      items.push_back(std::move(item));
      continue;
    }
    auto [it, added] = groups.try_emplace(p.group, items.size());
    if (added) {
      LauncherItem group;
      group.entry.kind = LauncherEntry::Kind::Group;
      group.entry.text = Skin::nameOr(groupSkin(p.group), p.group);
      group.entry.prio = p.entry.prio;
      group.group = p.group;
      items.push_back(std::move(group));
    }
    LauncherItem& group = items[it->second];
    group.entry.prio = std::min(group.entry.prio, p.entry.prio);
    if (group.entry.icon == 0 && p.entry.service)
      group.entry.icon = p.entry.service->groupIconIndex;
    group.entries.push_back(std::move(p.entry));
  }
  for (LauncherItem& item : items)
    std::stable_sort(item.entries.begin(), item.entries.end(), byPrio);
  std::stable_sort(items.begin(), items.end(), [](const LauncherItem& a, const LauncherItem& b) {
    return byPrio(a.entry, b.entry);
  });
  LauncherItem first;
  first.entry.kind = LauncherEntry::Kind::NewInstance;
  first.entry.text = kNewInstanceText;
  items.insert(items.begin(), std::move(first));
  return items;
}

std::vector<std::string> launcherPaths(const std::vector<LauncherItem>& items) {
  std::vector<std::string> paths;
  for (const LauncherItem& item : items) {
    if (!item.isGroup()) {
      paths.push_back(item.entry.text);
      continue;
    }
    for (const LauncherEntry& e : item.entries)
      paths.push_back(item.entry.text + "/" + e.text);
  }
  return paths;
}

} // namespace kestel
