// The simulator's file store fed a hostile client's requests: each record is a command byte, a
// transfer choice byte, a length byte and that many bytes of an encoded message the request
// starts from. Byte 0 picks the faults. Whatever comes, the store never keeps a transfer it
// refused and never stores a name with an empty, "." or ".." part.
#include "api/net/FileHandler.h"
#include "api/wire/Vocabulary.h"
#include "sim/FileStore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace kestel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  sim::FileStoreOptions options;
  options.capacity = 1u << 20;
  options.diskFull = data[0] & 1;
  options.lieSize = data[0] & 2;
  options.tooMuch = data[0] & 4;
  options.errorAfter = (data[0] & 8) ? 40000 : 0;
  sim::FileStore store(options);
  uint32_t lastId = sim::FileStore::kFirstTransfer;
  for (size_t at = 1; at + 3 <= size;) {
    uint8_t command = data[at], choice = data[at + 1];
    size_t n = std::min<size_t>(data[at + 2], size - at - 3);
    nv::message request;
    (void)request.parse(data + at + 3, n);
    at += 3 + n;
    request.set(SYS_CMD, uint32_t(command % 8));
    if (choice & 1)
      request.set(STD_ID, lastId);
    if (choice & 2)
      request.set(kFileLast, true);
    if (choice & 4) {
      (void)store.list(request);
      continue;
    }
    std::optional<nv::message> reply = store.handle(request);
    if (reply && reply->has(STD_ID))
      lastId = reply->get(STD_ID);
  }
  nv::message getAll;
  getAll.set(SYS_CMD, CMD_GETALL);
  store.list(getAll).forEach(STD_OBJS, [](const nv::message& o) {
    std::string name = o.get(kFileListName);
    if (name.empty() || name.find("//") != std::string::npos || name == ".." ||
        name.rfind("../", 0) == 0 || name.find("/../") != std::string::npos ||
        (name.size() >= 3 && name.compare(name.size() - 3, 3, "/..") == 0))
      std::abort();
  });
  return 0;
}
