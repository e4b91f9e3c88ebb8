// Settings and session files: the registry read of the whole file; what it keeps must write
// back and read back to the same maps.
#include "miw/Settings.h"
#include "util/Assert.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  auto maps = parseSettingsFile(ByteSpan(data, size));
  KESTEL_ASSERT(maps.count(0) == 1, "fuzz/settings_file");
  auto again = parseSettingsFile(formatSettingsFile(maps));
  for (auto& [id, map] : maps)
    map.set("id", packData(id));
  KESTEL_ASSERT(again == maps, "fuzz/settings_file");
  return 0;
}
