// IObject: one router record (an interface, an address, a rule) as a reference-counted object.
// Its fields live in a record, a block of storage that the members' offsets point into; packer
// elements reach fields only through record(), which bounds every access. The object knows its
// router id and its owner (the container or holder that adopted it), nothing about the network.
#pragma once

#include "api/object/MemberType.h"
#include "util/Base.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestel {

class CType;
class IFlag;
class IIcon;
class IPacker;

// The interface number that cast() answers with the object itself.
inline constexpr unsigned int IID_OBJECT = 110;
// A u32 id of 0xFFFFFFFF means "none".
inline constexpr uint32_t NO_ID = 0xFFFFFFFF;

// Lookup keys with the same meaning in every object kind's packer.
inline constexpr uint32_t KEY_DISABLED = 1; // bool: the object is disabled
inline constexpr uint32_t KEY_COMMENT = 4;  // string: the object's comment
inline constexpr uint32_t KEY_SUBTYPE = 5;  // u32: the subtype reported by getSubtype()

// The container or holder that owns objects; it knows their type.
class IObjectOwner {
public:
  virtual std::string getType() const = 0;

protected:
  ~IObjectOwner() = default;
};

// Colour of an object as the toolkit shows it: a system colour index or an RGB value.
struct ObjectColor {
  enum class Kind { System, Rgb };
  Kind kind = Kind::System;
  uint32_t value = 8; // the window-text colour
  friend bool operator==(const ObjectColor&, const ObjectColor&) = default;
};

class IObject : public IBase {
public:
  IBase* cast(unsigned int id) override { return id == IID_OBJECT ? this : nullptr; }

  uint32_t getID() const { return id_; }
  bool hasID() const { return id_ != NO_ID; }
  void setID(uint32_t id) { id_ = id; }
  IObjectOwner* getOwner() const { return owner_; }
  void setOwner(IObjectOwner* owner) { owner_ = owner; }

  // The storage the members' offsets point into; empty when the object has no record.
  std::span<std::byte> record() const { return record_; }
  // The address of the member's field in the record, or null when the member has no type, the
  // field does not lie wholly inside the record, or the address is misaligned for the type.
  void* fieldOf(const member& m) const;

  // The owner's type text; an object without owner is a programming error ("api/object").
  virtual std::string getType() const;
  // The field under lookup key 5 read as a u32, as its four little-endian bytes; empty when the
  // packer has no u32 field there.
  virtual std::string getSubtype() const;
  virtual uint32_t getKeyID() const { return id_; }
  virtual bool canClone() const { return true; }
  virtual bool canRemove() const { return canClone(); }
  // The packer describing this object's members, held by the object or its type.
  virtual IPacker* getPacker() const = 0;
  virtual void setToDefaults() {}
  virtual std::string toString() const { return "unknown"; }
  virtual std::string getName() const { return toString(); }
  virtual std::string getAlias() const { return {}; }
  // Adds the object's flags to `flags` and returns how many it added.
  virtual unsigned int getFlags(std::vector<IFlag*>& flags) const {
    (void)flags;
    return 0;
  }
  virtual IIcon* getIcon() const { return nullptr; }
  virtual ObjectColor getColor() const { return {}; }
  virtual uint32_t getAttrs() const { return 0; }
  virtual uint32_t getParentID() const { return NO_ID; }
  // The descriptor type of objects built from descriptors; null otherwise.
  virtual CType* getCType() const { return nullptr; }

protected:
  IObject() = default;
  // Subclasses hand in their record once they have built it; it must outlive every packer call.
  void setRecord(std::span<std::byte> record) { record_ = record; }

private:
  // The id first: it fills the padding after the reference count.
  uint32_t id_ = NO_ID;
  IObjectOwner* owner_ = nullptr;
  std::span<std::byte> record_;
};

} // namespace kestel
