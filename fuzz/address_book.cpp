// Address-book and export files: opened with no password, with a password taken from the input's
// first bytes, and imported; whatever opens must write back and read back to the same entries.
#include "app/AddressBookFile.h"
#include "util/Assert.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  if (size < 1)
    return 0;
  size_t pwLen = data[0] % 8 < size ? data[0] % 8 : 0;
  std::string password(reinterpret_cast<const char*>(data + 1), pwLen);
  ByteSpan file(data + 1 + pwLen, size - 1 - pwLen);
  (void)readAddressBook(file, "", BookReadMode::Open);
  (void)bookOpensWith(file, password);
  for (auto mode : {BookReadMode::Open, BookReadMode::Import}) {
    BookContents book = readAddressBook(file, password, mode);
    if (book.status != BookStatus::Ok)
      continue;
    auto again = writeAddressBook(book.entries, password, {});
    if (!again)
      continue; // an entry that decodes but exceeds the record limit once re-encoded
    BookContents back = readAddressBook(*again, password, BookReadMode::Open);
    KESTEL_ASSERT(back.status == BookStatus::Ok && back.entries.size() == book.entries.size(),
                  "fuzz/address_book");
  }
  return 0;
}
