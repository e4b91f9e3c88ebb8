#include "miw/ObjectLayout.h"

#include "gen/CType.h"
#include "gen/Skin.h"
#include "gen/Slot.h"
#include "gen/SlotCondition.h"

#include <string_view>

namespace kestel {
namespace {

bool oneOf(std::string_view kind, std::initializer_list<std::string_view> kinds) {
  for (std::string_view k : kinds)
    if (kind == k)
      return true;
  return false;
}

// Slots with buttons of their own, state displays and the kinds that lay out other windows.
bool neverAField(const Slot& slot) {
  return oneOf(slot.kind(),
               {"comment",     "active",   "enable",      "dynamic",   "invalid",    "graph",
                "graphbox",    "grid",     "gridcell",    "table",     "status",     "statusbar",
                "toolbar",     "doit",     "contextmenu", "hyperlink", "lookup",     "deck",
                "autoset",     "filter",   "toggle",      "preset",    "networkmap", "alias",
                "columnalias", "buttonsep"}) ||
         (slot.name() == "disabled" && slot.kind() == "bool");
}

// A slot holding a value of its own: a bound field, or a container of rows.
bool holdsValue(const Slot& slot) {
  if (slot.kind() == "multi" || slot.kind() == "multituple")
    return true;
  for (const SlotField& f : slot.fields())
    if (f.letter != 0)
      return true;
  return false;
}

// Left out of the pane: the value stays in the record, the window does not show it.
bool leftOut(const Slot& slot, const SkinEntry* skin) {
  return slot.has(SLOT_NONPUBLIC) || slot.has(SLOT_HIDE) || (skin && skin->hidden) ||
         (slot.has(SLOT_HIDEBYDEFAULT) && !(skin && skin->show));
}

const SkinEntry* entryOf(const SkinEntry* typeSkin, const std::string& name) {
  return typeSkin ? typeSkin->child(name) : nullptr;
}

class Builder {
public:
  Builder(ObjectLayout& out, const SkinEntry* typeSkin, bool readOnly)
      : out_(out), skin_(typeSkin), readOnly_(readOnly) {}

  // Adds `slot`, whose part starts at `part`, to `items`; a "tab" starts a new page.
  void add(const Slot& slot, uint32_t part, std::vector<LayoutItem>*& items) {
    const SkinEntry* skin = entryOf(skin_, slot.name());
    const std::string& kind = slot.kind();
    if (kind == "tab") {
      if (leftOut(slot, skin))
        return;
      if (out_.pages.size() == 1 && out_.pages[0].items.empty())
        out_.pages.clear(); // the tab comes first: no page before it
      out_.pages.push_back({tabTitle(slot, skin), {}});
      items = &out_.pages.back().items;
      return;
    }
    if (leftOut(slot, skin) || neverAField(slot))
      return;
    if (skin && skin->separator)
      items->push_back({LayoutItemKind::Separator, 0, {}, {}});
    if (kind == "separator") {
      items->push_back({LayoutItemKind::Separator, 0, {}, {}});
    } else if (kind == "label") {
      items->push_back(
          {LayoutItemKind::Label, 0, Skin::nameOr(*skinOrEmpty(skin), title(slot)), {}});
    } else if (kind == "group") {
      LayoutItem group{LayoutItemKind::Group, 0, Skin::nameOr(*skinOrEmpty(skin), title(slot)), {}};
      std::vector<LayoutItem>* inner = &group.items;
      for (size_t i = 0; i < slot.inner().size() && i < slot.innerOffsets().size(); ++i)
        addPlain(*slot.inner()[i], part + slot.innerOffsets()[i], *inner);
      if (!group.items.empty())
        items->push_back(std::move(group));
    } else if (holdsValue(slot)) {
      addField(slot, part, skin, *items);
    } else {
      // Wrappers without a value of their own ("opt", "not", "prefix", "tuple"): their inner
      // slots are fields in their place.
      for (size_t i = 0; i < slot.inner().size() && i < slot.innerOffsets().size(); ++i)
        addPlain(*slot.inner()[i], part + slot.innerOffsets()[i], *items);
    }
  }

private:
  static const SkinEntry* skinOrEmpty(const SkinEntry* skin) {
    return skin ? skin : &Skin::empty();
  }
  static std::string title(const Slot& slot) {
    return slot.titleText().empty() ? slot.name() : slot.titleText();
  }
  // Inside a group: no tabs, no nested groups' pages.
  void addPlain(const Slot& slot, uint32_t part, std::vector<LayoutItem>& items) {
    if (slot.kind() == "tab")
      return;
    std::vector<LayoutItem>* at = &items;
    add(slot, part, at);
  }
  void addField(const Slot& slot, uint32_t part, const SkinEntry* skin,
                std::vector<LayoutItem>& items) {
    LayoutField f;
    f.slot = &slot;
    f.part = part;
    f.label = Skin::nameOr(*skinOrEmpty(skin), title(slot));
    f.note = skin ? skin->note : std::string();
    f.skin = skin;
    f.condition = slot.condition();
    const JSValue* ro = slot.option("ro");
    f.readOnly = readOnly_ || (skin && skin->readOnly) || (ro && ro->number != 0);
    if (f.condition && f.condition->hidesDynamically())
      out_.dynamicConditions = true;
    items.push_back({LayoutItemKind::Field, out_.fields.size(), {}, {}});
    out_.fields.push_back(std::move(f));
  }

  ObjectLayout& out_;
  const SkinEntry* skin_;
  bool readOnly_;
};

} // namespace

const Slot* commentSlotOf(const CType& type) {
  for (const Slot* s : type.slots())
    if (s->kind() == "comment" && !s->fields().empty() && s->fields()[0].letter != 0)
      return s;
  return nullptr;
}

std::string tabTitle(const Slot& tab, const SkinEntry* skin) {
  const std::string fallback = tab.titleText().empty() ? tab.name() : tab.titleText();
  return skin ? Skin::tabOr(*skin, fallback) : fallback;
}

ObjectLayout layoutObject(const CType& type, const SkinEntry* typeSkin, bool readOnly) {
  ObjectLayout out;
  out.pages.push_back({});
  Builder builder(out, typeSkin, readOnly || type.isReadOnly());
  std::vector<LayoutItem>* items = &out.pages.back().items;
  const std::vector<Slot*>& slots = type.slots();
  for (size_t i = 0; i < slots.size(); ++i)
    builder.add(*slots[i], type.slotOffsetAt(i), items);
  // Pages left empty (every field of a tab hidden) are not shown; one page always stays.
  std::vector<LayoutPage> pages;
  for (LayoutPage& p : out.pages)
    if (!p.items.empty())
      pages.push_back(std::move(p));
  if (pages.empty())
    pages.push_back({});
  if (pages.size() > 1 && pages[0].title.empty())
    pages[0].title = type.title(); // the fields before the first tab
  out.pages = std::move(pages);
  return out;
}

std::vector<FieldState> fieldStates(const ObjectLayout& layout, const CType& type,
                                    const void* record) {
  std::vector<FieldState> states(layout.fields.size());
  const ObjectView view{&type, record};
  for (size_t i = 0; i < layout.fields.size(); ++i) {
    const LayoutField& f = layout.fields[i];
    states[i].readOnly = f.readOnly;
    if (!f.condition || f.condition->holds(view))
      continue;
    if (f.condition->makesReadOnly() && !f.condition->hides())
      states[i].readOnly = true;
    else
      states[i].visible = false;
  }
  return states;
}

} // namespace kestel
