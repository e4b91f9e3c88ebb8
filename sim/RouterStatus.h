// The router's status objects for the session window's status bar, and its default-configuration
// note (keys and paths in api/wire/StatusVocabulary.h).
//
// The clock status (24, 0) and the system status (24, 2) are read with CMD_GET. The system
// status shares its path with the IPv6 neighbour table: CMD_GET is the status object's, every
// other command the table's (a table is read with CMD_GETALL and CMD_GETOBJ, so the two never
// meet). The note (24, 3) is offered only when the router is started with --default-config and
// until its configuration is removed with status::kRemoveCommand.
#pragma once

#include "api/net/Reactor.h"
#include "sim/MenuStore.h"
#include "sim/RouterLogin.h"

#include <functional>
#include <optional>
#include <vector>

namespace kestel::sim {

class RouterStatus {
public:
  // `uptimeSeconds` tells how long the router has been up; `wallClock` the time of day (seconds
  // since 1970-01-01, the router's local time).
  RouterStatus(std::function<uint32_t()> uptimeSeconds, std::function<int64_t()> wallClock);

  // Offers the note; `configuration` holds the stores that removing it empties.
  void offerDefaultConfig(std::vector<MenuStore*> configuration);
  bool defaultConfigOffered() const { return offered_; }

  std::optional<nv::message> clock(const RouterRequest& request) const;
  // Answers CMD_GET; nothing for the other commands (they belong to the table at the path).
  std::optional<nv::message> system(const RouterRequest& request) const;
  static bool isSystemCommand(const nv::message& request);
  std::optional<nv::message> defaultConfig(const RouterRequest& request);

private:
  std::function<uint32_t()> uptime_;
  std::function<int64_t()> wall_;
  std::vector<MenuStore*> configuration_;
  bool offered_ = false;
};

} // namespace kestel::sim
