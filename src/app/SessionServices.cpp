#include "app/SessionServices.h"

#include "app/MenuCatalog.h"

#include <strings.h>

namespace kestel {

ServiceContents serviceContents(const CService& service) {
  ServiceContents out;
  for (const auto& t : service.types()) {
    if (!t->completed() || !holds(t->predicate()))
      continue;
    switch (t->kind()) {
    case TypeKind::Map:
      if (isPublic(*t))
        out.maps.push_back(static_cast<CMap*>(t.get()));
      break;
    case TypeKind::Item:
    case TypeKind::Setup:
    case TypeKind::Action:
    case TypeKind::Query:
    case TypeKind::Doit:
    case TypeKind::Terminal:
      if (!out.other && isPublic(*t))
        out.other = t.get();
      break;
    case TypeKind::Alias:
    case TypeKind::Plain:
      break;
    }
  }
  if (!out.maps.empty())
    out.other = nullptr;
  return out;
}

std::string serviceKey(const CService& service) {
  return service.group.empty() ? service.name : service.group + "/" + service.name;
}

CService* serviceByKey(std::string_view key) {
  for (const auto& s : services())
    if (s->offered() && serviceKey(*s) == key)
      return s.get();
  return nullptr;
}

Expected<AliasTarget> aliasTarget(const CAlias& alias) {
  Expected<MenuRef> menu = findMenu(alias.open);
  if (!menu)
    return menu.error();
  AliasTarget target{menu->service, 0};
  const ServiceContents contents = serviceContents(*menu->service);
  for (size_t i = 0; i < contents.maps.size(); ++i)
    if (strcasecmp(contents.maps[i]->title().c_str(), alias.tab.c_str()) == 0 ||
        strcasecmp(contents.maps[i]->label().c_str(), alias.tab.c_str()) == 0)
      target.pane = i;
  return target;
}

} // namespace kestel
