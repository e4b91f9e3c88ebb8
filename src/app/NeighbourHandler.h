// The neighbour list served to the loader's "Neighbors" tab: local handler 3, reached through
// the looper like a router handler, so the tab is a plain object map at (0, 3). It answers
// CMD_GETALL with every neighbour's record in STD_OBJS, takes subscriptions, and tells its
// subscribers of every neighbour the table adds or changes. Discovery keeps neighbours between
// scans, so none is ever announced dead. "Refresh" (kRefreshNeighbours) asks discovery for a scan
// now when a refresh function is given.
#pragma once

#include "api/net/Looper.h"
#include "app/LocalSubscribers.h"
#include "app/NeighbourTable.h"

#include <functional>

namespace kestel {

inline constexpr uint32_t kDiscoveryHandlerId = 3;
inline constexpr uint32_t kRefreshNeighbours = 1;

class NeighbourHandler final : public IHandlerHooks, private NeighbourListener {
public:
  // Registers handler 3 of the process-wide looper and listens to `table`, which must outlive it.
  NeighbourHandler(NeighbourTable& table, std::function<void()> refresh = {});
  ~NeighbourHandler() override;
  NeighbourHandler(const NeighbourHandler&) = delete;
  NeighbourHandler& operator=(const NeighbourHandler&) = delete;

  void onRequest(IHandler* handler, const nv::message& request) override;
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}

  size_t subscriberCount() const { return subscribers_.size(); }

private:
  void neighbourAdded(const Neighbour& neighbour) override;
  void neighbourChanged(const Neighbour& neighbour) override;
  std::vector<nv::message> records() const;

  NeighbourTable& table_;
  std::function<void()> refresh_;
  LocalSubscribers subscribers_;
  Reference<IHandler> handler_;
};

} // namespace kestel
