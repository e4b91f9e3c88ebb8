#include "app/HoplinkNeighbours.h"

#include "api/wire/Vocabulary.h"
#include "miw/ConvertorAddress.h"
#include "util/Log.h"

namespace kestel {

namespace {

// The loader's request handler, which these replies come back to.
constexpr uint32_t kLoaderHandlerId = 2;

} // namespace

const std::vector<std::string>& hoplinkNeighbourColumns() {
  static const std::vector<std::string> columns{"Address",  "Cost",    "Hops",  "Path",  "L2MTU",
                                                "Identity", "Version", "Board", "Active"};
  return columns;
}

std::vector<std::string> hoplinkNeighbourTexts(const nv::message& r) {
  using namespace hoplink_key;
  auto number = [&](nv::u32_id id) { return r.has(id) ? std::to_string(r.get(id)) : ""; };
  return {macText(r.get(kAddress), MacForm::Full),
          number(kCost),
          number(kHops),
          r.get(kPath),
          number(kL2Mtu),
          r.get(kIdentity),
          r.get(kVersion),
          r.get(kBoard),
          r.get(kActive) ? "yes" : "no"};
}

void HoplinkNeighbourList::start(Changed changed) {
  changed_ = std::move(changed);
  logLine("hoplink discovery started");
  request(kHoplinkNeighbourStart, {});
}

void HoplinkNeighbourList::stop() {
  reactor_.removeTimer(std::exchange(refreshTimer_, 0));
  pendingCommand_ = 0;
}

void HoplinkNeighbourList::request(uint32_t command, nv::message m) {
  m.set(SYS_TO, kHoplinkNeighbourHandler);
  m.set(SYS_FROM, std::vector<uint32_t>{kLoaderHandlerId});
  m.set(SYS_CMD, command);
  m.set(SYS_TYPE, TYPE_REQUEST);
  m.set(SYS_REPLYEXP, true);
  m.set(SYS_REQID, ++requestId_);
  pendingCommand_ = command;
  post_(m);
}

void HoplinkNeighbourList::fetch() {
  refreshTimer_ = 0;
  nv::message m;
  m.set(STD_ID, listId_);
  request(CMD_GETALL, std::move(m));
}

bool HoplinkNeighbourList::onMessage(const nv::message& message) {
  bool mine = pendingCommand_ != 0 && message.get(SYS_TYPE) == TYPE_REPLY &&
              message.get(SYS_REQID) == requestId_ &&
              message.get(SYS_TO) == std::vector<uint32_t>{kLoaderHandlerId};
  if (!mine)
    return false;
  uint32_t command = std::exchange(pendingCommand_, 0);
  if (isError(message)) {
    logLine("WARNING: hoplink neighbour list refused");
    return true;
  }
  if (command == kHoplinkNeighbourStart) {
    listId_ = message.get(STD_ID, 0xFFFFFFFF);
    fetch();
    return true;
  }
  std::vector<nv::message> fresh;
  message.forEach(STD_OBJS, [&](const nv::message& record) {
    if (fresh.size() < kMaxHoplinkNeighbours)
      fresh.push_back(record);
  });
  bool same = fresh.size() == list_.size();
  for (size_t i = 0; same && i < fresh.size(); ++i)
    same = fresh[i] == list_[i];
  list_ = std::move(fresh);
  if (!same && changed_)
    changed_();
  refreshTimer_ = reactor_.addTimer(
      kHoplinkRefreshMs, [this] { fetch(); }, false);
  return true;
}

} // namespace kestel
