#include "util/Assert.h"

#include "util/Log.h"

#include <cstdio>
#include <cstdlib>

namespace kestel {

void assertionFailed(const char* path, int line) {
  logf("ASSERT in ", path, ":", line);
  std::fprintf(stderr, "ASSERT in %s:%d\n", path, line);
  std::abort();
}

} // namespace kestel
