// String-map records as the settings and export readers take them: every record up to the first
// failure; each whole record must write back to bytes that read back to the same map.
#include "miw/StringMap.h"
#include "util/Assert.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  ByteReader in(data, size);
  StringMap map;
  while (readRecord(in, map, kImportRecordTexts) == RecordRead::Record) {
    Bytes again;
    KESTEL_ASSERT(writeRecord(again, map), "fuzz/string_map_record");
    ByteReader back(again);
    StringMap reread;
    KESTEL_ASSERT(readRecord(back, reread, kSettingsRecordTexts) == RecordRead::Record &&
                      reread == map && back.atEnd(),
                  "fuzz/string_map_record");
  }
  if (auto packed = unpackMap(ByteSpan(data, size))) {
    auto repacked = packMap(*packed);
    KESTEL_ASSERT(repacked.ok(), "fuzz/string_map_record");
    KESTEL_ASSERT(unpackMap(*repacked) == packed, "fuzz/string_map_record");
  }
  return 0;
}
