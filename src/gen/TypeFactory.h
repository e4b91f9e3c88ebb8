// The type factory: builds one type of any container kind from an element of a service's "c"
// list, with its slots and conditions. Errors are the descriptor error texts, already logged.
#pragma once

#include "gen/CType.h"
#include "gen/JSNode.h"
#include "util/Expected.h"

#include <memory>

namespace kestel {

// Fails with "unkown container type <type>" or any error of the type's keys and slots.
[[nodiscard]] Expected<std::unique_ptr<CType>> buildType(const JSNode& element);

} // namespace kestel
