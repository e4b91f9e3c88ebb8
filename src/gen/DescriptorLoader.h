// Loads one cached descriptor document: a top-level array (or object) whose object elements are
// services. The text is read in 2048-byte chunks and parsed one top-level element at a time, so
// only that element's tree is held in memory. What each element becomes is the caller's
// builder; elements that are not objects are skipped.
#pragma once

#include "gen/JSNode.h"
#include "util/Expected.h"

#include <functional>
#include <istream>
#include <string>

namespace kestel {

// Builds one service from an element; an error rejects the rest of the document (services
// built from earlier elements stay).
using ServiceBuilder = std::function<Expected<void>(const JSNode& element)>;

inline constexpr size_t kDescriptorChunkBytes = 2048;

// Logs "loading <path>" and loads the file. Fails after logging "could not open <path>" or
// "parse error" (also for a truncated document or bytes after its end), or with the builder's
// error.
[[nodiscard]] Expected<void> loadDescriptorDocument(const std::string& path,
                                                    const ServiceBuilder& build);

// The same from an open stream (no "loading" line); fails as above.
[[nodiscard]] Expected<void> loadDescriptorStream(std::istream& in, const ServiceBuilder& build);

} // namespace kestel
