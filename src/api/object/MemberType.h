// Members name the fields of an object record: a byte offset into the record and a shared
// member_type that knows the field's in-memory type, how to turn it into wire bytes and back, and
// how to copy it. Two members hold the same field type exactly when their type pointers are equal;
// packer elements rely on that identity before they touch a field. Nothing here knows where a
// record lives: callers hand in field addresses they have already checked against the record.
#pragma once

#include "api/wire/Message.h"
#include "util/Base.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kestel {

// Descriptor of one in-memory field type. Reference counted; the standard and generic
// descriptors are never freed, composite ones are freed with their last reference.
class member_type {
public:
  member_type(const member_type&) = delete;
  member_type& operator=(const member_type&) = delete;

  // Size in bytes of the field.
  uint32_t size() const { return size_; }
  // Alignment a field address needs before it may be used as this type.
  uint32_t alignment() const { return alignment_; }

  // Stores wire bytes into the field at `field`; malformed bytes leave the field as it is.
  virtual void set(void* field, std::string_view bytes) const = 0;
  // The wire bytes of the field at `field`.
  virtual std::string get(const void* field) const = 0;
  // Copies the field at `src` over the field at `dst`; both hold this type.
  virtual void copy(void* dst, const void* src) const = 0;

  void addRef() const { ++refs_; }
  // Drops one reference; the last one frees a composite descriptor and nothing else.
  void release() const;

protected:
  member_type(uint32_t size, uint32_t alignment) : size_(size), alignment_(alignment) {}
  virtual ~member_type() = default;
  // Called when the last reference goes; static descriptors keep living.
  virtual void lastReleased() const {}

private:
  uint32_t size_;
  uint32_t alignment_;
  mutable uint32_t refs_ = 0;
};

// One field of an object record: where it lies and what type it has. Copying adds a reference
// to the type; a member without type names no field.
class member {
public:
  member() = default;
  member(uint32_t offset, const member_type* type) : offset_(offset), type_(type) {}

  uint32_t offset() const { return offset_; }
  const member_type* type() const { return type_.get(); }

private:
  uint32_t offset_ = 0;
  Reference<const member_type> type_;
};

// Two u32 numbers, the first at the lower address (a range, a low/high pair).
struct NumberPair {
  uint32_t first = 0;
  uint32_t second = 0;
  friend bool operator==(const NumberPair&, const NumberPair&) = default;
};

// Standard field types. Wire bytes: a string's bytes as they are; a NumberPair in the pair
// encoding below with each number as 4 bytes little-endian; raw bytes as they are; u32 and u64
// vectors as their elements little-endian (a trailing partial element is ignored).
const member_type* mbr_type_string();     // std::string
const member_type* mbr_type_NumberPair(); // NumberPair
const member_type* mbr_type_Raw();        // std::vector<uint8_t>
const member_type* mbr_type_Array();      // std::vector<uint32_t>
const member_type* mbr_type_BigArray();   // std::vector<uint64_t>

// Field types of the list and nested-message elements. Wire bytes: addresses 16 bytes each;
// strings and byte strings each as a u32 little-endian length and the bytes (malformed input
// changes nothing); a message in its encoded form (undecodable input changes nothing).
const member_type* mbr_type_AddressArray(); // std::vector<nv::addr6>
const member_type* mbr_type_StringArray();  // std::vector<std::string>
const member_type* mbr_type_RawArray();     // std::vector<std::vector<uint8_t>>
const member_type* mbr_type_Message();      // nv::message

// The shared descriptor of a plain n-byte value; the same pointer for the same n, every time.
// Set copies only when the wire bytes are exactly n long.
const member_type* mbr_type_generic(unsigned int n);

// A field made of two members; their offsets are relative to the composite field's address. Its
// size is the extent of both members, so a record check of the composite covers them. Wire bytes:
// the pair encoding of the two members' bytes.
Reference<const member_type> createPairType(const member& first, const member& second);
// A triple (a, b, c) is the pair of a and the pair (b, c) placed at offset 0.
Reference<const member_type> createTripleType(const member& a, const member& b, const member& c);

// Pair encoding: a u16 little-endian length L of the first part, its L bytes, then the second
// part. A first part longer than 65535 bytes cannot be encoded: it is cut there and an "ERROR:"
// line is logged.
std::string encodePair(std::string_view first, std::string_view second);
// Splits a pair encoding. Input of 2 bytes or less, or whose L runs past the end, comes back whole
// as the first part with an empty second part.
void decodePair(std::string_view bytes, std::string_view& first, std::string_view& second);

// The member type describing a caller's variable of type T (used by typed setValue/getValue).
template <typename T> const member_type* memberTypeOf() {
  if constexpr (std::is_same_v<T, std::string>)
    return mbr_type_string();
  else if constexpr (std::is_same_v<T, NumberPair>)
    return mbr_type_NumberPair();
  else if constexpr (std::is_same_v<T, std::vector<uint8_t>>)
    return mbr_type_Raw();
  else if constexpr (std::is_same_v<T, std::vector<uint32_t>>)
    return mbr_type_Array();
  else if constexpr (std::is_same_v<T, std::vector<uint64_t>>)
    return mbr_type_BigArray();
  else if constexpr (std::is_same_v<T, std::vector<nv::addr6>>)
    return mbr_type_AddressArray();
  else if constexpr (std::is_same_v<T, std::vector<std::string>>)
    return mbr_type_StringArray();
  else if constexpr (std::is_same_v<T, std::vector<std::vector<uint8_t>>>)
    return mbr_type_RawArray();
  else if constexpr (std::is_same_v<T, nv::message>)
    return mbr_type_Message();
  else {
    static_assert(std::is_trivially_copyable_v<T>, "no member type for this field type");
    return mbr_type_generic(sizeof(T));
  }
}

} // namespace kestel
