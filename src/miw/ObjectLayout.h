// The field pane of an object window, decided without a screen: from a type's slots the pages
// (a "tab" slot starts one), the framed groups, separators and labels, and for each value slot its
// label, its part of the object record, its skin entry and the condition that governs it. Which
// fields show and which are locked for the values at hand is worked out by fieldStates(), which
// the window calls whenever the values change.
//
// A slot is left out of the pane when it is "nonpublic" or "hide", when its skin entry hides it,
// or when it is "hidebydefault" and the entry lacks "show" (its value stays in the record, only
// the window does not show it). Slots reached through their own buttons ("comment", the
// "disabled" flag) and the state displays ("active", "enable", "dynamic", "invalid") have no
// field either, nor have kinds that lay out other windows (graphs, tables, toolbars …).
#pragma once

#include "gen/Predicate.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestel {

class CType;
class Slot;
class SlotCondition;
struct SkinEntry;

struct LayoutField {
  const Slot* slot = nullptr;
  uint32_t part = 0; // offset of the slot's part in the object record
  std::string label; // the skin entry's name, else the slot's title, else its name
  std::string note;  // the skin entry's note ("" for none)
  const SkinEntry* skin = nullptr;
  const SlotCondition* condition = nullptr;
  // Shown but never typed: the slot's "ro", the skin's "ro" or a read-only window or type.
  bool readOnly = false;
};

enum class LayoutItemKind { Field, Separator, Label, Group };

struct LayoutItem {
  LayoutItemKind kind = LayoutItemKind::Field;
  size_t field = 0;              // Field: index into ObjectLayout::fields
  std::string text;              // Label: its text; Group: its title
  std::vector<LayoutItem> items; // Group: what it frames
};

struct LayoutPage {
  std::string title; // "" for a pane without tabs
  std::vector<LayoutItem> items;
};

struct ObjectLayout {
  std::vector<LayoutPage> pages; // at least one
  std::vector<LayoutField> fields;
  // Whether some condition is re-evaluated as the user types ("hidedynamicly").
  bool dynamicConditions = false;
};

// `typeSkin` is the skin entry of the type (null: none); `readOnly` a read-only window.
ObjectLayout layoutObject(const CType& type, const SkinEntry* typeSkin, bool readOnly);

struct FieldState {
  bool visible = true;
  bool readOnly = false;
};

// What each field of `layout` is for the record (one state per field). A field whose condition
// does not hold is hidden when the condition says "hide", locked when it says "makero", and
// hidden when it says neither.
std::vector<FieldState> fieldStates(const ObjectLayout& layout, const CType& type,
                                    const void* record);

// The type's comment slot: the first of kind "comment" with a bound field; null when none.
const Slot* commentSlotOf(const CType& type);

// The title of the page a "tab" slot starts: the skin's tab text, else the slot's title, else
// its name.
std::string tabTitle(const Slot& tab, const SkinEntry* skin);

} // namespace kestel
