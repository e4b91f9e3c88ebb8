#include "app/MenuCatalog.h"

#include <algorithm>
#include <cctype>

namespace kestel {
namespace {

bool sameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool isContainer(const CType& type) {
  switch (type.kind()) {
  case TypeKind::Map:
    // A map that inherits from a generic one describes some of its objects, not a menu.
    return !type.pathIds().empty() && static_cast<const CMap&>(type).inheritName.empty();
  case TypeKind::Item:
  case TypeKind::Setup:
  case TypeKind::Action:
  case TypeKind::Query:
  case TypeKind::Doit:
    return !type.pathIds().empty();
  default:
    return false;
  }
}

std::string serviceName(const CService& s) {
  return s.group.empty() ? s.title : s.group + "/" + s.title;
}

} // namespace

bool isPublic(const CType& type) {
  switch (type.kind()) {
  case TypeKind::Map:
    return !static_cast<const CMap&>(type).nonPublic;
  case TypeKind::Action:
    return !static_cast<const CAction&>(type).nonPublic;
  case TypeKind::Query:
    return !static_cast<const CQuery&>(type).nonPublic;
  default:
    return true;
  }
}

bool inLauncher(const CService& service) {
  if (!service.offered() || service.isNonPublic)
    return false;
  bool containers = false;
  for (const auto& t : service.types()) {
    if (!isContainer(*t))
      continue;
    if (isPublic(*t))
      return true;
    containers = true;
  }
  return !containers;
}

std::vector<MenuRef> menuEntries() {
  std::vector<MenuRef> menus;
  for (const auto& s : services()) {
    if (!s->offered())
      continue;
    std::vector<CType*> containers;
    for (const auto& t : s->types())
      if (isContainer(*t))
        containers.push_back(t.get());
    for (CType* t : containers) {
      std::string name = serviceName(*s);
      if (containers.size() > 1)
        name += "/" + t->title();
      menus.push_back({s.get(), t, std::move(name), t == containers.front()});
    }
  }
  return menus;
}

Expected<MenuRef> findMenu(std::string_view name) {
  std::vector<MenuRef> menus = menuEntries();
  using Rule = bool (*)(const MenuRef&, std::string_view);
  const Rule rules[] = {
      [](const MenuRef& m, std::string_view n) { return sameText(m.name, n); },
      [](const MenuRef& m, std::string_view n) {
        return m.primary && (sameText(m.service->title, n) || sameText(serviceName(*m.service), n));
      },
      [](const MenuRef& m, std::string_view n) {
        return sameText(m.service->title + "/" + m.type->title(), n);
      },
      [](const MenuRef& m, std::string_view n) { return sameText(m.type->title(), n); },
  };
  for (Rule rule : rules) {
    std::vector<const MenuRef*> found;
    for (const MenuRef& m : menus)
      if (rule(m, name))
        found.push_back(&m);
    if (found.size() == 1)
      return *found[0];
    if (found.size() > 1) {
      std::string text = "menu " + std::string(name) + " is ambiguous:";
      for (const MenuRef* m : found)
        text += " \"" + m->name + "\"";
      return makeError(text);
    }
  }
  return makeError("no menu " + std::string(name));
}

namespace {

void collectValueSlots(const Slot& s, std::vector<const Slot*>& out) {
  if (!s.fields().empty() && s.fields()[0].letter != 0)
    out.push_back(&s);
  for (const auto& inner : s.inner())
    collectValueSlots(*inner, out);
}

} // namespace

std::vector<const Slot*> valueSlots(const CType& type) {
  std::vector<const Slot*> slots;
  for (const Slot* s : type.slots())
    collectValueSlots(*s, slots);
  return slots;
}

const Slot* findField(const CType& type, std::string_view name) {
  std::vector<const Slot*> slots = valueSlots(type);
  for (const Slot* s : slots)
    if (sameText(s->name(), name))
      return s;
  for (const Slot* s : slots)
    if (sameText(s->titleText(), name))
      return s;
  return nullptr;
}

} // namespace kestel
