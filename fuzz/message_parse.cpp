// Feeds arbitrary bytes to the message decoder (both formats). Whatever decodes, even partly, must
// encode, decode again to an equal message, and dump without trouble.
#include "api/wire/Message.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bool ok = false;
  const nv::message m = nv::message::fromBytes({data, size}, &ok);
  std::string text;
  m.dump(text);
  (void)nv::message::equal(m, m.get(nv::message_id(0)));

  // Every decoded value is within the wire limits, so the encoder must accept it.
  std::vector<uint8_t> bytes;
  if (!m.flatten(bytes) || bytes.size() > m.encodedSizeBound())
    std::abort();
  bool again = false;
  const nv::message back = nv::message::fromBytes(bytes, &again);
  if (!again || !nv::message::equal(back, m) || back.size() != m.size())
    std::abort();
  return 0;
}
