#include "sim/LiveValues.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace kestel::sim {

LiveValues::LiveValues(Reactor& reactor, MenuStore& interfaces, LiveOptions options)
    : reactor_(reactor), interfaces_(interfaces), options_(options), random_(options.seed) {
  if (options_.intervalMs > 0)
    timer_ = reactor_.addTimer(
        options_.intervalMs, [this] { step(); }, true);
}

LiveValues::~LiveValues() { reactor_.removeTimer(timer_); }

uint64_t LiveValues::wander(uint64_t rate) {
  // -10 % to +10 % in steps of one percent; an idle link starts again from the least rate.
  int64_t percent = int64_t(random_() % 21) - 10;
  auto moved = int64_t(std::max(rate, kLeastRate)) * (100 + percent) / 100;
  return std::clamp<uint64_t>(uint64_t(moved), kLeastRate, kMostRate);
}

void LiveValues::step() {
  uint64_t ms = std::max<uint32_t>(options_.intervalMs, 1);
  for (size_t i = 0; i < interfaces_.size(); ++i) {
    MenuStore::Id id = interfaces_.idAt(i);
    nv::message object = interfaces_.get(id);
    if (!object.get(kRunning))
      continue;
    uint64_t txRate = object.get(kTxRate), rxRate = object.get(kRxRate);
    uint64_t sent = txRate / 8 * ms / 1000;
    nv::message values;
    values.set(kTxBytes, object.get(kTxBytes) + sent);
    values.set(kTxPackets, object.get(kTxPackets) + sent / kPacketBytes);
    values.set(kTxRate, wander(txRate));
    values.set(kRxRate, wander(rxRate));
    interfaces_.change(id, values);
  }
  int32_t move = int32_t(random_() % 15) - 7;
  load_ = uint32_t(std::clamp<int32_t>(int32_t(load_) + move, 1, 99));
}

int applyLiveOption(LiveOptions& options, int argc, char** argv, int i) {
  std::string arg = argv[i];
  if (arg != "--live-values" && arg != "--live-seed")
    return 0;
  if (i + 1 >= argc)
    return -1;
  const char* text = argv[i + 1];
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (!end || *end || end == text || text[0] == '-' || value > 0xFFFFFFFFul)
    return -1;
  if (arg == "--live-values" && value > 3600000)
    return -1;
  (arg == "--live-values" ? options.intervalMs : options.seed) = uint32_t(value);
  return 2;
}

const char* liveOptionsUsage() {
  return "  live values: --live-values <ms>  interface traffic and CPU load step this often\n"
         "                                   (default 1000; 0: they stay as they are)\n"
         "               --live-seed <n>     the seed of their walk (default 1)\n";
}

} // namespace kestel::sim
