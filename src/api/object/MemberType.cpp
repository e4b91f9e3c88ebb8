#include "api/object/MemberType.h"

#include "util/Bytes.h"
#include "util/Log.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace kestel {

void member_type::release() const {
  if (refs_ == 0)
    return;
  if (--refs_ == 0)
    lastReleased();
}

namespace {

std::string_view asText(const std::vector<uint8_t>& v) {
  return {reinterpret_cast<const char*>(v.data()), v.size()};
}

template <typename T> void putLittle(std::string& out, T v) {
  for (size_t i = 0; i < sizeof(T); ++i)
    out.push_back(static_cast<char>(static_cast<uint64_t>(v) >> (8 * i)));
}

template <typename T> T getLittle(const char* p) {
  uint64_t v = 0;
  for (size_t i = 0; i < sizeof(T); ++i)
    v |= static_cast<uint64_t>(static_cast<uint8_t>(p[i])) << (8 * i);
  return static_cast<T>(v);
}

// Fields whose type has a constructor are reached through a typed pointer.
template <typename T> class ObjectType : public member_type {
public:
  ObjectType() : member_type(sizeof(T), alignof(T)) {}
  void copy(void* dst, const void* src) const override {
    *static_cast<T*>(dst) = *static_cast<const T*>(src);
  }

protected:
  static T& at(void* field) { return *static_cast<T*>(field); }
  static const T& at(const void* field) { return *static_cast<const T*>(field); }
};

class StringType final : public ObjectType<std::string> {
public:
  void set(void* field, std::string_view bytes) const override { at(field).assign(bytes); }
  std::string get(const void* field) const override { return at(field); }
};

class RawType final : public ObjectType<std::vector<uint8_t>> {
public:
  void set(void* field, std::string_view bytes) const override {
    at(field).assign(bytes.begin(), bytes.end());
  }
  std::string get(const void* field) const override { return std::string(asText(at(field))); }
};

// Vectors of little-endian numbers; a trailing partial element is ignored.
template <typename N> class NumberArrayType final : public ObjectType<std::vector<N>> {
  using Base = ObjectType<std::vector<N>>;

public:
  void set(void* field, std::string_view bytes) const override {
    std::vector<N>& v = Base::at(field);
    v.resize(bytes.size() / sizeof(N));
    for (size_t i = 0; i < v.size(); ++i)
      v[i] = getLittle<N>(bytes.data() + i * sizeof(N));
  }
  std::string get(const void* field) const override {
    std::string out;
    for (N n : Base::at(field))
      putLittle(out, n);
    return out;
  }
};

class AddressArrayType final : public ObjectType<std::vector<nv::addr6>> {
public:
  void set(void* field, std::string_view bytes) const override {
    std::vector<nv::addr6>& v = at(field);
    v.resize(bytes.size() / 16);
    for (size_t i = 0; i < v.size(); ++i)
      std::memcpy(v[i].data(), bytes.data() + i * 16, 16);
  }
  std::string get(const void* field) const override {
    std::string out;
    for (const nv::addr6& a : at(field))
      out.append(reinterpret_cast<const char*>(a.data()), a.size());
    return out;
  }
};

// Lists of byte strings: each element as a u32 little-endian length and its bytes.
template <typename E> class ByteListType final : public ObjectType<std::vector<E>> {
  using Base = ObjectType<std::vector<E>>;

public:
  void set(void* field, std::string_view bytes) const override {
    std::vector<E> parsed;
    ByteReader in(bytes.data(), bytes.size());
    while (!in.atEnd()) {
      uint32_t n = 0;
      ByteSpan part;
      if (!in.u32le(n) || !in.span(n, part))
        return; // malformed: keep the field
      parsed.emplace_back(part.begin(), part.end());
    }
    Base::at(field) = std::move(parsed);
  }
  std::string get(const void* field) const override {
    std::string out;
    for (const E& e : Base::at(field)) {
      putLittle(out, static_cast<uint32_t>(e.size()));
      out.append(reinterpret_cast<const char*>(e.data()), e.size());
    }
    return out;
  }
};

class MessageType final : public ObjectType<nv::message> {
public:
  void set(void* field, std::string_view bytes) const override {
    nv::message m;
    if (m.parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))
      at(field) = std::move(m);
  }
  std::string get(const void* field) const override {
    std::vector<uint8_t> out;
    if (!at(field).flatten(out))
      return {};
    return std::string(asText(out));
  }
};

// Plain values of n bytes, reached only through memcpy so that no alignment is needed.
class GenericType final : public member_type {
public:
  explicit GenericType(uint32_t n) : member_type(n, 1) {}
  void set(void* field, std::string_view bytes) const override {
    if (bytes.size() == size() && size() > 0)
      std::memcpy(field, bytes.data(), size());
  }
  std::string get(const void* field) const override {
    return std::string(static_cast<const char*>(field), size());
  }
  void copy(void* dst, const void* src) const override {
    if (size() > 0)
      std::memmove(dst, src, size());
  }
};

class NumberPairType final : public member_type {
public:
  NumberPairType() : member_type(sizeof(NumberPair), 1) {}
  void set(void* field, std::string_view bytes) const override {
    std::string_view first, second;
    decodePair(bytes, first, second);
    storeNumber(field, 0, first);
    storeNumber(field, 4, second);
  }
  std::string get(const void* field) const override {
    NumberPair p;
    std::memcpy(&p, field, sizeof p);
    std::string a, b;
    putLittle(a, p.first);
    putLittle(b, p.second);
    return encodePair(a, b);
  }
  void copy(void* dst, const void* src) const override {
    std::memmove(dst, src, sizeof(NumberPair));
  }

private:
  // A part that is not exactly four bytes leaves its number unchanged.
  static void storeNumber(void* field, size_t at, std::string_view part) {
    if (part.size() != 4)
      return;
    uint32_t v = getLittle<uint32_t>(part.data());
    std::memcpy(static_cast<char*>(field) + at, &v, 4);
  }
};

// End of the member's field; an extent past 4 GiB saturates so that no record can hold it.
uint32_t extentOf(const member& m) {
  if (!m.type())
    return 0;
  uint64_t end = uint64_t(m.offset()) + m.type()->size();
  return end > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(end);
}

uint32_t alignmentOf(const member& m) { return m.type() ? m.type()->alignment() : 1; }

class PairType final : public member_type {
public:
  PairType(const member& a, const member& b)
      : member_type(std::max(extentOf(a), extentOf(b)), std::max(alignmentOf(a), alignmentOf(b))),
        a_(a), b_(b) {}

  void set(void* field, std::string_view bytes) const override {
    std::string_view first, second;
    decodePair(bytes, first, second);
    if (void* f = sub(field, a_))
      a_.type()->set(f, first);
    if (void* f = sub(field, b_))
      b_.type()->set(f, second);
  }
  std::string get(const void* field) const override {
    const void* fa = sub(field, a_);
    const void* fb = sub(field, b_);
    return encodePair(fa ? a_.type()->get(fa) : std::string(),
                      fb ? b_.type()->get(fb) : std::string());
  }
  void copy(void* dst, const void* src) const override {
    for (const member* m : {&a_, &b_}) {
      void* d = sub(dst, *m);
      const void* s = sub(src, *m);
      if (d && s)
        m->type()->copy(d, s);
    }
  }

protected:
  void lastReleased() const override { delete this; }

private:
  // The member's field inside the composite, or null when it has no type or is misaligned.
  template <typename V> static V* sub(V* field, const member& m) {
    if (!m.type())
      return nullptr;
    uintptr_t p = reinterpret_cast<uintptr_t>(field) + m.offset();
    if (p % m.type()->alignment() != 0)
      return nullptr;
    return reinterpret_cast<V*>(p);
  }

  member a_;
  member b_;
};

template <typename T> const member_type* standard() {
  static const T* type = new T(); // lives for the whole run
  return type;
}

} // namespace

const member_type* mbr_type_string() { return standard<StringType>(); }
const member_type* mbr_type_NumberPair() { return standard<NumberPairType>(); }
const member_type* mbr_type_Raw() { return standard<RawType>(); }
const member_type* mbr_type_Array() { return standard<NumberArrayType<uint32_t>>(); }
const member_type* mbr_type_BigArray() { return standard<NumberArrayType<uint64_t>>(); }
const member_type* mbr_type_AddressArray() { return standard<AddressArrayType>(); }
const member_type* mbr_type_StringArray() { return standard<ByteListType<std::string>>(); }
const member_type* mbr_type_RawArray() { return standard<ByteListType<std::vector<uint8_t>>>(); }
const member_type* mbr_type_Message() { return standard<MessageType>(); }

const member_type* mbr_type_generic(unsigned int n) {
  // Small sizes in a table indexed by size, larger ones in a list; created on first request and
  // never freed, so the pointer is the identity of the field type.
  static std::array<const member_type*, 32> small{};
  static auto* large = new std::vector<const member_type*>();
  if (n < small.size()) {
    if (!small[n])
      small[n] = new GenericType(n);
    return small[n];
  }
  for (const member_type* t : *large)
    if (t->size() == n)
      return t;
  large->push_back(new GenericType(n));
  return large->back();
}

Reference<const member_type> createPairType(const member& first, const member& second) {
  return Reference<const member_type>(new PairType(first, second));
}

Reference<const member_type> createTripleType(const member& a, const member& b, const member& c) {
  Reference<const member_type> rest = createPairType(b, c);
  return createPairType(a, member(0, rest.get()));
}

std::string encodePair(std::string_view first, std::string_view second) {
  if (first.size() > 0xFFFF) {
    logf("ERROR: pair part of ", first.size(), " bytes cut to 65535");
    first = first.substr(0, 0xFFFF);
  }
  std::string out;
  out.reserve(2 + first.size() + second.size());
  putLittle(out, static_cast<uint16_t>(first.size()));
  out.append(first);
  out.append(second);
  return out;
}

void decodePair(std::string_view bytes, std::string_view& first, std::string_view& second) {
  first = bytes;
  second = {};
  if (bytes.size() <= 2)
    return;
  size_t n = getLittle<uint16_t>(bytes.data());
  if (n + 2 > bytes.size())
    return;
  first = bytes.substr(2, n);
  second = bytes.substr(2 + n);
}

} // namespace kestel
