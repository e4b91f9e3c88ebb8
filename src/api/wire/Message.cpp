#include "api/wire/Message.h"

#include "api/wire/MessageBody.h"
#include "util/Log.h"

#include <algorithm>
#include <cstring>

namespace nv {

using detail::ArrayField;
using detail::Body;
using detail::boolSlot;
using detail::Bytes;
using detail::kNoInlineBool;
using detail::ScalarField;
using detail::storedId;

namespace {

bool isArray(uint32_t id) { return (id & kTagArray) != 0; }
uint32_t kindOf(uint32_t id) { return id & kTagMask; }

// Tags that exist: the seven scalar kinds and their arrays.
bool validTag(uint32_t id) { return (id & ~kTagArray & kTagMask) <= kTagRaw; }

void release(Body* body) {
  if (body && --body->refs == 0)
    delete body;
}

template <typename List> auto findNode(List& list, uint32_t id) -> decltype(&*list.begin()) {
  for (auto& node : list)
    if (node.id == id)
      return &node;
  return nullptr;
}

template <typename List> bool eraseNode(List& list, uint32_t id) {
  bool erased = false;
  list.remove_if([&](const auto& node) { return node.id == id ? (erased = true) : false; });
  return erased;
}

const ScalarField* findScalar(const Body* b, uint32_t id) {
  return b ? findNode(b->scalars, id) : nullptr;
}
const ArrayField* findArray(const Body* b, uint32_t id) {
  return b ? findNode(b->arrays, id) : nullptr;
}

} // namespace

// ---- lifecycle ----------------------------------------------------------------------------------

message::message(std::span<const uint8_t> bytes) : body_(nullptr) {
  (void)parse(bytes.data(), bytes.size());
}

message::message(const uint8_t* data, size_t len) : body_(nullptr) { (void)parse(data, len); }

message::message(const message& other) : body_(other.body_) {
  if (!body_)
    return;
  if (body_->pinned) {
    body_ = new Body(*other.body_);
    return;
  }
  ++body_->refs;
}

message& message::operator=(const message& other) {
  if (this == &other)
    return *this;
  message copy(other);
  std::swap(body_, copy.body_);
  return *this;
}

message& message::operator=(message&& other) noexcept {
  if (this != &other) {
    release(body_);
    body_ = other.body_;
    other.body_ = nullptr;
  }
  return *this;
}

message::~message() { release(body_); }

message message::fromBytes(std::span<const uint8_t> bytes, bool* ok) {
  message m;
  bool parsed = m.parse(bytes.data(), bytes.size());
  if (ok)
    *ok = parsed;
  return m;
}

// Copy on write (mut() in MessageBody.h): a shared or the empty body is copied before the first
// change.
Body& message::detach() {
  if (!body_) {
    body_ = Body::withRoom(detail::kFreshRoom);
    return *body_;
  }
  Body* copy = new Body(*body_);
  --body_->refs;
  body_ = copy;
  return *body_;
}

Body& message::pinned() {
  Body& b = mut();
  b.pinned = true;
  return b;
}

// ---- queries ------------------------------------------------------------------------------------

bool message::hasField(uint32_t fieldId) const {
  const uint32_t id = storedId(fieldId);
  if (!body_ || !validTag(id))
    return false;
  const Body& b = *body_;
  if (isArray(id))
    return findNode(b.arrays, id) != nullptr;
  switch (kindOf(id)) {
  case kTagBool:
    if (b.inlineBoolId == id)
      return true;
    return b.inlineBoolId == kNoInlineBool && b.bools && b.bools->find(id);
  case kTagU32:
    return b.u32s.find(id) != nullptr;
  default:
    return findNode(b.scalars, id) != nullptr;
  }
}

bool message::get(bool_id id, bool def) const {
  const uint32_t fid = storedId(id.id());
  if (!body_)
    return def;
  if (body_->inlineBoolId == fid)
    return body_->inlineBool;
  if (body_->inlineBoolId != kNoInlineBool || !body_->bools)
    return def;
  const bool* v = body_->bools->find(fid);
  return v ? *v : def;
}

uint32_t message::get(u32_id id, uint32_t def) const {
  if (!body_)
    return def;
  const uint32_t* v = body_->u32s.find(storedId(id.id()));
  return v ? *v : def;
}

uint64_t message::get(u64_id id, uint64_t def) const {
  const ScalarField* f = findScalar(body_, storedId(id.id()));
  return f ? std::get<uint64_t>(f->value) : def;
}

addr6 message::get(addr6_id id, addr6 def) const {
  const ScalarField* f = findScalar(body_, storedId(id.id()));
  return f ? std::get<addr6>(f->value) : def;
}

std::string message::get(string_id id, std::string def) const {
  const ScalarField* f = findScalar(body_, storedId(id.id()));
  if (!f)
    return def;
  if (const std::string* s = std::get_if<std::string>(&f->value))
    return *s;
  const std::span<const uint8_t> bytes = detail::valueBytes(f->value);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

message message::get(message_id id) const {
  const ScalarField* f = findScalar(body_, storedId(id.id()));
  if (!f)
    return {};
  const std::span<const uint8_t> bytes = detail::valueBytes(f->value);
  return message(bytes.data(), bytes.size());
}

std::vector<uint8_t> message::getEncoded(message_id id) const {
  const ScalarField* f = findScalar(body_, storedId(id.id()));
  if (!f)
    return {};
  const std::span<const uint8_t> bytes = detail::valueBytes(f->value);
  return Bytes(bytes.begin(), bytes.end());
}

std::vector<uint8_t> message::get(raw_id id) const {
  const ScalarField* f = findScalar(body_, storedId(id.id()));
  return f ? std::get<Bytes>(f->value) : Bytes{};
}

namespace {
template <typename V> V arrayCopy(const Body* b, uint32_t id) {
  const ArrayField* f = findArray(b, storedId(id));
  return f ? std::get<V>(f->value) : V{};
}
} // namespace

std::vector<uint8_t> message::get(bool_array_id id) const {
  return arrayCopy<Bytes>(body_, id.id());
}
std::vector<uint32_t> message::get(u32_array_id id) const {
  return arrayCopy<std::vector<uint32_t>>(body_, id.id());
}
std::vector<uint64_t> message::get(u64_array_id id) const {
  return arrayCopy<std::vector<uint64_t>>(body_, id.id());
}
std::vector<addr6> message::get(addr6_array_id id) const {
  return arrayCopy<std::vector<addr6>>(body_, id.id());
}
std::vector<std::string> message::get(string_array_id id) const {
  return arrayCopy<std::vector<std::string>>(body_, id.id());
}
std::vector<std::vector<uint8_t>> message::get(raw_array_id id) const {
  return arrayCopy<std::vector<Bytes>>(body_, id.id());
}

std::vector<message> message::get(message_array_id id) const {
  const ArrayField* f = findArray(body_, storedId(id.id()));
  std::vector<message> out;
  if (!f)
    return out;
  const auto& elements = std::get<detail::PackedMessages>(f->value);
  out.reserve(elements.size());
  elements.forEach([&](std::span<const uint8_t> e) { out.emplace_back(e.data(), e.size()); });
  return out;
}

void message::forEachElement(uint32_t fieldId, void (*call)(void*, const message&),
                             void* fn) const {
  const ArrayField* f = findArray(body_, storedId(fieldId));
  if (!f)
    return;
  // f stays valid while the callback runs: it may not change this message (it gets a const one).
  std::get<detail::PackedMessages>(f->value).forEach([&](std::span<const uint8_t> e) {
    const message m(e.data(), e.size());
    call(fn, m);
  });
}

size_t message::countOf(uint32_t fieldId) const {
  const ArrayField* f = findArray(body_, storedId(fieldId));
  if (!f)
    return 0;
  return std::visit([](const auto& v) { return v.size(); }, f->value);
}

// ---- writable references (also the setters' building blocks) ----------------------------------

bool& detail::boolSlot(Body& b, uint32_t id) {
  if (b.inlineBoolId == id)
    return b.inlineBool;
  if (!b.bools && b.inlineBoolId == kNoInlineBool) {
    b.inlineBoolId = id;
    b.inlineBool = false;
    return b.inlineBool;
  }
  if (!b.bools) {
    // A second, different bool: from now on all bools live in the table.
    b.bools = std::make_unique<detail::OpenTable<bool>>();
    b.bools->insert(b.inlineBoolId) = b.inlineBool;
    b.inlineBoolId = kNoInlineBool;
  }
  return b.bools->findOrInsert(id);
}

namespace {

template <typename V> V& scalarSlot(Body& b, uint32_t id) {
  if (ScalarField* f = findNode(b.scalars, id)) {
    if (std::holds_alternative<detail::RoomBytes>(f->value))
      f->value = detail::ownedValue(id, f->value);
    return std::get<V>(f->value);
  }
  b.scalars.emplace_front(id, std::in_place_type<V>);
  return std::get<V>(b.scalars.front().value);
}

template <typename V> V& arraySlot(Body& b, uint32_t id) {
  if (ArrayField* f = findNode(b.arrays, id))
    return std::get<V>(f->value);
  b.arrays.emplace_front(id, std::in_place_type<V>);
  return std::get<V>(b.arrays.front().value);
}

// Creates or overwrites a string or message value with bytes kept in the body's room.
void putRoomBytes(Body& b, uint32_t id, const detail::RoomBytes& bytes) {
  if (ScalarField* f = findNode(b.scalars, id)) {
    f->value = bytes;
    return;
  }
  b.scalars.emplace_front(id, std::in_place_type<detail::RoomBytes>, bytes);
}

// Strings up to this length fit std::string's own buffer and cost no allocation.
const size_t kInlineString = std::string().capacity();

} // namespace

bool& message::ref(bool_id id) { return boolSlot(pinned(), storedId(id.id())); }
uint32_t& message::ref(u32_id id) { return pinned().u32s.findOrInsert(storedId(id.id())); }
uint64_t& message::ref(u64_id id) { return scalarSlot<uint64_t>(pinned(), storedId(id.id())); }
addr6& message::ref(addr6_id id) { return scalarSlot<addr6>(pinned(), storedId(id.id())); }
std::string& message::ref(string_id id) {
  return scalarSlot<std::string>(pinned(), storedId(id.id()));
}
std::vector<uint8_t>& message::ref(raw_id id) {
  return scalarSlot<Bytes>(pinned(), storedId(id.id()));
}
std::vector<uint8_t>& message::ref(bool_array_id id) {
  return arraySlot<Bytes>(pinned(), storedId(id.id()));
}
std::vector<uint32_t>& message::ref(u32_array_id id) {
  return arraySlot<std::vector<uint32_t>>(pinned(), storedId(id.id()));
}
std::vector<uint64_t>& message::ref(u64_array_id id) {
  return arraySlot<std::vector<uint64_t>>(pinned(), storedId(id.id()));
}
std::vector<addr6>& message::ref(addr6_array_id id) {
  return arraySlot<std::vector<addr6>>(pinned(), storedId(id.id()));
}
std::vector<std::string>& message::ref(string_array_id id) {
  return arraySlot<std::vector<std::string>>(pinned(), storedId(id.id()));
}
std::vector<std::vector<uint8_t>>& message::ref(raw_array_id id) {
  return arraySlot<std::vector<Bytes>>(pinned(), storedId(id.id()));
}

// ---- setters ------------------------------------------------------------------------------------

void message::set(bool_id id, bool value) { boolSlot(mut(), storedId(id.id())) = value; }
void message::set(u32_id id, uint32_t value) { mut().u32s.findOrInsert(storedId(id.id())) = value; }
void message::set(u64_id id, uint64_t value) {
  scalarSlot<uint64_t>(mut(), storedId(id.id())) = value;
}
void message::set(addr6_id id, const addr6& value) {
  scalarSlot<addr6>(mut(), storedId(id.id())) = value;
}
// A longer string is copied into the body's room while it lasts (value may point into this body:
// the room is fresh memory, and the old value stays until the field is overwritten).
void message::set(string_id id, std::string_view value) {
  Body& b = mut();
  const uint32_t fid = storedId(id.id());
  if (value.size() > kInlineString)
    if (void* room = b.room.take(value.size())) {
      std::memcpy(room, value.data(), value.size());
      putRoomBytes(b, fid, {static_cast<const uint8_t*>(room), value.size()});
      return;
    }
  scalarSlot<std::string>(b, fid).assign(value);
}
void message::set(raw_id id, std::vector<uint8_t> value) {
  scalarSlot<Bytes>(mut(), storedId(id.id())) = std::move(value);
}

// The encoding goes to the body's room while it lasts, else to a vector of its own.
void message::set(message_id id, const message& value) {
  // Sized before this message changes: value may be this very message. It is written before the
  // field changes, into room memory that no field uses yet.
  const size_t bound = value.nestedBound();
  if (bound != kNotNestable && bound <= kMaxWireLength) {
    Body& b = mut();
    if (auto* room = static_cast<uint8_t*>(b.room.take(bound))) {
      const size_t n = value.writeNested(room);
      b.room.shrinkLast(room, bound, n);
      putRoomBytes(b, storedId(id.id()), {room, n});
      return;
    }
  }
  Bytes encoded(bound == kNotNestable ? 0 : bound);
  const size_t n = bound == kNotNestable ? kNotNestable : value.writeNested(encoded.data());
  if (n == kNotNestable) {
    removeField(id.id());
    return;
  }
  encoded.resize(n);
  scalarSlot<Bytes>(mut(), storedId(id.id())) = std::move(encoded);
}

void message::set(bool_array_id id, std::vector<uint8_t> value) {
  for (uint8_t& v : value)
    v = v ? 1 : 0;
  arraySlot<Bytes>(mut(), storedId(id.id())) = std::move(value);
}
void message::set(u32_array_id id, std::vector<uint32_t> value) {
  arraySlot<std::vector<uint32_t>>(mut(), storedId(id.id())) = std::move(value);
}
void message::set(u64_array_id id, std::vector<uint64_t> value) {
  arraySlot<std::vector<uint64_t>>(mut(), storedId(id.id())) = std::move(value);
}
void message::set(addr6_array_id id, std::vector<addr6> value) {
  arraySlot<std::vector<addr6>>(mut(), storedId(id.id())) = std::move(value);
}
void message::set(string_array_id id, std::vector<std::string> value) {
  arraySlot<std::vector<std::string>>(mut(), storedId(id.id())) = std::move(value);
}
void message::set(raw_array_id id, std::vector<std::vector<uint8_t>> value) {
  arraySlot<std::vector<Bytes>>(mut(), storedId(id.id())) = std::move(value);
}

// Each element is encoded straight into the packed buffer, sized once for all of them; one that
// cannot be encoded is stored empty.
void message::set(message_array_id id, const std::vector<message>& value) {
  std::vector<size_t> bounds(value.size());
  size_t total = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    bounds[i] = value[i].nestedBound();
    total += 2 + (bounds[i] == kNotNestable ? 0 : bounds[i]);
  }
  detail::PackedMessages packed;
  packed.count = uint32_t(value.size());
  packed.wire.resize(total);
  uint8_t* const start = packed.wire.data();
  uint8_t* at = start;
  for (size_t i = 0; i < value.size(); ++i)
    at += value[i].writePackedElement(at, bounds[i]);
  packed.wire.resize(size_t(at - start));
  arraySlot<detail::PackedMessages>(mut(), storedId(id.id())) = std::move(packed);
}

void message::append(message_array_id id, const message& value) {
  if (&value == this) { // encode before this message changes
    const message copy = value;
    append(id, copy);
    return;
  }
  const size_t bound = value.nestedBound();
  detail::PackedMessages& packed = arraySlot<detail::PackedMessages>(mut(), storedId(id.id()));
  Bytes& wire = packed.wire;
  const size_t at = wire.size();
  wire.resize(at + 2 + (bound == kNotNestable ? 0 : bound));
  wire.resize(at + value.writePackedElement(wire.data() + at, bound));
  ++packed.count;
}

bool message::appendEncodedUnchecked(message_array_id id, std::span<const uint8_t> encoded) {
  if (encoded.size() > kMaxWireLength)
    return false;
  detail::PackedMessages& packed = arraySlot<detail::PackedMessages>(mut(), storedId(id.id()));
  Bytes& wire = packed.wire;
  const size_t at = wire.size();
  wire.resize(at + 2 + encoded.size());
  wire[at] = uint8_t(encoded.size());
  wire[at + 1] = uint8_t(encoded.size() >> 8);
  std::copy(encoded.begin(), encoded.end(), wire.begin() + ptrdiff_t(at + 2));
  ++packed.count;
  return true;
}

size_t message::writePackedElement(uint8_t* at, size_t bound) const {
  size_t n = bound == kNotNestable ? kNotNestable : writeNested(at + 2);
  if (n == kNotNestable)
    n = 0;
  at[0] = uint8_t(n);
  at[1] = uint8_t(n >> 8);
  return 2 + n;
}

// ---- removal ------------------------------------------------------------------------------------

void message::removeField(uint32_t fieldId) {
  const uint32_t id = storedId(fieldId);
  if (!body_ || !validTag(id) || !hasField(id))
    return;
  Body& b = mut();
  if (isArray(id)) {
    eraseNode(b.arrays, id);
    return;
  }
  switch (kindOf(id)) {
  case kTagBool:
    if (b.inlineBoolId == id)
      b.inlineBoolId = kNoInlineBool;
    else if (b.bools)
      b.bools->erase(id);
    return;
  case kTagU32:
    b.u32s.erase(id);
    return;
  default:
    eraseNode(b.scalars, id);
  }
}

void message::removeMatching(uint32_t key, uint32_t mask) {
  if (!body_)
    return;
  const uint32_t want = key & mask;
  detail::eraseFieldsIf(mut(), [&](uint32_t id) { return (id & mask) == want; });
}

std::vector<uint32_t> message::keys() const {
  std::vector<uint32_t> out;
  if (!body_)
    return out;
  const Body& b = *body_;
  out.reserve(size());
  auto add = [&](uint32_t id, auto) { out.push_back(id); };
  if (b.inlineBoolId != kNoInlineBool)
    out.push_back(b.inlineBoolId);
  else if (b.bools)
    b.bools->forEach(add);
  b.u32s.forEach(add);
  for (const ScalarField& f : b.scalars)
    out.push_back(f.id);
  for (const ArrayField& f : b.arrays)
    out.push_back(f.id);
  return out;
}

size_t message::size() const {
  if (!body_)
    return 0;
  const Body& b = *body_;
  size_t n = b.inlineBoolId != kNoInlineBool ? 1 : (b.bools ? b.bools->count() : 0);
  n += b.u32s.count();
  n += size_t(std::distance(b.scalars.begin(), b.scalars.end()));
  n += size_t(std::distance(b.arrays.begin(), b.arrays.end()));
  return n;
}

} // namespace nv
