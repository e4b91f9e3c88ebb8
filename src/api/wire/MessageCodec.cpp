// The "M2" encoding of a message and the decoder for it and for the older record format.
#include "api/wire/Message.h"

#include "api/wire/MessageBody.h"
#include "api/wire/Vocabulary.h"
#include "util/Bytes.h"
#include "util/Log.h"

#include <bit>
#include <cstring>
#include <unordered_set>

namespace nv {

using detail::ArrayField;
using detail::ArrayValue;
using detail::Body;
using detail::Bytes;
using detail::kNoInlineBool;
using detail::ScalarField;

namespace {

constexpr uint16_t kMagic = 0x324D;
constexpr uint32_t kSysToId = 0x88FF0001;
constexpr uint32_t kSysFromId = 0x88FF0002;

// ---- encoding -----------------------------------------------------------------------------------

constexpr uint32_t kNoField = 0xFFFFFFFF;

// Records the first field that exceeds the wire limits.
void checkLimit(size_t n, uint32_t id, uint32_t& oversized) {
  if (n > kMaxWireLength && oversized == kNoField)
    oversized = id;
}

// Bytes of the elements of a vector: fixed-size elements or (length, bytes) pairs.
template <typename V> size_t elementBytes(const V& v, uint32_t id, uint32_t& oversized) {
  using Element = typename V::value_type;
  if constexpr (std::is_same_v<Element, std::string> || std::is_same_v<Element, Bytes>) {
    size_t bytes = 0;
    for (const auto& s : v) {
      checkLimit(s.size(), id, oversized);
      bytes += 2 + s.size();
    }
    return bytes;
  } else {
    return v.size() * sizeof(Element);
  }
}

// Wire size of an array record: id, count, then the elements.
size_t arrayWireSize(const ArrayField& f, uint32_t& oversized) {
  return std::visit(
      [&](const auto& v) -> size_t {
        checkLimit(v.size(), f.id, oversized);
        // Packed message elements were limited when they were packed.
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, detail::PackedMessages>)
          return 6 + v.wire.size();
        else
          return 6 + elementBytes(v, f.id, oversized);
      },
      f.value);
}

size_t scalarWireSize(const ScalarField& f, uint32_t& oversized) {
  switch (f.value.index()) {
  case 0:
    return 12;
  case 1:
    return 20;
  default: {
    const size_t len = detail::valueBytes(f.value).size();
    checkLimit(len, f.id, oversized);
    return 4 + (len <= 255 ? 1 : 2) + len;
  }
  }
}

// Writes little-endian words through a raw cursor; the caller sized the buffer exactly.
struct Out {
  uint8_t* p;
  void u8(uint8_t v) { *p++ = v; }
  void u16(uint32_t v) { word(uint16_t(v)); }
  void u32(uint32_t v) { word(v); }
  void u64(uint64_t v) { word(v); }
  // One whole-word store in little-endian order.
  template <typename T> void word(T v) {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(p, &v, sizeof v);
    } else {
      for (size_t i = 0; i < sizeof v; ++i)
        p[i] = uint8_t(v >> (8 * i));
    }
    p += sizeof v;
  }
  void bytes(const void* data, size_t n) {
    if (n)
      std::memcpy(p, data, n);
    p += n;
  }
  // Array elements: bools as 0/1, numbers little-endian, byte strings with a u16 length.
  void element(uint8_t b) { u8(b ? 1 : 0); }
  void element(uint32_t v) { u32(v); }
  void element(uint64_t v) { u64(v); }
  void element(const addr6& a) { bytes(a.data(), a.size()); }
  void element(const std::string& s) {
    u16(uint32_t(s.size()));
    bytes(s.data(), s.size());
  }
  void element(const Bytes& s) {
    u16(uint32_t(s.size()));
    bytes(s.data(), s.size());
  }
  // string, message and raw values: short form up to 255 bytes.
  void value(uint32_t id, const void* data, size_t n) {
    if (n <= 255) {
      u32(id | kShortForm);
      u8(uint8_t(n));
    } else {
      u32(id);
      u16(uint32_t(n));
    }
    bytes(data, n);
  }
};

void writeArray(Out& o, const ArrayField& f) {
  o.u32(f.id);
  std::visit(
      [&o](const auto& v) {
        o.u16(uint32_t(v.size()));
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, detail::PackedMessages>) {
          o.bytes(v.wire.data(), v.wire.size());
        } else {
          for (const auto& e : v)
            o.element(e);
        }
      },
      f.value);
}

void writeScalar(Out& o, const ScalarField& f) {
  switch (f.value.index()) {
  case 0:
    o.u32(f.id);
    o.u64(*std::get_if<uint64_t>(&f.value));
    return;
  case 1:
    o.u32(f.id);
    o.bytes(std::get_if<addr6>(&f.value)->data(), 16);
    return;
  default: {
    const std::span<const uint8_t> s = detail::valueBytes(f.value);
    o.value(f.id, s.data(), s.size());
  }
  }
}

void logOversized(uint32_t id) {
  kestel::logf("ERROR: can't encode message: field ", kestel::keyName(id),
               " holds more than 65535 bytes or elements");
}

const ArrayField* routingField(const Body& b, uint32_t id) {
  for (const ArrayField& f : b.arrays)
    if (f.id == id)
      return &f;
  return nullptr;
}

} // namespace

size_t message::encodedSizeBound() const {
  if (!body_)
    return 2;
  const Body& b = *body_;
  size_t n = 2;
  n += 4 * (b.inlineBoolId != kNoInlineBool ? 1 : (b.bools ? b.bools->count() : 0));
  n += 8 * size_t(b.u32s.count());
  for (const ScalarField& f : b.scalars) {
    switch (f.value.index()) {
    case 0:
      n += 12;
      break;
    case 1:
      n += 20;
      break;
    default:
      n += detail::valueBytes(f.value).size() + 6;
    }
  }
  uint32_t ignored = kNoField;
  for (const ArrayField& f : b.arrays)
    n += arrayWireSize(f, ignored);
  return n;
}

// The exact encoded size; oversized gets the id of a field beyond the wire limits (else stays
// 0xFFFFFFFF).
size_t message::encodedSize(uint32_t& oversized) const {
  size_t n = listsSize(oversized);
  if (!body_)
    return n;
  const Body& b = *body_;
  n += 4 * (b.inlineBoolId != kNoInlineBool ? 1 : (b.bools ? b.bools->count() : 0));
  b.u32s.forEach([&](uint32_t, uint32_t v) { n += v <= 255 ? 5 : 8; });
  return n;
}

// An upper bound of the encoded size that needs no pass over the u32 table (each u32 counted in
// its long form); oversized as for encodedSize.
size_t message::writeBound(uint32_t& oversized) const {
  size_t n = listsSize(oversized);
  if (!body_)
    return n;
  const Body& b = *body_;
  n += 4 * (b.inlineBoolId != kNoInlineBool ? 1 : (b.bools ? b.bools->count() : 0));
  // Eight bytes per u32 in the long form, and eight more that writeTo may touch beyond them.
  return n + 8 * size_t(b.u32s.count()) + (b.u32s.slots().empty() ? 0 : 8);
}

// The magic and the exact size of the scalar and array lists.
size_t message::listsSize(uint32_t& oversized) const {
  oversized = kNoField;
  size_t n = 2;
  if (!body_)
    return n;
  for (const ScalarField& f : body_->scalars)
    n += scalarWireSize(f, oversized);
  for (const ArrayField& f : body_->arrays)
    n += arrayWireSize(f, oversized);
  return n;
}

// Routing fields lead so that a router can forward the message after reading its first fields.
size_t message::writeTo(uint8_t* out) const {
  Out o{out};
  o.u16(kMagic);
  if (!body_)
    return 2;
  const Body& b = *body_;
  const ArrayField* to = routingField(b, kSysToId);
  const ArrayField* from = routingField(b, kSysFromId);
  if (to)
    writeArray(o, *to);
  if (from)
    writeArray(o, *from);
  for (const ArrayField& f : b.arrays)
    if (&f != to && &f != from)
      writeArray(o, f);
  if (b.inlineBoolId != kNoInlineBool)
    o.u32(b.inlineBoolId | (b.inlineBool ? kShortForm : 0));
  else if (b.bools)
    b.bools->forEach([&](uint32_t id, bool v) { o.u32(id | (v ? kShortForm : 0)); });
  // Without a branch per slot: each slot is written as id and four value bytes, and the cursor
  // moves past live slots only, by 5 bytes (short form) or 8. writeBound leaves room for the
  // bytes written beyond the last live slot.
  for (const auto& slot : b.u32s.slots()) {
    const bool small = slot.value <= 255;
    o.word(slot.id | (small ? kShortForm : 0));
    o.word(slot.value);
    o.p -= slot.id < detail::kDeletedSlot ? (small ? 3 : 0) : 8;
  }
  for (const ScalarField& f : b.scalars)
    writeScalar(o, f);
  return size_t(o.p - out);
}

// One pass: the vector is sized to a bound, written, and cut to the bytes written.
bool message::flatten(std::vector<uint8_t>& out) const {
  uint32_t oversized = kNoField;
  const size_t bound = writeBound(oversized);
  if (oversized != kNoField) {
    logOversized(oversized);
    return false;
  }
  const size_t start = out.size();
  out.resize(start + bound);
  out.resize(start + writeTo(out.data() + start));
  return true;
}

// A buffer smaller than the bound is written through a scratch buffer of the bound's size.
size_t message::flatten(uint8_t* buf, size_t& capacity) const {
  uint32_t oversized = kNoField;
  const size_t bound = writeBound(oversized);
  const size_t n = bound <= capacity ? 0 : encodedSize(oversized);
  if (oversized != kNoField) {
    logOversized(oversized);
    capacity = 0;
    return 0;
  }
  if (n > capacity) {
    kestel::logLine("WARNING: too small buffer for flatten");
    capacity = 0;
    return 0;
  }
  if (bound <= capacity) {
    capacity = writeTo(buf);
  } else {
    std::vector<uint8_t> scratch(bound);
    capacity = writeTo(scratch.data());
    std::memcpy(buf, scratch.data(), capacity);
  }
  return capacity;
}

size_t message::nestedBound() const {
  uint32_t oversized = kNoField;
  const size_t n = writeBound(oversized);
  if (oversized != kNoField) {
    logOversized(oversized);
    return kNotNestable;
  }
  return n;
}

size_t message::writeNested(uint8_t* out) const {
  const size_t n = writeTo(out);
  if (n <= kMaxWireLength)
    return n;
  kestel::logf("ERROR: nested message of ", n, " bytes is too long to encode");
  return kNotNestable;
}

// ---- decoding -----------------------------------------------------------------------------------

namespace {

// A little-endian word from p (which must hold sizeof(T) bytes).
template <typename T> T loadLe(const uint8_t* p) {
  T v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, sizeof(T));
  } else {
    for (size_t k = 0; k < sizeof(T); ++k)
      v |= T(p[k]) << (8 * k);
  }
  return v;
}

using kestel::ByteReader;

// Appends decoded fields to a body. Scalars and arrays are pushed without looking for an earlier
// field of the same id; the caller drops the older duplicates once at the end, which keeps a
// message of many fields linear to decode.
class Decoder {
public:
  Decoder(Body& b, ByteReader& in) : b_(b), in_(in) {}

  bool field(uint32_t wireId) {
    const uint32_t id = wireId & ~kShortForm;
    const bool shortForm = (wireId & kShortForm) != 0;
    if (id & kTagArray)
      return array(id);
    switch (id & kTagMask) {
    case kTagBool:
      detail::boolSlot(b_, id) = shortForm;
      return true;
    case kTagU32: {
      uint32_t v = 0;
      if (shortForm) {
        uint8_t b = 0;
        if (!in_.u8(b))
          return false;
        v = b;
      } else if (!in_.u32le(v)) {
        return false;
      }
      b_.u32s.findOrInsert(id) = v;
      return true;
    }
    case kTagU64: {
      uint64_t v = 0;
      if (!in_.u64le(v))
        return false;
      b_.scalars.emplace_front(id, v);
      return true;
    }
    case kTagAddr6: {
      addr6 a{};
      if (!in_.copy(a.data(), a.size()))
        return false;
      b_.scalars.emplace_front(id, a);
      return true;
    }
    case kTagString:
    case kTagMessage:
    case kTagRaw:
      return bytesValue(id, shortForm);
    default:
      return false;
    }
  }

  // A string, message or raw value of the given length.
  bool bytesValue(uint32_t id, bool shortForm) {
    size_t len = 0;
    if (shortForm) {
      uint8_t n = 0;
      if (!in_.u8(n))
        return false;
      len = n;
    } else {
      uint16_t n = 0;
      if (!in_.u16le(n))
        return false;
      len = n;
    }
    return storeBytes(id, len, 0);
  }

  // Stores len bytes of input (dropping the last `drop`) as the value of a string/message/raw.
  bool storeBytes(uint32_t id, size_t len, size_t drop) {
    kestel::ByteSpan s;
    if (!in_.span(len, s))
      return false;
    s = s.first(s.size() - std::min(drop, s.size()));
    if ((id & kTagMask) == kTagString)
      b_.scalars.emplace_front(id, std::in_place_type<std::string>,
                               reinterpret_cast<const char*>(s.data()), s.size());
    else
      b_.scalars.emplace_front(id, std::in_place_type<Bytes>, s.begin(), s.end());
    return true;
  }

  bool array(uint32_t id) {
    uint16_t count = 0;
    if (!in_.u16le(count))
      return false;
    return arrayElements(id, count);
  }

  // count elements of the array kind of id, in the current form (shared with the older format).
  bool arrayElements(uint32_t id, size_t count) {
    switch (id & ~kTagArray & kTagMask) {
    case kTagBool:
      return fixedArray<Bytes>(id, count, 1);
    case kTagU32:
      return fixedArray<std::vector<uint32_t>>(id, count, 4);
    case kTagU64:
      return fixedArray<std::vector<uint64_t>>(id, count, 8);
    case kTagAddr6:
      return fixedArray<std::vector<addr6>>(id, count, 16);
    case kTagString:
      return lengthArray<std::vector<std::string>>(id, count);
    case kTagMessage:
      return messageArray(id, count);
    case kTagRaw:
      return lengthArray<std::vector<Bytes>>(id, count);
    default:
      return false;
    }
  }

private:
  template <typename V> bool fixedArray(uint32_t id, size_t count, size_t size) {
    kestel::ByteSpan s;
    if (!in_.span(count * size, s))
      return false;
    V v(count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* p = s.data() + i * size;
      if constexpr (std::is_same_v<V, Bytes>) {
        v[i] = p[0] ? 1 : 0;
      } else if constexpr (std::is_same_v<V, std::vector<addr6>>) {
        std::memcpy(v[i].data(), p, 16);
      } else {
        v[i] = loadLe<typename V::value_type>(p);
      }
    }
    b_.arrays.emplace_front(id, std::move(v));
    return true;
  }

  template <typename V> bool lengthArray(uint32_t id, size_t count) {
    // Every element needs at least its two length bytes: cap before reserving.
    if (count * 2 > in_.remaining())
      return false;
    V v;
    v.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      uint16_t len = 0;
      kestel::ByteSpan s;
      if (!in_.u16le(len) || !in_.span(len, s))
        return false;
      v.emplace_back(s.begin(), s.end());
    }
    b_.arrays.emplace_front(id, std::move(v));
    return true;
  }

  // Message elements stay as they travel: checked here, then copied in one piece.
  bool messageArray(uint32_t id, size_t count) {
    if (count * 2 > in_.remaining())
      return false;
    const uint8_t* start = in_.rest().data();
    for (size_t i = 0; i < count; ++i) {
      uint16_t len = 0;
      if (!in_.u16le(len) || !in_.skip(len))
        return false;
    }
    detail::PackedMessages v;
    v.count = uint32_t(count);
    v.wire.assign(start, in_.rest().data());
    b_.arrays.emplace_front(id, std::move(v));
    return true;
  }

  Body& b_;
  ByteReader& in_;
};

// Older record format: namespace selector in bits 24 to 27 of the record's key.
uint32_t olderKey(uint32_t key) {
  static constexpr uint32_t namespaces[] = {0, 0xFE, 0xFD, 0xFF};
  const uint32_t selector = (key >> 24) & 0xF;
  const uint32_t ns = selector >= 1 && selector <= 3 ? namespaces[selector] : 0;
  return (ns << 16) | (key & 0xFFFF);
}

bool olderRecord(Decoder& d, ByteReader& in) {
  static constexpr uint32_t tags[] = {kTagBool, kTagU32, kTagString, kTagRaw, kTagMessage};
  uint8_t type = 0;
  uint32_t key = 0;
  uint16_t count = 0;
  if (!in.u8(type) || type < 1 || type > 5 || !in.u32le(key) || !in.u16le(count) || !in.skip(2))
    return false;
  const uint32_t tag = tags[type - 1];
  const uint32_t id = olderKey(key) | tag;
  if (count != 1)
    return d.arrayElements(id | kTagArray, count);
  switch (tag) {
  case kTagBool: {
    uint8_t v = 0;
    return in.u8(v) && d.field(id | (v ? kShortForm : 0));
  }
  case kTagU32:
    return d.field(id);
  default: {
    uint16_t len = 0;
    if (!in.u16le(len))
      return false;
    // Strings of this format carry a terminator that is not part of the value.
    return d.storeBytes(id, len, tag == kTagString ? 1 : 0);
  }
  }
}

template <typename List> void dropOlder(List& list) {
  // Most lists hold distinct ids, which one pass over a 64-bit sieve of id hashes proves.
  uint64_t sieve = 0;
  bool distinct = true;
  for (auto it = list.begin(); it != list.end() && distinct; ++it) {
    const uint64_t bit = uint64_t(1) << ((it->id * 0x9E3779B1u) >> 26);
    distinct = (sieve & bit) == 0;
    sieve |= bit;
  }
  if (distinct)
    return;
  constexpr size_t kSmall = 16;
  uint32_t small[kSmall];
  size_t n = 0;
  for (auto it = list.begin(); it != list.end() && n <= kSmall; ++it)
    ++n;
  if (n < 2)
    return;
  std::unordered_set<uint32_t> seen;
  size_t kept = 0;
  auto firstSight = [&](uint32_t id) {
    if (n > kSmall)
      return seen.insert(id).second;
    for (size_t i = 0; i < kept; ++i)
      if (small[i] == id)
        return false;
    small[kept++] = id;
    return true;
  };
  auto prev = list.before_begin();
  for (auto it = list.begin(); it != list.end();) {
    if (firstSight(it->id)) {
      prev = it++;
      continue;
    }
    it = list.erase_after(prev);
  }
}

// Room for a body decoded from len bytes: enough for records of a dozen u32 and strings, nested
// messages and arrays of a few dozen bytes each, small enough to stay one cheap allocation.
size_t roomFor(size_t len) { return std::min<size_t>(2 * len + 64, 768); }

} // namespace

void detail::dropOlderDuplicates(Body& b) {
  dropOlder(b.scalars);
  dropOlder(b.arrays);
}

bool message::parse(const uint8_t* data, size_t len) {
  if (!body_ && len > 2)
    body_ = Body::withRoom(roomFor(len));
  Body& b = mut();
  if (len == 0)
    return true;
  ByteReader in(data, len);
  uint16_t first = 0;
  if (!in.u16le(first))
    return false;
  if (first != kMagic)
    return first <= 255 && parseOlder(data, len);
  Decoder d(b, in);
  bool ok = true;
  while (ok && in.remaining() >= 4) {
    uint32_t id = 0;
    ok = in.u32le(id) && d.field(id);
  }
  detail::dropOlderDuplicates(b);
  // One to three stray bytes at the end are a fault.
  return ok && in.atEnd();
}

bool message::parseOlder(const uint8_t* data, size_t len) {
  Body& b = mut();
  ByteReader in(data, len);
  uint16_t records = 0;
  if (!in.u16le(records))
    return false;
  Decoder d(b, in);
  bool ok = true;
  for (uint16_t i = 0; ok && i < records; ++i)
    ok = olderRecord(d, in);
  detail::dropOlderDuplicates(b);
  return ok;
}

} // namespace nv
