// Rows copied from a table as objects, so that a table of the same kind can add them again: the
// table kind and each object's fields as its packer writes them for the router. The bytes are a
// message of this program's wire format; reading them trusts nothing.
#pragma once

#include "api/object/Object.h"
#include "api/wire/Message.h"
#include "util/Expected.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestel {

// The clipboard format that carries copied rows beside their text.
inline constexpr const char* kCopiedRowsFormat = "application/x-kestel-rows";

struct CopiedRows {
  std::string kind;                 // the table kind the rows were copied from
  std::vector<nv::message> objects; // each object's packed fields, without its id
};

// The objects' packed fields under `kind`; objects without a packer are left out. Empty when
// the rows do not fit one message (more than 65535 rows, or a row beyond the wire's limits):
// such a copy carries its text only.
std::vector<uint8_t> writeCopiedRows(const std::string& kind, std::span<IObject* const> objects);
// Fails for bytes that are not a whole message of copied rows.
Expected<CopiedRows> readCopiedRows(std::span<const uint8_t> bytes);

} // namespace kestel
