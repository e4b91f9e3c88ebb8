// Rows on the clipboard: whatever the bytes hold, reading them either fails or gives objects
// without an id (a pasted object is always a new one), and reading never crashes.
#include "api/wire/Vocabulary.h"
#include "miw/CopiedRows.h"
#include "util/Assert.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  Expected<CopiedRows> rows = readCopiedRows(std::span<const uint8_t>(data, size));
  if (!rows)
    return 0;
  for (const nv::message& object : rows->objects)
    KESTEL_ASSERT(!object.has(STD_ID), "fuzz/copied_rows");
  return 0;
}
