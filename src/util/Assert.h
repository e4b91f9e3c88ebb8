// Assertions for programming errors only, never for data from the router or from disk.
// A failed assertion logs "ASSERT in <path>:<line>" and aborts the process.
#pragma once

namespace kestel {

// Logs "ASSERT in " + path + ":" + line and aborts. `path` names the module ("api/packer").
[[noreturn]] void assertionFailed(const char* path, int line);

} // namespace kestel

// KESTEL_ASSERT(condition, "api/packer")
#define KESTEL_ASSERT(condition, path)                                                             \
  do {                                                                                             \
    if (!(condition))                                                                              \
      ::kestel::assertionFailed(path, __LINE__);                                                   \
  } while (false)
