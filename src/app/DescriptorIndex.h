// The router's descriptor index ("list"): a run of objects, each followed by a comma, naming the
// files with their size, checksum value and version. Only ".jg" documents and ".png" icon
// sheets are taken; names the cache could not store as one plain file name are refused.
#pragma once

#include "util/Bytes.h"
#include "util/Expected.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

struct IndexEntry {
  std::string name;
  std::string version; // required for every file but icon sheets
  uint32_t size = 0;   // as announced: for progress and totals only
  uint32_t crc = 0;    // as announced: stored and compared, never computed
  bool upToDate = false;
  bool compressed = false; // every file but ".png" travels gzip-compressed
};

inline constexpr const char* kMainDocument = "nimblux.jg";
inline constexpr const char* kCorruptIndex = "corrupted list.gum file";

// A name or version text from the router that can be one file name inside the cache folder:
// not empty, not "." or "..", no "/", "\", ":" or control characters (NUL included).
bool isPlainFileName(std::string_view name);

// Parses the index. Fails with "corrupted list.gum file" when it does not parse, or when the
// main document's version could not name a cache folder. Skipped entries are logged.
Expected<std::vector<IndexEntry>> parseIndex(ByteSpan bytes);

} // namespace kestel
