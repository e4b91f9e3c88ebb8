#include "api/net/SessionSupport.h"

#include "api/wire/Vocabulary.h"
#include "util/Log.h"

#include <cstdlib>
#include <sys/random.h>

namespace kestel {
namespace {

std::function<bool(uint8_t*, size_t)>& platformOverride() {
  static std::function<bool(uint8_t*, size_t)> source;
  return source;
}

bool platformRandom(uint8_t* out, size_t n) {
  if (platformOverride())
    return platformOverride()(out, n);
  size_t done = 0;
  while (done < n) {
    ssize_t got = getrandom(out + done, n - done, 0);
    if (got <= 0)
      return false;
    done += size_t(got);
  }
  return true;
}

void weakBytes(uint8_t* out, size_t n) {
  for (size_t i = 0; i < n; ++i)
    out[i] = uint8_t(std::rand());
}

} // namespace

void KeepAlive::sent() {
  reactor_.removeTimer(idle_);
  idle_ = reactor_.addTimer(
      kIdleProbeMs,
      [this] {
        idle_ = 0;
        if (!noAnswer_)
          noAnswer_ = reactor_.addTimer(
              kNoAnswerMs,
              [this] {
                noAnswer_ = 0;
                dead_();
              },
              false);
        probe_();
      },
      false);
}

void KeepAlive::received() {
  reactor_.removeTimer(noAnswer_);
  noAnswer_ = 0;
}

void KeepAlive::stop() {
  reactor_.removeTimer(idle_);
  reactor_.removeTimer(noAnswer_);
  idle_ = noAnswer_ = 0;
}

void addAgentPrefix(nv::message& message, uint32_t agentId) {
  if (agentId == kDirectConnection)
    return;
  std::vector<uint32_t> to = message.get(SYS_TO);
  to.insert(to.begin(), {2u, agentId});
  message.set(SYS_TO, to);
}

std::array<uint8_t, 32> random32() {
  std::array<uint8_t, 32> out{};
  if (!platformRandom(out.data(), out.size())) {
    logLine("CryptAcquireContext failed, generate weak key");
    weakBytes(out.data(), out.size());
  }
  return out;
}

void randomBytes(uint8_t* out, size_t n) {
  if (!platformRandom(out, n))
    weakBytes(out, n);
}

void setPlatformRandomForTests(std::function<bool(uint8_t*, size_t)> source) {
  platformOverride() = std::move(source);
}

} // namespace kestel
