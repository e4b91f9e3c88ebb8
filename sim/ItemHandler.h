// The router handler of a single-object page (a settings item such as the DNS or the identity):
// read with its get command, written with its set command (both as the item's descriptor names
// them), and also served as a one-object fetch for status panes.
#pragma once

#include "sim/MenuHandler.h"
#include "sim/MenuStore.h"
#include "sim/RouterLogin.h"

#include <functional>
#include <map>

namespace kestel::sim {

struct ItemShape {
  std::string title{};
  std::vector<uint32_t> path{};
  uint32_t getCommand = CMD_GET;
  uint32_t setCommand = CMD_SET; // 0xFFFFFFFF: the item cannot be written
  uint32_t writePolicy = 0x80;
  std::vector<MemberRule> rules{};
  uint32_t readPolicy = 0x40;
  // Further read-only commands of the page and their fixed answers (an enumeration's values).
  std::map<uint32_t, nv::message> lookups{};
};

class ItemHandler {
public:
  // `live` (when given) refreshes the object's changing members before every read.
  ItemHandler(ItemShape shape, nv::message object, const MenuOptions& options,
              std::function<void(nv::message&)> live = {});

  std::optional<nv::message> handle(const RouterRequest& request);
  const ItemShape& shape() const { return shape_; }
  nv::message& object() { return object_; }

private:
  nv::message current();

  ItemShape shape_;
  nv::message object_;
  const MenuOptions& options_;
  std::function<void(nv::message&)> live_;
};

} // namespace kestel::sim
