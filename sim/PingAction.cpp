#include "sim/PingAction.h"

#include "api/wire/Vocabulary.h"
#include "sim/MenuHandler.h"

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
  if (run.count < 1 || run.count > kMaxCount)
    return errorReply(ERROR_FAILED, "Count must be between 1 and " + std::to_string(kMaxCount));
  if (run.size > 65500)
    return errorReply(ERROR_FAILED, "Packet Size must be between 0 and 65500");
  if (runs_.size() >= kMaxRuns)
    return errorReply(ERROR_BUSY, "too many pings running");
  uint32_t id = nextId_++;
  runs_[id] = run;
  nv::message reply;
  reply.set(STD_ID, id);
  return reply;
}

// Each poll reports the next echo; the last one also says the run has finished.
nv::message PingAction::poll(uint32_t id) {
  auto it = runs_.find(id);
  if (it == runs_.end())
    return errorReply(ERROR_UNKNOWNID);
  Run& run = it->second;
  ++run.sent;
  nv::message reply;
  reply.set(kHost, run.to);
  if (simulatedReachable(run.to)) {
    ++run.received;
    reply.set(kReplySize, run.size);
    reply.set(kTtl, 64u);
    reply.set(kRtt, 1 + (run.to >> 24) % 7 + run.sent % 3);
    reply.set(kStatus,
              "echo reply " + std::to_string(run.sent) + " of " + std::to_string(run.count));
  } else {
    reply.set(kStatus, "timeout " + std::to_string(run.sent) + " of " + std::to_string(run.count));
  }
  if (run.sent >= run.count) {
    reply.set(kStatus,
              std::to_string(run.sent) + " sent, " + std::to_string(run.received) + " received, " +
                  std::to_string((run.sent - run.received) * 100 / run.sent) + "% packet loss");
    reply.set(kFinished, true);
    runs_.erase(it);
  }
  return reply;
}

} // namespace kestel::sim
