#include "sim/MenuStore.h"

#include "api/wire/Vocabulary.h"

#include <algorithm>

namespace kestel::sim {
namespace {

constexpr uint32_t kKeyBits = 0x07FFFFFF;
// Arena garbage is only worth a rewrite once there is this much of it.
constexpr size_t kCompactFloor = size_t(1) << 20;

// Members of the menu itself: SYS_ and STD_ fields are the protocol's, not the object's.
bool isMember(uint32_t fieldId) { return ((fieldId >> 16) & 0xFF) < NS_STD; }

} // namespace

void mergeMembers(const nv::message& values, nv::message& object) {
  for (uint32_t field : values.get(SYS_UNSET))
    if (isMember(field))
      object.removeField(field);
  for (uint32_t field : values.keys())
    if (isMember(field))
      copyField(values, object, field);
}

EditResult checkMembers(const std::vector<MemberRule>& rules, const nv::message& object) {
  for (const MemberRule& rule : rules) {
    uint32_t key = rule.fieldId & kKeyBits;
    if ((rule.fieldId & nv::kTagMask) == nv::kTagString) {
      size_t length = object.get(nv::string_id(key)).size();
      if (length < rule.min || length > rule.max)
        return {ERROR_FAILED, std::string(rule.title) + " must have " + std::to_string(rule.min) +
                                  " to " + std::to_string(rule.max) + " characters"};
    } else if (object.has(nv::u32_id(key))) {
      uint32_t value = object.get(nv::u32_id(key));
      if (value < rule.min || value > rule.max)
        return {ERROR_FAILED, std::string(rule.title) + " must be between " +
                                  std::to_string(rule.min) + " and " + std::to_string(rule.max)};
    }
  }
  return {};
}

void copyField(const nv::message& from, nv::message& to, uint32_t fieldId) {
  uint32_t key = fieldId & kKeyBits;
  switch (fieldId & nv::kTagMask) {
  case nv::kTagBool:
    if (from.has(nv::bool_id(key)))
      to.set(nv::bool_id(key), from.get(nv::bool_id(key)));
    break;
  case nv::kTagU32:
    if (from.has(nv::u32_id(key)))
      to.set(nv::u32_id(key), from.get(nv::u32_id(key)));
    break;
  case nv::kTagU64:
    if (from.has(nv::u64_id(key)))
      to.set(nv::u64_id(key), from.get(nv::u64_id(key)));
    break;
  case nv::kTagAddr6:
    if (from.has(nv::addr6_id(key)))
      to.set(nv::addr6_id(key), from.get(nv::addr6_id(key)));
    break;
  case nv::kTagString:
    if (from.has(nv::string_id(key)))
      to.set(nv::string_id(key), from.get(nv::string_id(key)));
    break;
  case nv::kTagMessage:
    if (from.has(nv::message_id(key)))
      to.set(nv::message_id(key), from.get(nv::message_id(key)));
    break;
  case nv::kTagRaw:
    if (from.has(nv::raw_id(key)))
      to.set(nv::raw_id(key), from.get(nv::raw_id(key)));
    break;
  case nv::kTagArray | nv::kTagBool:
    if (from.has(nv::bool_array_id(key)))
      to.set(nv::bool_array_id(key), from.get(nv::bool_array_id(key)));
    break;
  case nv::kTagArray | nv::kTagU32:
    if (from.has(nv::u32_array_id(key)))
      to.set(nv::u32_array_id(key), from.get(nv::u32_array_id(key)));
    break;
  case nv::kTagArray | nv::kTagU64:
    if (from.has(nv::u64_array_id(key)))
      to.set(nv::u64_array_id(key), from.get(nv::u64_array_id(key)));
    break;
  case nv::kTagArray | nv::kTagAddr6:
    if (from.has(nv::addr6_array_id(key)))
      to.set(nv::addr6_array_id(key), from.get(nv::addr6_array_id(key)));
    break;
  case nv::kTagArray | nv::kTagString:
    if (from.has(nv::string_array_id(key)))
      to.set(nv::string_array_id(key), from.get(nv::string_array_id(key)));
    break;
  case nv::kTagArray | nv::kTagMessage:
    if (from.has(nv::message_array_id(key)))
      to.set(nv::message_array_id(key), from.get(nv::message_array_id(key)));
    break;
  case nv::kTagArray | nv::kTagRaw:
    if (from.has(nv::raw_array_id(key)))
      to.set(nv::raw_array_id(key), from.get(nv::raw_array_id(key)));
    break;
  default:
    break;
  }
}

MenuStore::MenuStore(MenuShape shape) : shape_(std::move(shape)) {}

std::optional<size_t> MenuStore::positionOf(Id id) const {
  if (!contains(id))
    return std::nullopt;
  auto it = sortedById_ ? std::lower_bound(order_.begin(), order_.end(), id)
                        : std::find(order_.begin(), order_.end(), id);
  if (it == order_.end() || *it != id)
    return std::nullopt;
  return size_t(it - order_.begin());
}

ByteSpan MenuStore::encoded(Id id) const {
  if (!contains(id))
    return {};
  return ByteSpan(arena_.data() + slots_[id].offset, slots_[id].length);
}

nv::message MenuStore::get(Id id) const {
  ByteSpan bytes = encoded(id);
  return bytes.empty() ? nv::message() : nv::message(bytes);
}

void MenuStore::reserve(size_t objects, size_t bytes) {
  order_.reserve(objects);
  slots_.reserve(objects + 1);
  arena_.reserve(bytes);
}

void MenuStore::store(Id id, const nv::message& object) {
  if (id >= slots_.size())
    slots_.resize(size_t(id) + 1);
  Slot& slot = slots_[id];
  garbage_ += slot.length;
  nv::message record = object;
  record.set(STD_ID, id);
  size_t at = arena_.size();
  if (!record.flatten(arena_)) {
    // A record beyond the wire limits cannot be served; the old version stays.
    garbage_ -= slot.length;
    return;
  }
  slot.offset = static_cast<uint32_t>(at);
  slot.length = static_cast<uint32_t>(arena_.size() - at);
  if (garbage_ > kCompactFloor && garbage_ > arena_.size() / 2)
    compact();
}

void MenuStore::drop(Id id) {
  garbage_ += slots_[id].length;
  slots_[id] = Slot{};
}

// Rewrites the arena with the live records only, in router order.
void MenuStore::compact() {
  Bytes fresh;
  fresh.reserve(arena_.size() - garbage_);
  for (Id id : order_) {
    Slot& slot = slots_[id];
    size_t at = fresh.size();
    fresh.insert(fresh.end(), arena_.begin() + slot.offset,
                 arena_.begin() + slot.offset + slot.length);
    slot.offset = static_cast<uint32_t>(at);
  }
  arena_ = std::move(fresh);
  garbage_ = 0;
}

MenuStore::Id MenuStore::append(const nv::message& values) {
  Id id = static_cast<Id>(slots_.size());
  store(id, values);
  order_.push_back(id);
  return id;
}

void MenuStore::tell(Id id, Change change, size_t position) {
  for (const Observer& observer : observers_)
    observer(id, change, position);
}

EditResult MenuStore::check(const nv::message& object, Id self) const {
  if (object.encodedSizeBound() > kMaxObjectBytes)
    return {ERROR_TOOBIG, "the object is too big"};
  if (EditResult refused = checkMembers(shape_.rules, object); !refused.ok())
    return refused;
  if (shape_.uniqueField) {
    nv::string_id field(shape_.uniqueField & kKeyBits);
    std::string value = object.get(field);
    for (Id other : order_)
      if (other != self && get(other).get(field) == value)
        return {ERROR_EXISTS, "\"" + value + "\" already exists"};
  }
  return {};
}

EditResult MenuStore::add(const nv::message& values) {
  if (shape_.capacity && order_.size() >= shape_.capacity)
    return {ERROR_TOOMUCH, "no room for more than " + std::to_string(shape_.capacity) + " objects"};
  nv::message object = shape_.defaults;
  mergeMembers(values, object);
  EditResult refused = check(object, kNone);
  if (!refused.ok())
    return refused;
  Id id = append(object);
  tell(id, Change::Added, order_.size() - 1);
  return {0, {}, id};
}

EditResult MenuStore::change(Id id, const nv::message& values) {
  if (!contains(id))
    return {ERROR_UNKNOWNID, {}};
  nv::message object = get(id);
  mergeMembers(values, object);
  object.remove(STD_ID);
  EditResult refused = check(object, id);
  if (!refused.ok())
    return refused;
  store(id, object);
  tell(id, Change::Changed, 0);
  return {0, {}, id};
}

EditResult MenuStore::remove(Id id) {
  std::optional<size_t> at = positionOf(id);
  if (!at)
    return {ERROR_UNKNOWNID, {}};
  order_.erase(order_.begin() + long(*at));
  drop(id);
  tell(id, Change::Removed, *at);
  return {0, {}, id};
}

EditResult MenuStore::move(Id id, Id before) {
  std::optional<size_t> from = positionOf(id);
  if (!from)
    return {ERROR_UNKNOWNID, {}};
  if (before != kNone && !contains(before))
    return {ERROR_UNKNOWNNEXTID, {}};
  if (before == id)
    return {0, {}, id};
  order_.erase(order_.begin() + long(*from));
  auto to = before == kNone ? order_.end() : std::find(order_.begin(), order_.end(), before);
  size_t position = size_t(order_.insert(to, id) - order_.begin());
  sortedById_ = sortedById_ && std::is_sorted(order_.begin(), order_.end());
  tell(id, Change::Moved, position);
  return {0, {}, id};
}

} // namespace kestel::sim
