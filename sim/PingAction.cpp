#include "sim/PingAction.h"

#include "api/wire/Vocabulary.h"
#include "sim/MenuHandler.h"

#include <algorithm>

namespace kestel::sim {

bool simulatedReachable(uint32_t address) {
  uint8_t a = address & 0xFF, b = address >> 8 & 0xFF, c = address >> 16 & 0xFF;
  return (a == 192 && b == 0 && c == 2) || (a == 198 && (b == 18 || b == 19));
}

std::optional<nv::message> PingAction::handle(const RouterRequest& request) {
  const nv::message& m = request.message;
  switch (m.get(SYS_CMD)) {
  case CMD_START:
    return start(request);
  case CMD_POLL:
    return poll(m.get(STD_ID, 0xFFFFFFFF));
  case CMD_CANCEL:
    if (!runs_.erase(m.get(STD_ID, 0xFFFFFFFF)))
      return errorReply(ERROR_UNKNOWNID);
    return nv::message();
  default:
    return errorReply(ERROR_NOTIMP);
  }
}

nv::message PingAction::start(const RouterRequest& request) {
  const nv::message& m = request.message;
  std::erase_if(runs_, [](const auto& entry) { return entry.second.peer.expired(); });
  Run run;
  run.peer = request.peer;
  run.to = m.get(kTo);
  run.count = m.get(kCount, 4);
  run.size = m.get(kSize, 56);
  if (run.to == 0)
    return errorReply(ERROR_MISSING, "no address to ping");
  if (run.count > kMaxCount)
    return errorReply(ERROR_FAILED, "Count must be at most " + std::to_string(kMaxCount));
  if (run.size > 65500)
    return errorReply(ERROR_FAILED, "Packet Size must be between 0 and 65500");
  if (runs_.size() >= kMaxRuns)
    return errorReply(ERROR_BUSY, "too many pings running");
  run.startedAt = reactor_.now();
  uint32_t id = nextId_++;
  runs_[id] = run;
  nv::message reply;
  reply.set(STD_ID, id);
  return reply;
}

// The echoes due by now have been made (the first at the start, then one every kEchoMs); a poll
// reports the latest, and the one after the last echo of a counted run ends it.
nv::message PingAction::poll(uint32_t id) {
  auto it = runs_.find(id);
  if (it == runs_.end())
    return errorReply(ERROR_UNKNOWNID);
  Run& run = it->second;
  int64_t due = 1 + (reactor_.now() - run.startedAt) / kEchoMs;
  if (run.count != 0)
    due = std::min<int64_t>(due, run.count);
  const bool replies = simulatedReachable(run.to);
  while (run.sent < due) {
    ++run.sent;
    run.received += replies ? 1 : 0;
  }
  const std::string of = run.count ? " of " + std::to_string(run.count) : std::string();
  nv::message reply;
  reply.set(kHost, run.to);
  if (replies) {
    reply.set(kReplySize, run.size);
    reply.set(kTtl, 64u);
    reply.set(kRtt, 1 + (run.to >> 24) % 7 + run.sent % 3);
    reply.set(kStatus, "echo reply " + std::to_string(run.sent) + of);
  } else {
    reply.set(kStatus, "timeout " + std::to_string(run.sent) + of);
  }
  if (run.count != 0 && run.sent >= run.count) {
    reply.set(kStatus,
              std::to_string(run.sent) + " sent, " + std::to_string(run.received) + " received, " +
                  std::to_string((run.sent - run.received) * 100 / run.sent) + "% packet loss");
    reply.set(kFinished, true);
    runs_.erase(it);
  }
  return reply;
}

} // namespace kestel::sim
