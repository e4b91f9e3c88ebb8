// The packer of one object kind: an ordered list of elements, each binding one member of the
// object record to one or two message fields. pack() turns an object into a request, unpack() a
// reply or notification back into the object; absent fields keep the object's current values,
// so partial notifications update objects in place. Elements touch a field only when its member
// has the type the element expects and the field lies wholly inside the object's record.
#pragma once

#include "api/object/MemberType.h"
#include "api/object/Object.h"
#include "api/wire/Message.h"
#include "util/Base.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace kestel {

// One element of a packer. Elements are shared between the packers that list them.
class IPackerElement : public IBase {
public:
  // Reads the element's field(s) from the message into the object's field.
  virtual void unpack(const nv::message& msg, IObject* obj) const = 0;
  // Writes the object's field into the message under the element's field(s).
  virtual void pack(nv::message& msg, IObject* obj) const = 0;
  // Whether the message holds the element's (first) field with the element's value kind.
  virtual bool has(const nv::message& msg) const = 0;
  // Removes the element's (first) field from the message and lists its id under SYS_UNSET so
  // that the router clears the value.
  virtual void unset(nv::message& msg) const = 0;
  // Copies `value`, a variable described by `type`, into the field; false (nothing written) when
  // `type` is not the field's type or the field is absent.
  virtual bool setValue(IObject* obj, const void* value, const member_type* type) const = 0;
  // Copies the field into `value`, described by `type`; false (nothing written) as for setValue.
  virtual bool getValue(const IObject* obj, void* value, const member_type* type) const = 0;
};

// Base of the element kinds: holds the member and resolves the object's field before each use.
class PackerElement : public IPackerElement {
public:
  const member& mbr() const { return member_; }
  bool setValue(IObject* obj, const void* value, const member_type* type) const override;
  bool getValue(const IObject* obj, void* value, const member_type* type) const override;

protected:
  // `fieldType` is the type the kind works on; a member of another size is a programming error
  // ("api/packer"), a member of the same size but another type names an absent field.
  PackerElement(const member& m, const member_type* fieldType);
  // The field inside obj's record, or null when the member has another type than the kind's,
  // the field does not lie wholly inside the record, or it is misaligned for its type.
  void* field(const IObject* obj) const;
  // Appends `typedId` to the SYS_UNSET list of the message, creating the list when missing.
  static void recordUnset(nv::message& msg, uint32_t typedId);

private:
  member member_;
  const member_type* fieldType_;
};

class IPacker : public IBase {
public:
  // Lists the element as writable and under the lookup key, then as readable (addReadOnly).
  virtual void add(const Reference<IPackerElement>& element, uint32_t key) = 0;
  // Lists the element under the lookup key among all elements (unpack, lookups) only.
  virtual void addReadOnly(const Reference<IPackerElement>& element, uint32_t key) = 0;
  // Runs every element's unpack in the order the elements were added.
  virtual void unpack(const nv::message& msg, IObject* obj) const = 0;
  // Runs every writable element's pack in the order the elements were added.
  virtual void pack(nv::message& msg, IObject* obj) const = 0;
  // The first element listed under the key, or null.
  virtual IPackerElement* find(uint32_t key) const = 0;
  // Whether some element is listed under the key; isWritable: among the writable ones.
  virtual bool has(uint32_t key) const = 0;
  virtual bool isWritable(uint32_t key) const = 0;

  // Copies a value into the field of the first element under the key; false when there is no
  // such element or the field is absent or of another type than T.
  template <typename T> bool setValue(uint32_t key, IObject* obj, const T& value) const {
    IPackerElement* e = find(key);
    return e && e->setValue(obj, &value, memberTypeOf<T>());
  }
  // Copies the field of the first element under the key into `value`; false (value untouched)
  // as for setValue.
  template <typename T> bool getValue(uint32_t key, const IObject* obj, T& value) const {
    IPackerElement* e = find(key);
    if constexpr (std::is_same_v<T, bool>) {
      uint8_t byte = 0; // a record byte need not be 0 or 1
      if (!e || !e->getValue(obj, &byte, mbr_type_generic(1)))
        return false;
      value = byte != 0;
      return true;
    } else {
      return e && e->getValue(obj, &value, memberTypeOf<T>());
    }
  }
};

// A new empty packer.
Reference<IPacker> createPacker();

// The member naming `field` of the record struct R, typed after the field's C++ type. R must be
// default-constructible (one probe instance gives the offset).
template <typename R, typename F> member memberOf(F R::*field) {
  static const R probe{};
  auto at = reinterpret_cast<const std::byte*>(&(probe.*field));
  return member(static_cast<uint32_t>(at - reinterpret_cast<const std::byte*>(&probe)),
                memberTypeOf<F>());
}

// An object whose record is a plain struct R; members come from memberOf(&R::field). For objects
// written in code (local stores, tests); objects built from descriptors manage their own record.
template <typename R> class RecordObject : public IObject {
public:
  explicit RecordObject(Reference<IPacker> packer = {}) : packer_(std::move(packer)) {
    setRecord(std::as_writable_bytes(std::span<R, 1>(&rec_, 1)));
  }
  IPacker* getPacker() const override { return packer_.get(); }
  R& rec() { return rec_; }
  const R& rec() const { return rec_; }

private:
  R rec_{};
  Reference<IPacker> packer_;
};

} // namespace kestel
