// The published test vectors (tests/data/standard-vectors.json), read once per test binary.
#pragma once

#include <nlohmann/json.hpp>

namespace kestel::test {

// The whole vector file; throws when it is missing or not valid JSON.
const nlohmann::json& vectors();

// A text or integer field of the vector file, whichever form it was written in.
long long asNumber(const nlohmann::json& value);

} // namespace kestel::test
