#include "miw/CopiedRows.h"

#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"

namespace kestel {
namespace {

constexpr nv::string_id kKind{0x01};
constexpr nv::message_array_id kObjects{0x02};
constexpr size_t kMaxRows = 65535;

} // namespace

std::vector<uint8_t> writeCopiedRows(const std::string& kind, std::span<IObject* const> objects) {
  if (objects.size() > kMaxRows)
    return {};
  std::vector<nv::message> packed;
  for (IObject* object : objects) {
    IPacker* packer = object ? object->getPacker() : nullptr;
    if (!packer)
      continue;
    nv::message fields;
    packer->pack(fields, object);
    fields.remove(STD_ID); // a pasted object is a new one
    packed.push_back(std::move(fields));
  }
  nv::message rows;
  rows.set(kKind, kind);
  rows.set(kObjects, packed);
  std::vector<uint8_t> out;
  if (!rows.flatten(out))
    return {};
  return out;
}

Expected<CopiedRows> readCopiedRows(std::span<const uint8_t> bytes) {
  bool ok = false;
  nv::message rows = nv::message::fromBytes(bytes, &ok);
  if (!ok || !rows.has(kKind) || !rows.has(kObjects))
    return makeError("The clipboard holds no rows");
  CopiedRows out;
  out.kind = rows.get(kKind);
  rows.forEach(kObjects, [&](const nv::message& m) {
    nv::message fields = m;
    fields.remove(STD_ID);
    out.objects.push_back(std::move(fields));
  });
  return out;
}

} // namespace kestel
