// The ping tool as a router action: started with a target, it makes one echo every second on the
// router's clock; each poll reports the latest echo, and the last one of the run says it has
// finished. A count of 0 pings until the run is cancelled. Nothing is sent on any network: the
// answers are made up (targets outside the documentation and benchmark ranges time out).
#pragma once

#include "api/net/Reactor.h"
#include "sim/RouterLogin.h"

#include <map>
#include <memory>
#include <optional>

namespace kestel::sim {

class PingAction {
public:
  // The request members and the status members of the ping descriptor.
  static constexpr nv::u32_id kTo{0x1}, kInterface{0x2}, kCount{0x3}, kSize{0x4};
  static constexpr nv::u32_id kHost{0x10}, kReplySize{0x11}, kTtl{0x12}, kRtt{0x13};
  static constexpr nv::string_id kStatus{0x14};
  // The most runs kept at once, and the most echoes one run may ask for.
  static constexpr size_t kMaxRuns = 256;
  static constexpr uint32_t kMaxCount = 10000;
  // The time between two echoes of a run.
  static constexpr uint32_t kEchoMs = 1000;

  explicit PingAction(Reactor& reactor) : reactor_(reactor) {}

  std::optional<nv::message> handle(const RouterRequest& request);
  size_t runCount() const { return runs_.size(); }

private:
  struct Run {
    std::weak_ptr<RouterPeer> peer;
    uint32_t to = 0, count = 0, size = 0, sent = 0, received = 0;
    int64_t startedAt = 0;
  };
  nv::message start(const RouterRequest& request);
  nv::message poll(uint32_t id);

  Reactor& reactor_;
  std::map<uint32_t, Run> runs_;
  uint32_t nextId_ = 1;
};

// True for addresses of 192.0.2.0/24 and 198.18.0.0/15 (held first octet in the low byte).
bool simulatedReachable(uint32_t address);

} // namespace kestel::sim
