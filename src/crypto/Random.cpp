#include "crypto/Random.h"

#include <cerrno>
#include <cstdlib>
#include <sys/random.h>

#include "util/Log.h"

namespace kestel {

namespace {

bool platformBroken = false;

bool platformRandom(uint8_t* out, size_t n) {
  if (platformBroken)
    return false;
  size_t done = 0;
  while (done < n) {
    ssize_t got = getrandom(out + done, n - done, 0);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

} // namespace

SecureBytes random32() {
  SecureBytes out(32);
  if (platformRandom(out.data(), out.size()))
    return out;
  logLine("CryptAcquireContext failed, generate weak key");
  weakRandomBytes(out.data(), out.size());
  return out;
}

void weakRandomBytes(uint8_t* out, size_t n) {
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>(std::rand());
}

void setPlatformRandomBrokenForTesting(bool broken) { platformBroken = broken; }

} // namespace kestel
