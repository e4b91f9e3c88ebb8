// The enumeration kinds behind the code-side cenum forms (declared in Enumerations.h).
#include "gen/Enumerations.h"

#include <algorithm>
#include <cstdint>

namespace kestel {

// ---- ComputedEnum

uint32_t ComputedEnum::valueAt(size_t i) const {
  return i < entries_.size() ? entries_[i].first : 0;
}

std::string ComputedEnum::nameAt(size_t i) const {
  return i < entries_.size() ? entries_[i].second : std::string();
}

bool ComputedEnum::nameOf(uint32_t value, std::string& name) const {
  for (const auto& e : entries_) {
    if (e.first == value) {
      name = e.second;
      return true;
    }
  }
  return false;
}

bool ComputedEnum::valueOf(std::string_view name, uint32_t& value) const {
  for (const auto& e : entries_) {
    if (e.second == name) {
      value = e.first;
      return true;
    }
  }
  return false;
}

void ComputedEnum::setEntry(uint32_t value, std::string name, bool flag) {
  for (auto& e : entries_) {
    if (e.first == value) {
      e.second = std::move(name);
      notify(IEnumEvent::Renamed, value, flag);
      return;
    }
  }
  entries_.emplace_back(value, std::move(name));
  notify(IEnumEvent::Added, value, flag);
}

void ComputedEnum::removeEntry(uint32_t value, bool flag) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [value](const auto& e) { return e.first == value; });
  if (it == entries_.end())
    return;
  entries_.erase(it);
  notify(IEnumEvent::Removed, value, flag);
}

void ComputedEnum::removeListener(IEnumListener* l) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), l), listeners_.end());
}

void ComputedEnum::notify(IEnumEvent::EventType type, uint32_t value, bool flag) {
  Reference<IEnumEvent> event = createEnumEvent(type, value, flag);
  std::vector<IEnumListener*> listeners = listeners_; // a listener may remove itself or others
  for (IEnumListener* l : listeners)
    if (std::find(listeners_.begin(), listeners_.end(), l) != listeners_.end())
      l->enumChanged(*event); // skipped once removed: it may be gone already
}

// ---- DefaultEnum

size_t DefaultEnum::count() const { return 1 + (c_.values ? c_.values->count() : 0); }

uint32_t DefaultEnum::valueAt(size_t i) const {
  return i == 0 ? c_.defId : c_.values ? c_.values->valueAt(i - 1) : 0;
}

std::string DefaultEnum::nameAt(size_t i) const {
  return i == 0 ? c_.defName : c_.values ? c_.values->nameAt(i - 1) : std::string();
}

bool DefaultEnum::nameOf(uint32_t value, std::string& name) const {
  if (value == c_.defId) {
    name = c_.defName;
    return true;
  }
  return c_.values && c_.values->nameOf(value, name);
}

bool DefaultEnum::valueOf(std::string_view name, uint32_t& value) const {
  if (name == c_.defName) {
    value = c_.defId;
    return true;
  }
  return c_.values && c_.values->valueOf(name, value);
}

// ---- FilterEnum

bool FilterEnum::offered(uint32_t value) const {
  for (const EnumFilterRule& r : c_.filters) {
    if (r.id == value && !holds(r.pred.get(), object_.record ? objectRef(object_) : FieldRef{}))
      return false;
  }
  return true;
}

std::vector<size_t> FilterEnum::visible() const {
  std::vector<size_t> rows;
  size_t n = c_.values ? c_.values->count() : 0;
  for (size_t i = 0; i < n; ++i) {
    if (offered(c_.values->valueAt(i)))
      rows.push_back(i);
  }
  return rows;
}

size_t FilterEnum::count() const { return visible().size(); }

uint32_t FilterEnum::valueAt(size_t i) const {
  std::vector<size_t> rows = visible();
  return i < rows.size() ? c_.values->valueAt(rows[i]) : 0;
}

std::string FilterEnum::nameAt(size_t i) const {
  std::vector<size_t> rows = visible();
  return i < rows.size() ? c_.values->nameAt(rows[i]) : std::string();
}

bool FilterEnum::nameOf(uint32_t value, std::string& name) const {
  return offered(value) && c_.values && c_.values->nameOf(value, name);
}

bool FilterEnum::valueOf(std::string_view name, uint32_t& value) const {
  uint32_t v = 0;
  if (!c_.values || !c_.values->valueOf(name, v) || !offered(v))
    return false;
  value = v;
  return true;
}

// ---- code-side forms

std::vector<unsigned> path(unsigned a) { return {a, 0xFFFFFFFFu}; }
std::vector<unsigned> path(unsigned a, unsigned b) { return {a, b, 0xFFFFFFFFu}; }
std::vector<unsigned> path(unsigned a, unsigned b, unsigned c, unsigned d) {
  return {a, b, c, d, 0xFFFFFFFFu};
}

EnumRef cenum(const char* const* names) { return createEnum(names); }
EnumRef cenum(const MapEntry* table) { return createEnum(table); }
EnumRef cenum(const defenum& config) { return EnumRef(new DefaultEnum(config)); }

namespace {

// The handler numbers of a code-side path: up to the 0xFFFFFFFF that path() ends it with and at
// most `limit`, so every form of the same path stores the same numbers as its descriptor form.
std::vector<uint32_t> handlerPath(const unsigned* p, size_t size, size_t limit = SIZE_MAX) {
  std::vector<uint32_t> out;
  for (size_t i = 0; p && i < size && i < limit && p[i] != 0xFFFFFFFFu; ++i)
    out.push_back(p[i]);
  return out;
}

std::vector<uint32_t> handlerPath(const std::vector<uint32_t>& p, size_t limit = SIZE_MAX) {
  return handlerPath(p.data(), p.size(), limit);
}

} // namespace

EnumRef cenum(const unsigned* p) {
  auto e = makeRef<ComputedEnum>(ComputedEnum::Kind::Dynamic);
  e->path = handlerPath(p, SIZE_MAX, 4);
  return EnumRef(e);
}

// The filter is shared with the configuration, so it is evaluated through a forwarding
// predicate.
EnumRef cenum(const mapfilter& config) {
  struct Shared final : Predicate {
    explicit Shared(std::shared_ptr<Predicate> p) : p_(std::move(p)) {}
    bool evaluate(const FieldRef& f) const override { return holds(p_.get(), f); }
    const member_type* reads() const override { return p_ ? p_->reads() : nullptr; }
    std::shared_ptr<Predicate> p_;
  };
  auto e = makeRef<ComputedEnum>(ComputedEnum::Kind::Dynamic);
  e->path = handlerPath(config.path, 4);
  if (config.pred)
    e->pred = std::make_unique<Shared>(config.pred);
  return EnumRef(e);
}

EnumRef cenum(EnumRef first, EnumRef second) {
  return EnumRef(new PairEnum(std::move(first), std::move(second)));
}

EnumRef cenum(const enumfilter& config) { return EnumRef(new FilterEnum(config)); }

EnumRef cenum(const remapenum& config) {
  auto e = makeRef<ComputedEnum>(ComputedEnum::Kind::Remap);
  e->path = handlerPath(config.path);
  e->inner = config.values;
  e->master = config.master;
  return EnumRef(e);
}

EnumRef cenum(const queryenum& config) {
  auto e = makeRef<ComputedEnum>(ComputedEnum::Kind::Query);
  e->path = handlerPath(config.path);
  e->command = config.command;
  e->params = config.params;
  e->valuesField = config.valuesField;
  e->secondValuesField = config.secondValuesField;
  return EnumRef(e);
}

EnumRef cenum(const offsetenum& config) {
  auto e = makeRef<ComputedEnum>(ComputedEnum::Kind::Offset);
  e->valuesSlot = config.slot;
  e->inner = config.values;
  return EnumRef(e);
}

EnumRef cenum(const slotenum& config) {
  auto e = makeRef<ComputedEnum>(ComputedEnum::Kind::Slot);
  e->valuesSlot = config.values;
  e->namesSlot = config.names;
  return EnumRef(e);
}

} // namespace kestel
