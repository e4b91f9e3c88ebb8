// The session's live objects as the descriptor model sees them: "object" predicates find objects
// in the maps registered by path, and the computed enumerations over router objects are filled
// and kept current from them:
//   dynamic  every object of the map whose predicate holds: (object id, object name)
//   remap    every object of the map: (object id, the inner enumeration's name of the object's
//            u32 master slot, or the object's name when the inner one has none)
//   query    the command sent once to the path with the parameter nodes as fields of the
//            request, in order: {"k": key, "v": value} sets a u32 (number value), a string (text)
//            or a u32 array (array of numbers) under the key (a number, or a text with base
//            prefix), and {"k": key} alone a bool true; nodes without a usable key add nothing.
//            The values of the reply's u32 arrays "valuesid" and "bvaluesid" become the
//            entries, each named by its decimal text (an error reply gives no entries)
// An enumeration over a path without a registered map stays empty until a map registers for it.
// Enumeration events carry the flag on the last event of each batch.
#pragma once

#include "api/net/Looper.h"

namespace kestel {

// Installs the registry as the current model context's object directory and enumeration source.
void installLiveSources();

// Tells the enumeration source that a map registered for `path` (the registry calls it).
void liveMapRegistered(const Path& path);

} // namespace kestel
