#include "app/RequestPort.h"

#include "api/wire/Vocabulary.h"

namespace kestel {

SessionRequestPort::SessionRequestPort(Reactor& reactor,
                                       std::function<void(const nv::message&)> post)
    : reactor_(reactor), post_(std::move(post)) {}

SessionRequestPort::~SessionRequestPort() {
  for (auto& [id, p] : pending_)
    reactor_.removeTimer(p.timer);
}

uint32_t SessionRequestPort::request(const std::vector<uint32_t>& to, uint32_t command,
                                     nv::message body, ReplyFn onReply) {
  uint32_t id = ++nextId_;
  body.set(SYS_REPLYEXP, true);
  body.set(SYS_REQID, id);
  Reactor::TimerId timer = reactor_.addTimer(
      kReplyTimeoutMs,
      [this, id] {
        nv::message timeout;
        timeout.set(SYS_TYPE, TYPE_REPLY);
        timeout.set(SYS_STATUS, STATUS_ERROR);
        timeout.set(SYS_ERRNO, ERROR_TIMEOUT);
        pending_[id].timer = 0;
        answer(id, timeout);
      },
      false);
  pending_[id] = Pending{std::move(onReply), timer};
  send(to, command, std::move(body));
  return id;
}

void SessionRequestPort::send(const std::vector<uint32_t>& to, uint32_t command, nv::message body) {
  body.set(SYS_TO, to);
  body.set(SYS_FROM, std::vector<uint32_t>{kLocalHandlerId});
  body.set(SYS_CMD, command);
  body.set(SYS_TYPE, TYPE_REQUEST);
  post_(body);
}

void SessionRequestPort::forget(uint32_t requestId) {
  auto it = pending_.find(requestId);
  if (it == pending_.end())
    return;
  reactor_.removeTimer(it->second.timer);
  pending_.erase(it);
}

bool SessionRequestPort::deliver(const nv::message& message) {
  if (message.get(SYS_TYPE) != TYPE_REPLY ||
      message.get(SYS_TO) != std::vector<uint32_t>{kLocalHandlerId})
    return false;
  uint32_t id = message.get(SYS_REQID);
  if (!pending_.count(id))
    return true; // ours, but late or forgotten
  answer(id, message);
  return true;
}

void SessionRequestPort::answer(uint32_t requestId, const nv::message& reply) {
  auto it = pending_.find(requestId);
  if (it == pending_.end())
    return;
  ReplyFn onReply = std::move(it->second.onReply);
  reactor_.removeTimer(it->second.timer);
  pending_.erase(it);
  if (onReply)
    onReply(reply);
}

} // namespace kestel
