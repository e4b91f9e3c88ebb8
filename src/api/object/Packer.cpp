#include "api/object/Packer.h"

#include "api/wire/Vocabulary.h"
#include "util/Assert.h"

namespace kestel {

PackerElement::PackerElement(const member& m, const member_type* fieldType)
    : member_(m), fieldType_(fieldType) {
  KESTEL_ASSERT(m.type() && m.type()->size() == fieldType->size(), "api/packer");
}

void* PackerElement::field(const IObject* obj) const {
  if (!obj || member_.type() != fieldType_)
    return nullptr;
  return obj->fieldOf(member_);
}

bool PackerElement::setValue(IObject* obj, const void* value, const member_type* type) const {
  void* f = type == fieldType_ ? field(obj) : nullptr;
  if (!f)
    return false;
  type->copy(f, value);
  return true;
}

bool PackerElement::getValue(const IObject* obj, void* value, const member_type* type) const {
  const void* f = type == fieldType_ ? field(obj) : nullptr;
  if (!f)
    return false;
  type->copy(value, f);
  return true;
}

void PackerElement::recordUnset(nv::message& msg, uint32_t typedId) {
  std::vector<uint32_t> ids = msg.get(SYS_UNSET);
  ids.push_back(typedId);
  msg.set(SYS_UNSET, std::move(ids));
}

namespace {

class GenericPacker final : public IPacker {
public:
  void add(const Reference<IPackerElement>& element, uint32_t key) override {
    writable_.emplace_back(key, element);
    addReadOnly(element, key);
  }
  void addReadOnly(const Reference<IPackerElement>& element, uint32_t key) override {
    all_.emplace_back(key, element);
  }
  void unpack(const nv::message& msg, IObject* obj) const override {
    for (const Entry& e : all_)
      e.second->unpack(msg, obj);
  }
  void pack(nv::message& msg, IObject* obj) const override {
    for (const Entry& e : writable_)
      e.second->pack(msg, obj);
  }
  IPackerElement* find(uint32_t key) const override {
    for (const Entry& e : all_)
      if (e.first == key)
        return e.second.get();
    return nullptr;
  }
  bool has(uint32_t key) const override { return find(key) != nullptr; }
  bool isWritable(uint32_t key) const override {
    for (const Entry& e : writable_)
      if (e.first == key)
        return true;
    return false;
  }

private:
  using Entry = std::pair<uint32_t, Reference<IPackerElement>>;
  std::vector<Entry> all_;
  std::vector<Entry> writable_;
};

} // namespace

Reference<IPacker> createPacker() { return Reference<IPacker>(new GenericPacker()); }

} // namespace kestel
