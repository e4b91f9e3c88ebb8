#include "api/net/SessionSupport.h"

#include "api/wire/Vocabulary.h"
#include "crypto/Random.h"

#include <sys/random.h>

namespace kestel {
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

void frameRandomBytes(uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = getrandom(out + done, n - done, 0);
    if (got <= 0)
      return weakRandomBytes(out + done, n - done);
    done += size_t(got);
  }
}

} // namespace kestel
