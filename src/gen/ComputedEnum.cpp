// Computed enumerations at run time: starting and stopping the source that fills them over router
// objects, filling the per-object kinds from the slots of the object at hand, and replacing the
// entries with the differences told to listeners.
#include "gen/Enumerations.h"

#include "gen/ModelContext.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace kestel {

namespace {

// The field of `slot` in the object's record when its storage is of type T; null otherwise.
template <typename T> const T* slotValue(const ObjectView& object, const std::string& slot) {
  SlotFieldInfo info;
  if (!object.type || !object.record || slot.empty() || !object.type->slotField(slot, info))
    return nullptr;
  if (info.type != memberTypeOf<T>())
    return nullptr;
  return reinterpret_cast<const T*>(static_cast<const std::byte*>(object.record) + info.offset);
}

// A slot holding one number or a list of numbers.
std::vector<uint32_t> numbersOf(const ObjectView& object, const std::string& slot) {
  if (const auto* list = slotValue<std::vector<uint32_t>>(object, slot))
    return *list;
  if (const auto* one = slotValue<uint32_t>(object, slot))
    return {*one};
  return {};
}

EnumPairs slotEntries(const ObjectView& object, const std::string& values,
                      const std::string& names) {
  std::vector<uint32_t> v = numbersOf(object, values);
  const auto* n = slotValue<std::vector<std::string>>(object, names);
  EnumPairs out;
  for (size_t i = 0; i < v.size(); ++i)
    out.emplace_back(v[i], n && i < n->size() ? (*n)[i] : std::to_string(v[i]));
  return out;
}

EnumPairs offsetEntries(const ObjectView& object, const std::string& slot, const IEnum* inner) {
  const auto* offset = slotValue<uint32_t>(object, slot);
  EnumPairs out;
  if (!offset || !inner)
    return out;
  for (size_t i = 0; i < inner->count(); ++i)
    out.emplace_back(inner->valueAt(i) + *offset, inner->nameAt(i));
  return out;
}

} // namespace

void setEnumSource(IEnumSource* source) { modelContext().enumSource = source; }
IEnumSource* enumSource() { return modelContext().enumSource; }

ComputedEnum::~ComputedEnum() { stop(); }

bool ComputedEnum::start() {
  if (source_)
    return true;
  if (kind_ == Kind::Slot || kind_ == Kind::Offset || !enumSource())
    return false;
  source_ = enumSource();
  source_->attach(*this);
  return true;
}

void ComputedEnum::stop() {
  if (IEnumSource* source = std::exchange(source_, nullptr))
    source->detach(*this);
}

void ComputedEnum::bindObject(const ObjectView& object) {
  if (kind_ == Kind::Slot)
    replaceEntries(slotEntries(object, valuesSlot, namesSlot));
  else if (kind_ == Kind::Offset)
    replaceEntries(offsetEntries(object, valuesSlot, inner.get()));
}

void ComputedEnum::replaceEntries(const EnumPairs& entries, bool flag) {
  EnumPairs next;
  std::map<uint32_t, size_t> at; // value -> index in next; the first pair of a value wins
  for (const auto& e : entries)
    if (at.emplace(e.first, next.size()).second)
      next.push_back(e);
  std::vector<std::pair<IEnumEvent::EventType, uint32_t>> changes;
  std::set<uint32_t> had;
  for (const auto& [value, name] : entries_) {
    had.insert(value);
    auto it = at.find(value);
    if (it == at.end())
      changes.emplace_back(IEnumEvent::Removed, value);
    else if (next[it->second].second != name)
      changes.emplace_back(IEnumEvent::Renamed, value);
  }
  for (const auto& e : next)
    if (!had.count(e.first))
      changes.emplace_back(IEnumEvent::Added, e.first);
  entries_ = std::move(next);
  for (size_t i = 0; i < changes.size(); ++i)
    notify(changes[i].first, changes[i].second, flag && i + 1 == changes.size());
}

} // namespace kestel
