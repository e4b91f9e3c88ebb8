#include "api/object/PackerElements.h"

#include "util/Log.h"

#include <cstring>
#include <type_traits>

namespace kestel {
namespace {

// Plain fields are read and written with memcpy, so records need no alignment for them; a bool
// is read as a byte, since record bytes need not be 0 or 1.
template <typename T> T readField(const void* f) {
  if constexpr (std::is_same_v<T, bool>) {
    uint8_t b = 0;
    std::memcpy(&b, f, 1);
    return b != 0;
  } else if constexpr (std::is_trivially_copyable_v<T>) {
    T v;
    std::memcpy(&v, f, sizeof v);
    return v;
  } else {
    return *static_cast<const T*>(f);
  }
}

template <typename T> void writeField(void* f, T v) {
  if constexpr (std::is_trivially_copyable_v<T>)
    std::memcpy(f, &v, sizeof v);
  else
    *static_cast<T*>(f) = std::move(v);
}

// An element whose first message field is `id`.
template <typename Id> class KeyedElement : public PackerElement {
public:
  bool has(const nv::message& msg) const override { return msg.has(id_); }
  void unset(nv::message& msg) const override {
    msg.remove(id_);
    recordUnset(msg, id_.id());
  }

protected:
  KeyedElement(const member& m, const member_type* fieldType, Id id)
      : PackerElement(m, fieldType), id_(id) {}
  Id id_;
};

// A field of type T copied as it is to and from a message value of the same kind.
template <typename T, typename Id> class CopyElement final : public KeyedElement<Id> {
public:
  CopyElement(const member& m, Id id) : KeyedElement<Id>(m, memberTypeOf<T>(), id) {}
  void pack(nv::message& msg, IObject* obj) const override {
    if (const void* f = this->field(obj))
      msg.set(this->id_, readField<T>(f));
  }
  void unpack(const nv::message& msg, IObject* obj) const override {
    void* f = this->field(obj);
    if (!f)
      return;
    if constexpr (std::is_trivially_copyable_v<T>)
      writeField<T>(f, msg.get(this->id_, readField<T>(f))); // one lookup; absent keeps the value
    else if (msg.has(this->id_))
      writeField<T>(f, msg.get(this->id_));
  }
};

// Elements that differ from a plain copy only in how the field maps to the message value.
// Pack writes toMessage(field); unpack, when the field is present, stores fromMessage(value).
template <typename T, typename Id, typename Kind>
class MappedElement final : public KeyedElement<Id> {
public:
  MappedElement(const member& m, Id id, Kind kind)
      : KeyedElement<Id>(m, memberTypeOf<T>(), id), kind_(kind) {}
  void pack(nv::message& msg, IObject* obj) const override {
    if (const void* f = this->field(obj))
      kind_.pack(msg, this->id_, readField<T>(f), *this);
  }
  void unpack(const nv::message& msg, IObject* obj) const override {
    void* f = this->field(obj);
    if (!f)
      return;
    T value = readField<T>(f);
    if (kind_.unpack(msg, this->id_, value))
      writeField<T>(f, value);
  }

private:
  Kind kind_;
};

template <typename T, typename Id, typename Kind>
Reference<IPackerElement> mapped(const member& m, Id id, Kind kind) {
  return Reference<IPackerElement>(new MappedElement<T, Id, Kind>(m, id, kind));
}

template <typename T, typename Id> Reference<IPackerElement> copied(const member& m, Id id) {
  return Reference<IPackerElement>(new CopyElement<T, Id>(m, id));
}

// Each kind: pack(msg, id, field value, element) writes; unpack(msg, id, value&) returns true
// when it changed the value. Unpack only reads present fields unless the kind says otherwise.
struct BoolAsNumber {
  void pack(nv::message& msg, nv::u32_id id, bool v, const IPackerElement&) const {
    msg.set(id, v ? 1u : 0u);
  }
  bool unpack(const nv::message& msg, nv::u32_id id, bool& v) const {
    if (!msg.has(id))
      return false;
    v = msg.get(id) != 0;
    return true;
  }
};

struct InvertedBool {
  void pack(nv::message& msg, nv::bool_id id, bool v, const IPackerElement&) const {
    msg.set(id, !v);
  }
  bool unpack(const nv::message& msg, nv::bool_id id, bool& v) const {
    if (!msg.has(id))
      return false;
    v = !msg.get(id);
    return true;
  }
};

struct BoolSetOrCleared {
  void pack(nv::message& msg, nv::bool_id id, bool v, const IPackerElement& e) const {
    if (v)
      msg.set(id, true);
    else
      e.unset(msg);
  }
  // The router sends the field only when it is set: an absent field reads as false.
  bool unpack(const nv::message& msg, nv::bool_id id, bool& v) const {
    v = msg.get(id, false);
    return true;
  }
};

struct FlagBit {
  uint32_t mask;
  bool inverted;
  void pack(nv::message& msg, nv::u32_id id, bool v, const IPackerElement&) const {
    uint32_t bits = msg.get(id, 0u);
    if (v != inverted)
      bits |= mask;
    msg.set(id, bits);
  }
  bool unpack(const nv::message& msg, nv::u32_id id, bool& v) const {
    if (!msg.has(id))
      return false;
    bool set = (msg.get(id) & mask) != 0;
    v = set != inverted;
    return true;
  }
};

struct BoolAsConstant {
  uint32_t constant;
  void pack(nv::message& msg, nv::u32_id id, bool v, const IPackerElement&) const {
    msg.set(id, v ? constant : 0u);
  }
  bool unpack(const nv::message& msg, nv::u32_id id, bool& v) const {
    if (!msg.has(id))
      return false;
    v = msg.get(id) == constant;
    return true;
  }
};

struct NumberAsBool {
  void pack(nv::message& msg, nv::bool_id id, uint32_t v, const IPackerElement&) const {
    msg.set(id, v != 0);
  }
  bool unpack(const nv::message& msg, nv::bool_id id, uint32_t& v) const {
    if (!msg.has(id))
      return false;
    v = msg.get(id) ? 1 : 0;
    return true;
  }
};

// A number as a one-element array of the same width.
template <typename N, typename Id> struct NumberAsList {
  void pack(nv::message& msg, Id id, N v, const IPackerElement&) const {
    msg.set(id, std::vector<N>{v});
  }
  bool unpack(const nv::message& msg, Id id, N& v) const {
    if (msg.count(id) == 0)
      return false;
    v = msg.get(id).front();
    return true;
  }
};

struct ScaledNumber {
  uint32_t factor;
  void pack(nv::message& msg, nv::u32_id id, uint32_t v, const IPackerElement&) const {
    msg.set(id, v / factor);
  }
  bool unpack(const nv::message& msg, nv::u32_id id, uint32_t& v) const {
    if (!msg.has(id))
      return false;
    v = msg.get(id) * factor;
    return true;
  }
};

struct NumberPairAsList {
  void pack(nv::message& msg, nv::u32_array_id id, NumberPair v, const IPackerElement&) const {
    msg.set(id, std::vector<uint32_t>{v.first, v.second});
  }
  bool unpack(const nv::message& msg, nv::u32_array_id id, NumberPair& v) const {
    std::vector<uint32_t> list = msg.get(id);
    if (list.empty())
      return false;
    v.first = list[0];
    v.second = list.size() > 1 ? list[1] : list[0];
    return true;
  }
};

// A 16-byte address followed by a u32 prefix length.
struct AddressAndPrefix {
  nv::addr6 address;
  uint32_t prefix;
};
static_assert(sizeof(AddressAndPrefix) == 20);

class AddressWithPrefix final : public KeyedElement<nv::addr6_id> {
public:
  AddressWithPrefix(const member& m, nv::addr6_id address, nv::u32_id prefix)
      : KeyedElement(m, memberTypeOf<AddressAndPrefix>(), address), prefix_(prefix) {}
  void pack(nv::message& msg, IObject* obj) const override {
    const void* f = field(obj);
    if (!f)
      return;
    AddressAndPrefix v = readField<AddressAndPrefix>(f);
    msg.set(id_, v.address);
    msg.set(prefix_, v.prefix);
  }
  void unpack(const nv::message& msg, IObject* obj) const override {
    void* f = field(obj);
    if (!f)
      return;
    AddressAndPrefix v = readField<AddressAndPrefix>(f);
    if (msg.has(id_))
      v.address = msg.get(id_);
    v.prefix = msg.get(prefix_, v.prefix);
    if (v.prefix == 0xFFFFFFFF)
      v.prefix = 0;
    writeField(f, v);
  }

private:
  nv::u32_id prefix_;
};

} // namespace

Reference<IPackerElement> createBoolAsNumber(const member& m, nv::u32_id id) {
  return mapped<bool>(m, id, BoolAsNumber{});
}
Reference<IPackerElement> createBool(const member& m, nv::bool_id id) {
  return copied<bool>(m, id);
}
Reference<IPackerElement> createInvertedBool(const member& m, nv::bool_id id) {
  return mapped<bool>(m, id, InvertedBool{});
}
Reference<IPackerElement> createBoolSetOrCleared(const member& m, nv::bool_id id) {
  return mapped<bool>(m, id, BoolSetOrCleared{});
}
Reference<IPackerElement> createFlagBit(const member& m, nv::u32_id id, uint32_t mask) {
  return mapped<bool>(m, id, FlagBit{mask, false});
}
Reference<IPackerElement> createInvertedFlagBit(const member& m, nv::u32_id id, uint32_t mask) {
  return mapped<bool>(m, id, FlagBit{mask, true});
}
Reference<IPackerElement> createBoolAsConstant(const member& m, nv::u32_id id, uint32_t constant) {
  return mapped<bool>(m, id, BoolAsConstant{constant});
}
Reference<IPackerElement> createNumber(const member& m, nv::u32_id id) {
  return copied<uint32_t>(m, id);
}
Reference<IPackerElement> createNumberAsBool(const member& m, nv::bool_id id) {
  return mapped<uint32_t>(m, id, NumberAsBool{});
}
Reference<IPackerElement> createNumberAsList(const member& m, nv::u32_array_id id) {
  return mapped<uint32_t>(m, id, NumberAsList<uint32_t, nv::u32_array_id>{});
}
Reference<IPackerElement> createScaledNumber(const member& m, nv::u32_id id, uint32_t factor) {
  if (factor == 0) {
    logf("ERROR: scale 0 for field ", id.id(), ", using 1");
    factor = 1;
  }
  return mapped<uint32_t>(m, id, ScaledNumber{factor});
}
Reference<IPackerElement> createBigNumber(const member& m, nv::u64_id id) {
  return copied<uint64_t>(m, id);
}
Reference<IPackerElement> createBigNumberAsList(const member& m, nv::u64_array_id id) {
  return mapped<uint64_t>(m, id, NumberAsList<uint64_t, nv::u64_array_id>{});
}
Reference<IPackerElement> createNumberPairAsList(const member& m, nv::u32_array_id id) {
  return mapped<NumberPair>(m, id, NumberPairAsList{});
}
Reference<IPackerElement> createAddress(const member& m, nv::addr6_id id) {
  return copied<nv::addr6>(m, id);
}
Reference<IPackerElement> createAddressWithPrefix(const member& m, nv::addr6_id address,
                                                  nv::u32_id prefix) {
  return Reference<IPackerElement>(new AddressWithPrefix(m, address, prefix));
}
Reference<IPackerElement> createText(const member& m, nv::string_id id) {
  return copied<std::string>(m, id);
}
Reference<IPackerElement> createRawBytes(const member& m, nv::raw_id id) {
  return copied<std::vector<uint8_t>>(m, id);
}
Reference<IPackerElement> createMessage(const member& m, nv::message_id id) {
  return copied<nv::message>(m, id);
}
Reference<IPackerElement> createNumberList(const member& m, nv::u32_array_id id) {
  return copied<std::vector<uint32_t>>(m, id);
}
Reference<IPackerElement> createBigNumberList(const member& m, nv::u64_array_id id) {
  return copied<std::vector<uint64_t>>(m, id);
}
Reference<IPackerElement> createAddressList(const member& m, nv::addr6_array_id id) {
  return copied<std::vector<nv::addr6>>(m, id);
}
Reference<IPackerElement> createTextList(const member& m, nv::string_array_id id) {
  return copied<std::vector<std::string>>(m, id);
}
Reference<IPackerElement> createRawList(const member& m, nv::raw_array_id id) {
  return copied<std::vector<std::vector<uint8_t>>>(m, id);
}

} // namespace kestel
