#include "api/object/Object.h"

#include "api/object/Packer.h"
#include "util/Assert.h"

namespace kestel {

std::string IObject::getType() const {
  KESTEL_ASSERT(owner_ != nullptr, "api/object");
  return owner_->getType();
}

void* IObject::fieldOf(const member& m) const {
  const member_type* type = m.type();
  if (!type || uint64_t(m.offset()) + type->size() > record_.size())
    return nullptr;
  std::byte* p = record_.data() + m.offset();
  if (reinterpret_cast<uintptr_t>(p) % type->alignment() != 0)
    return nullptr;
  return p;
}

std::string IObject::getSubtype() const {
  IPacker* packer = getPacker();
  uint32_t subtype = 0;
  if (!packer || !packer->getValue(KEY_SUBTYPE, this, subtype))
    return {};
  std::string out(4, '\0');
  for (size_t i = 0; i < 4; ++i)
    out[i] = static_cast<char>(subtype >> (8 * i));
  return out;
}

} // namespace kestel
