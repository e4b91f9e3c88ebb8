// Parses arbitrary bytes as the router's descriptor index and as a checksum record; every entry
// taken must be a plain file name of a kind the cache stores, with a size.
#include "app/DescriptorCache.h"
#include "app/DescriptorIndex.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestel::Expected<std::vector<kestel::IndexEntry>> r =
      kestel::parseIndex(kestel::ByteSpan(data, size));
  if (r) {
    for (const kestel::IndexEntry& e : *r) {
      bool jg = e.name.size() > 3 && e.name.compare(e.name.size() - 3, 3, ".jg") == 0;
      if (!kestel::isPlainFileName(e.name) || e.size == 0 || (jg && e.version.empty()) ||
          (e.name == kestel::kMainDocument && !kestel::isPlainFileName(e.version)))
        std::abort();
    }
  }
  uint32_t value = 0;
  (void)kestel::parseChecksumRecord(std::string_view(reinterpret_cast<const char*>(data), size),
                                    value);
  return 0;
}
