// The values a busy router changes by itself: the traffic of its running interfaces (byte and
// packet counters that grow, transmit and receive rates that wander) and its CPU load. A reactor
// timer steps them; the interface changes go through the menu store like any edit, so open
// subscriptions receive them, and a read of the resources page gives the current load. The walk
// is seeded: the same seed and the same number of steps give the same values.
#pragma once

#include "api/net/Reactor.h"
#include "sim/MenuStore.h"

#include <random>

namespace kestel::sim {

struct LiveOptions {
  uint32_t intervalMs = 1000; // a step this often; 0: the values stay as they are
  uint32_t seed = 1;
};

class LiveValues {
public:
  // Interface members it changes (the interface table's own numbering).
  static constexpr nv::bool_id kRunning{0x6};
  static constexpr nv::u64_id kTxRate{0x8}, kRxRate{0x9}, kTxBytes{0xA}, kTxPackets{0xB};
  // Rates stay within these bounds (bits per second).
  static constexpr uint64_t kLeastRate = 8000, kMostRate = 900000000;
  // The average packet the packet counter grows by.
  static constexpr uint64_t kPacketBytes = 800;

  LiveValues(Reactor& reactor, MenuStore& interfaces, LiveOptions options);
  ~LiveValues();
  LiveValues(const LiveValues&) = delete;
  LiveValues& operator=(const LiveValues&) = delete;

  // One step (the timer calls it): every running interface sends at its transmit rate for one
  // interval, then both its rates move by up to a tenth; the load moves by up to 7 points.
  void step();
  // Percent, within [1, 99].
  uint32_t cpuLoad() const { return load_; }

private:
  uint64_t wander(uint64_t rate);

  Reactor& reactor_;
  MenuStore& interfaces_;
  LiveOptions options_;
  std::mt19937 random_;
  uint32_t load_ = 12;
  Reactor::TimerId timer_ = 0;
};

// Applies the option at argv[i] ("--live-values <ms>", "--live-seed <n>"): how many arguments
// it took, 0 when it is not one of them, -1 when its value is missing or malformed.
int applyLiveOption(LiveOptions& options, int argc, char** argv, int i);
const char* liveOptionsUsage();

} // namespace kestel::sim
