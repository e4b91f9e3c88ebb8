// The session parameters a child reads from its standard input: the input goes through a real
// pipe (length word and body as the parent writes them); whatever is accepted must encode again
// and decode to the same message.
#include "app/ParameterPipe.h"
#include "util/Assert.h"

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  if (size > 60000) // written before it is read: stay within what a pipe holds
    return 0;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return 0;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fds[1], data + done, size - done);
    if (n <= 0)
      break;
    done += size_t(n);
  }
  ::close(fds[1]);
  nv::message m = readSessionParameters(fds[0]);
  ::close(fds[0]);
  (void)decodeSessionParameters(ByteSpan(data, size));
  if (m.empty())
    return 0;
  Bytes again;
  KESTEL_ASSERT(m.flatten(again), "fuzz/session_parameters");
  auto back = decodeSessionParameters(again);
  KESTEL_ASSERT(back.ok() && *back == m, "fuzz/session_parameters");
  return 0;
}
