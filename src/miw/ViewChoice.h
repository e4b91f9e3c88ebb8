// Which editor a slot gets in an object window, decided without a screen: hidden placeholder,
// one-line text through the slot's convertor, drop-down of its enumeration, check boxes of a bit
// set, a list of element editors, or a read-only display; and whether the editor sits in an
// optional-value wrapper. The label is the skin entry's name when it has one, else the slot's
// title, else its name.
#pragma once

#include <string>

namespace kestel {

class Slot;
struct SkinEntry;

enum class ViewKind {
  Hidden,   // holds the record address only; nothing shown
  Text,     // a line editor checked through the convertor
  Enum,     // a drop-down of the slot's enumeration
  CheckSet, // one check box per enumeration entry (value and mask pair)
  Multi,    // rows of element editors with add and remove
  ReadOnly, // the formatted value as text
};

struct ViewChoice {
  ViewKind kind = ViewKind::Hidden;
  bool optional = false; // wrapped so it can be left at its default
  std::string label;
};

// `skin` may be null (no entry for the slot). `optional` is the flag the slot's type hands over
// when it is realized.
ViewChoice chooseView(const Slot& slot, const SkinEntry* skin, bool windowReadOnly, bool optional);

// The slot kinds shown as a list of element editors.
bool isMultiKind(const std::string& kind);
// The slot kinds that are shown but never typed (nested messages: "message", "object").
bool isDisplayKind(const std::string& kind);

} // namespace kestel
