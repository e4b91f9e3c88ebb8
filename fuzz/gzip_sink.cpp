// Feeds arbitrary bytes to the gzip file sink in chunks whose sizes come from the first byte;
// when the sink accepts the whole stream its file must hold exactly what it says it wrote, and
// a refused stream must leave no file behind.
#include "app/FileSink.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  size_t step = 1 + data[0] * 37u;
  ++data;
  --size;
  static const std::string path =
      (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : std::string("/tmp")) +
      "/kestel-fuzz-gzip-" + std::to_string(getpid());
  ::unlink(path.c_str());
  std::string error;
  uint64_t written = 0;
  {
    kestel::GzipFileSink sink;
    if (!sink.open(path))
      return 0;
    // The header must arrive whole: the first chunk takes at least 512 bytes when it can.
    size_t at = 0, first = size < 512 ? size : 512;
    for (size_t n = first; at < size && error.empty(); n = step) {
      n = n < size - at ? n : size - at;
      error = sink.write(data + at, n);
      at += n;
    }
    if (error.empty())
      error = sink.write(nullptr, 0);
    written = sink.bytesWritten();
  }
  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (error.empty() != exists || (exists && uint64_t(st.st_size) != written))
    std::abort();
  ::unlink(path.c_str());
  return 0;
}
