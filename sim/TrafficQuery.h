// The traffic tool as a router query: a start command opens a run (its id in STD_ID) whose flows
// appear and change every second in a menu of their own; the client fetches or subscribes to
// that menu by adding STD_ID = run id to its requests, and ends the run with the stop command.
// The flows are made up; addresses come from the documentation and benchmark ranges.
#pragma once

#include "api/net/Reactor.h"
#include "sim/MenuHandler.h"
#include "sim/MenuStore.h"

#include <map>
#include <memory>
#include <random>

namespace kestel::sim {

class TrafficQuery {
public:
  static constexpr nv::u32_id kInterface{0x1}, kFilter{0x2}, kFilterMask{0x3};
  static constexpr nv::u32_id kSource{0x10}, kDestination{0x11}, kTx{0x12}, kRx{0x13};
  // Flows kept per run (the oldest goes), runs kept at once, and the tick of a run.
  static constexpr size_t kMaxFlows = 100;
  static constexpr size_t kMaxRuns = 64;
  static constexpr uint32_t kTickMs = 1000;

  TrafficQuery(Reactor& reactor, std::vector<uint32_t> path, const MenuOptions& options);
  ~TrafficQuery();
  TrafficQuery(const TrafficQuery&) = delete;
  TrafficQuery& operator=(const TrafficQuery&) = delete;

  std::optional<nv::message> handle(const RouterRequest& request);
  size_t runCount() const { return runs_.size(); }

private:
  struct Run {
    std::weak_ptr<RouterPeer> peer;
    uint32_t filter = 0, mask = 0; // flows start inside filter/mask (the prefix length)
    std::unique_ptr<MenuStore> flows;
    std::unique_ptr<MenuHandler> handler;
    Reactor::TimerId timer = 0;
  };
  nv::message start(const RouterRequest& request);
  void stop(uint32_t id);
  void tick(uint32_t id);
  uint32_t sourceFor(const Run& run);

  Reactor& reactor_;
  std::vector<uint32_t> path_;
  const MenuOptions& options_;
  std::map<uint32_t, Run> runs_;
  uint32_t nextId_ = 1;
  MenuStore noFlows_; // what the policy table is asked of outside any run
  MenuHandler policies_;
  std::mt19937 random_{7};
};

} // namespace kestel::sim
